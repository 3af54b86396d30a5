// Resource and control identifiers shared by the dialog template, app/ and export/.
#ifndef PATHDROP_RESOURCE_H
#define PATHDROP_RESOURCE_H

#define IDD_MAIN 100

#define IDC_FILELIST 1000
#define IDC_AUTOCLIPBOARD 101
#define IDC_AUTOSEND 102
#define IDC_COPY 103
#define IDC_SEND 106

#endif
