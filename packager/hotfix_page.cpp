// Placeholder until this collector lands: adds nothing.
#include "hotfix_page.h"

int AddHotfixList() { return 0; }
