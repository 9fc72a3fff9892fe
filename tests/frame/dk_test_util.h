// Small helpers shared by the dossierkit tests.
#pragma once

#include <cstdlib>
#include <string>

#include "test_support.h"

// Name of the Wine prefix the test runs in, so parallel runs in other
// prefixes keep their artifacts apart.
inline std::wstring PrefixTag() {
    const char* prefix = std::getenv("WINE_TEST_PREFIX");
    std::string path = prefix ? prefix : "unknown";
    return testsupport::Widen(path.substr(path.find_last_of('/') + 1));
}

inline std::wstring ArtifactFolder(const std::wstring& group) {
    return testsupport::ArtifactsDir(L"dossierkit\\" + group + L"-" + PrefixTag());
}

inline std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

// The line the stand-in rundll32 records for the upload start.
inline std::string ExpectedUploadLine() {
    return "\"" + testsupport::Narrow(SystemDirectory()) +
           "\\rundll32.exe\" url.dll,FileProtocolHandler https://support.morquaine.com/zrpk/qevscan/\n";
}

// What the stand-in rundll32 recorded; it may still be starting or writing
// when the program that started it is done, so wait up to five seconds.
inline std::string RecordedStart(const std::wstring& recordFile) {
    std::string recorded;
    for (int i = 0; i < 100 && recorded.empty(); ++i, Sleep(50))
        recorded = testsupport::ReadFileBytes(recordFile);
    return recorded;
}
