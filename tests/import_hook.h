// Redirects one of this executable's imports to a hook. The hooks in the
// tests forward to the real function and only record arguments or inject a
// failure; the product code linked into the test keeps calling the platform.
#ifndef PATHDROP_TESTS_IMPORT_HOOK_H
#define PATHDROP_TESTS_IMPORT_HOOK_H

// Replaces the import address of `function` from `dll` in this executable
// with `hook`; returns the address it held (the real function), or nullptr
// when the executable does not import it.
void *HookImport(const char *dll, const char *function, void *hook);

#endif
