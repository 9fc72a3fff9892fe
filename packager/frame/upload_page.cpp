#include "upload_page.h"

#include <windows.h>

#include <cstring>

#include "user_places.h"

const char UPLOAD_PAGE_ADDRESS[] = "https://support.morquaine.com/zrpk/qevscan/";

std::wstring UploadOfferText() {
    std::wstring text =
        L"The ZRPK file 'Morquaine-QEVSCAN.zrpk' was successfully created and placed on your "
        L"Desktop.\r\n\r\nThis file has to be uploaded using the webform at ";
    for (const char* c = UPLOAD_PAGE_ADDRESS; *c != '\0'; ++c)
        text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    text += L"\r\nDo you want to upload this file now ?";
    return text;
}

std::string UploadCommandLine(const char* systemDirectory) {
    // The full path, so that no rundll32.exe from the program's own folder or
    // the search path runs with our administrator rights.
    return std::string("\"") + systemDirectory + "\\rundll32.exe\" url.dll,FileProtocolHandler " +
           UPLOAD_PAGE_ADDRESS;
}

namespace {

void CloseProcessHandles(const PROCESS_INFORMATION& process) {
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
}

bool StartWithToken(HANDLE token, const std::string& commandLine) {
    // The wide form of the same line, converted as the 8-bit start converts it.
    int units = MultiByteToWideChar(CP_ACP, 0, commandLine.c_str(), -1, nullptr, 0);
    if (units <= 0)
        return false;
    std::wstring wideLine(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, commandLine.c_str(), -1, &wideLine[0], units);
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    BOOL started = CreateProcessWithTokenW(token, 0, nullptr, &wideLine[0], 0, nullptr, nullptr, &startup,
                                           &process);
    CloseProcessHandles(process);
    return started != FALSE;
}

bool StartWithOwnToken(std::string commandLine) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseProcessHandles(process);
    return started != FALSE;
}

TOKEN_ELEVATION_TYPE OwnElevationType() {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return TokenElevationTypeFull;  // unknown: take the careful answer
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size))
        type = TokenElevationTypeFull;
    CloseHandle(token);
    return type;
}

}  // namespace

TOKEN_ELEVATION_TYPE (*queryOwnElevationType)() = OwnElevationType;

UploadStart OpenUploadPage() {
    char systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return UPLOAD_NOT_STARTED;
    std::string commandLine = UploadCommandLine(systemDirectory);
    // The browser runs as the user of the desktop shell, not as administrator:
    // it is the user's own default handler and may be installed per user.
    HANDLE shellToken = ShellUserToken();
    if (shellToken != nullptr) {
        bool started = StartWithToken(shellToken, commandLine);
        CloseHandle(shellToken);
        return started ? UPLOAD_STARTED_AS_SHELL_USER : UPLOAD_NOT_STARTED;
    }
    // No shell to take the identity from. This program's own identity will do
    // only where there is no lower one: UAC off, or the built-in Administrator.
    // A split administrator token would give the browser, and the handler the
    // user may register in HKCU, full rights: then nothing is started.
    if (queryOwnElevationType() == TokenElevationTypeFull)
        return UPLOAD_NOT_STARTED;
    return StartWithOwnToken(commandLine) ? UPLOAD_STARTED_AS_PROGRAM : UPLOAD_NOT_STARTED;
}
