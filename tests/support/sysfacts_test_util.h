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

// The OS version entry as Wine's version settings give it: no suite bits, no
// service-pack minor number, a workstation or a server.
inline std::string WineOsVersionEntry(const std::string& display, unsigned major, unsigned minor,
                                      unsigned servicePack, unsigned build, unsigned productType,
                                      bool is64) {
    const char* typeName = productType == 1 ? "WORKSTATION" : "SERVER";
    std::string flag = is64 ? "1" : "0";
    return "Operating System:  " + display + "\r\n" +
           "Suitemask:         0x0 ( )\r\n" +
           "MajorVersion:      " + std::to_string(major) + "\r\n" +
           "MinorVersion:      " + std::to_string(minor) + "\r\n" +
           "ServicePackMajor:  " + std::to_string(servicePack) + "\r\n" +
           "ServicePackMinor:  0\r\n" +
           "BuildNumber:       " + std::to_string(build) + "\r\n" +
           "PlatformId:        2\r\n" +
           "ProductType:       " + std::to_string(productType) + " ( " + typeName + " )\r\n" +
           "Is64BitOS:         " + flag + "\r\n" +
           "IsWow64Process:    " + flag + "\r\n";
}

}  // namespace sysfacts
