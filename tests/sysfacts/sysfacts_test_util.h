// Small helpers shared by the system-facts tests.
#pragma once
#include "test_support.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace sysfacts {

// Whether the test prefix is a 64-bit one, as the prefix script recorded it.
inline bool PrefixIs64Bit() {
    const char* prefix = std::getenv("WINE_TEST_PREFIX");
    if (prefix == nullptr)
        return false;
    std::string arch = testsupport::ReadFileBytes(testsupport::FromUnixPath(std::string(prefix) + "/winearch"));
    return arch.compare(0, 5, "win64") == 0;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line end>");
    return lines;
}

}  // namespace sysfacts
