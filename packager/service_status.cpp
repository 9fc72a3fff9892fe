// Placeholder until this collector lands: adds nothing.
#include "service_status.h"

int AddServiceStatus(const char*, const wchar_t*) { return 0; }
