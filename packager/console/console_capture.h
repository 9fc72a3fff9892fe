#pragma once

#include <windows.h>
#include <string>

// Runs a console command line hidden and appends everything it writes to its
// standard output and standard error, as the bytes came, to output.
void CaptureCommandOutput(const wchar_t* commandLine, std::string& output);

// Reads the product's "InstallDir" (REG_SZ only) into the caller's zero-filled
// buffer; size is the buffer's byte size going in and the value's size coming
// out. Returns 1 when the buffer holds a terminated directory path, else 0.
int ReadInstallDir(wchar_t* buffer, DWORD& size);

// Backs up the named event log into a temporary file and adds that file as
// entryName. Returns 1 when the entry was added.
int AddEventLogBackup(const wchar_t* entryName, const wchar_t* logName);

// How long a child may go on running after its output has ended.
const DWORD CAPTURE_EXIT_WAIT_MS = 15000;
