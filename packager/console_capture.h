#pragma once

#include <windows.h>
#include <string>
// Runs a console command hidden and appends what it writes to output.
void CaptureCommandOutput(const wchar_t* commandLine, std::string& output);
// Reads "InstallDir" (REG_SZ only) into a 260-character buffer.
int ReadInstallDir(wchar_t* buffer, DWORD& size);
// Backs up an event log to a temporary file and adds it.
int AddEventLogBackup(const wchar_t* entryName, const wchar_t* logName);
