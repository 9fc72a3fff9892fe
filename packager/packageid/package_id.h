#pragma once

#include <string>

// Add "info\zrpk.txt" and "info\windir.txt"; 1 when the add succeeded.
int AddPackageIdInfo();
int AddWindowsDirInfo();

// The entries' texts.
std::string FormatPackageIdText();
std::string FormatWindowsDirText(const char* windowsDirectory, const char* systemWindowsDirectory);
