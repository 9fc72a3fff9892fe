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
