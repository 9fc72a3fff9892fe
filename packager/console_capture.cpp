// Placeholder until this collector lands: adds nothing.
#include "console_capture.h"

void CaptureCommandOutput(const wchar_t*, std::string&) {}
int ReadInstallDir(wchar_t*, DWORD&) { return 0; }
int AddEventLogBackup(const wchar_t*, const wchar_t*) { return 0; }
