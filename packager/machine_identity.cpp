// Placeholder until this collector lands: adds nothing.
#include "machine_identity.h"

int AddComputerNameInfo() { return 0; }
int AddVmInfo() { return 0; }
