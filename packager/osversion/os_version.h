#pragma once
#include <windows.h>
#include <string>

// Adds "info\osversion.txt": the Windows name, edition, version numbers and WOW64 state.
int AddOsVersionInfo();

// Puts the readable name of the running Windows into buffer (OS_DISPLAY_UNITS units).
// Returns 1 when it named the system, 0 when the caller should not use the buffer.
int GetOsDisplayString(wchar_t* buffer);

// Appends the edition name Windows reports for version 6.minorVersion, or nothing
// when GetProductInfo does not exist.
void AppendEditionName(wchar_t* buffer, DWORD minorVersion);

// The entry's text as this machine gives it (what AddOsVersionInfo adds).
std::string CollectOsVersionText();
