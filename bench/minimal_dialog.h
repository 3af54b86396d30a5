// Identifiers of the minimal dialog program's template.
#ifndef PATHDROP_BENCH_MINIMAL_DIALOG_H
#define PATHDROP_BENCH_MINIMAL_DIALOG_H

#define IDD_MINIMAL 100

#endif
