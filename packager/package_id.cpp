// Placeholder until this collector lands: adds nothing.
#include "package_id.h"

int AddPackageIdInfo() { return 0; }
int AddWindowsDirInfo() { return 0; }
