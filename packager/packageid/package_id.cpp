#include "package_id.h"

#include <windows.h>

#include <cstring>
#include <sstream>

#include "shared_helpers.h"
#include "ziparchive.h"

namespace {

const UINT DIRECTORY_BUFFER_SIZE = 260;

// The buffer up to its first NUL, never past its end.
std::string BufferText(const char* buffer) {
    return std::string(buffer, strnlen(buffer, DIRECTORY_BUFFER_SIZE));
}

}  // namespace

std::string FormatPackageIdText() {
    std::ostringstream text;
    text << "ZRPK-Identifier:  QEV-SCAN\r\n";
    return text.str();
}

std::string FormatWindowsDirText(const char* windowsDirectory, const char* systemWindowsDirectory) {
    std::ostringstream text;
    text << "GetWindowsDirectory:        " << windowsDirectory << "\r\n";
    text << "GetSystemWindowsDirectory:  " << systemWindowsDirectory << "\r\n";
    return text.str();
}

int AddPackageIdInfo() {
    return AddMemoryEntry(L"info\\zrpk.txt", FormatPackageIdText());
}

int AddWindowsDirInfo() {
    // A call that fails, or whose path does not fit, leaves its buffer empty.
    char systemWindowsDirectory[DIRECTORY_BUFFER_SIZE] = {};
    char windowsDirectory[DIRECTORY_BUFFER_SIZE] = {};
    GetSystemWindowsDirectoryA(systemWindowsDirectory, DIRECTORY_BUFFER_SIZE);
    GetWindowsDirectoryA(windowsDirectory, DIRECTORY_BUFFER_SIZE);
    std::string text = FormatWindowsDirText(BufferText(windowsDirectory).c_str(),
                                            BufferText(systemWindowsDirectory).c_str());
    return AddMemoryEntry(L"info\\windir.txt", text);
}
