// Placeholder until this collector lands: adds nothing.
#include "registry_export.h"

int AddRegistryExport(const wchar_t*, const wchar_t*, int) { return 0; }
