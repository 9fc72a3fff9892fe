// Placeholder until this collector lands: adds nothing.
#include "os_version.h"

int AddOsVersionInfo() { return 0; }
