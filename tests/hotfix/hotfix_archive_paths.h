#pragma once
// Where the hotfix tests leave their archives for the host-side check:
// <artifacts>\hotfix\<prefix name>\<file>, fresh for every run.
#include <windows.h>

#include <string>

#include "test_support.h"

inline std::wstring HotfixArchivePath(const std::wstring& fileName) {
    wchar_t prefix[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"WINE_TEST_PREFIX", prefix, MAX_PATH);
    std::wstring name = (length > 0 && length < MAX_PATH) ? prefix : L"unknown";
    size_t slash = name.find_last_of(L"/\\");
    if (slash != std::wstring::npos)
        name = name.substr(slash + 1);
    std::wstring path = testsupport::ArtifactsDir(L"hotfix\\" + name) + L"\\" + fileName;
    DeleteFileW(path.c_str());
    return path;
}
