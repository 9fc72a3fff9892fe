#include "upload_page.h"

#include <windows.h>

#include <cstring>

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

void OpenUploadPage() {
    char systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    std::string commandLine = UploadCommandLine(systemDirectory);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &process);
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
}
