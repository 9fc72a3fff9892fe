// Placeholder until this collector lands: adds nothing.
#include "user_files.h"

bool AddDirectoryFiles(const wchar_t*) { return true; }
