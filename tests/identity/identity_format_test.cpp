// Tables for the computer-name and virtual-machine entries.
#include "identity.h"
#include "identity_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ComputerNameEntry, DomainLineFromTheProbeCode) {
    struct Row { DWORD code; const char* line; };
    const Row rows[] = {
        {2692, "Is Domain:                     0 (Code: 0xA84)\r\n"},
        {2698, "Is Domain:                     0 (Code: 0xA8A)\r\n"},
        {50, "Is Domain:                     0 (Code: 0x32)\r\n"},
        {0, "Is Domain:                     1 (Code: 0x0)\r\n"},
        {5, "Is Domain:                     1 (Code: 0x5)\r\n"},
        {2691, "Is Domain:                     1 (Code: 0xA83)\r\n"},
        {0xFFFFFFFF, "Is Domain:                     1 (Code: 0xFFFFFFFF)\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.line, FormatComputerNameEntry(row.code, {})) << row.code;
}

TEST(ComputerNameEntry, AllEightNamesWithTheirLabels) {
    std::vector<std::string> names = {"HOST", "host", "", "host", "HOST", "host", "corp.example", "host.corp.example"};
    EXPECT_EQ("Is Domain:                     0 (Code: 0xA84)\r\n"
              "NetBIOS:                       HOST\r\n"
              "DNS hostname:                  host\r\n"
              "DNS domain:                    \r\n"
              "DNS fully-qualified:           host\r\n"
              "Physical NetBIOS:              HOST\r\n"
              "Physical DNS hostname:         host\r\n"
              "Physical DNS domain:           corp.example\r\n"
              "Physical DNS fully-qualified:  host.corp.example\r\n",
              FormatComputerNameEntry(2692, names));
}

TEST(ComputerNameEntry, NamesStopAtTheFirstKindThatFails) {
    for (int failing = 0; failing <= COMPUTER_NAME_KINDS; ++failing) {
        std::vector<int> asked;
        std::vector<std::string> names = CollectNamesUntilFailure([&](int kind, std::string* name) {
            asked.push_back(kind);
            if (kind == failing || kind == failing + 2)
                return false;
            *name = "N" + std::to_string(kind);
            return true;
        });
        size_t expectedNames = static_cast<size_t>(failing);
        ASSERT_EQ(expectedNames, names.size()) << failing;
        // Nothing is asked after the failing kind.
        EXPECT_EQ(std::min(failing + 1, COMPUTER_NAME_KINDS), static_cast<int>(asked.size()));
        std::string entry = FormatComputerNameEntry(0, names);
        size_t lines = 0;
        for (size_t at = entry.find("\r\n"); at != std::string::npos; at = entry.find("\r\n", at + 2))
            ++lines;
        EXPECT_EQ(1 + expectedNames, lines) << entry;
    }
}

TEST(VmEntry, LineForEveryKind) {
    struct Row { int32_t kind; const char* text; };
    const Row rows[] = {
        {VM_XEN, "VM: XEN\r\n"}, {VM_VMWARE, "VM: VMWare\r\n"}, {VM_VIRTUALBOX, "VM: VirtualBox\r\n"},
        {VM_VIRTUALPC, "VM: VirtualPC\r\n"}, {VM_QEMU, "VM: Unknown\r\n"}, {VM_NONE, "VM: Unknown\r\n"},
        {1, "VM: Unknown\r\n"}, {7, "VM: Unknown\r\n"}, {-1, "VM: Unknown\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.text, FormatVmEntry(row.kind)) << row.kind;
}

TEST(VmProbes, PciNamesCompareTheirFirst17CharactersExactly) {
    const wchar_t* const patterns[] = {L"VEN_80EE&DEV_BEEF", L"VEN_80EE&DEV_CAFE"};
    struct Row { const wchar_t* name; bool matches; };
    const Row rows[] = {
        {L"VEN_80EE&DEV_CAFE", true},
        {L"VEN_80EE&DEV_CAFE&SUBSYS_00000000&REV_00", true},
        {L"VEN_80EE&DEV_BEEF&SUBSYS_00000000&REV_00", true},
        {L"ven_80ee&dev_cafe&subsys_00000000&rev_00", false},
        {L"VEN_80EE&DEV_CAF", false},
        {L"VEN_80EE&DEV_CAFF", false},
        {L"XVEN_80EE&DEV_CAFE", false},
        {L"", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.matches, PciNameMatches(row.name, patterns, 2)) << testing::PrintToString(std::wstring(row.name));
}

TEST(VmProbes, BytePatternAnywhereInTheValue) {
    const char pattern[] = "VMware, Inc.\0VM";
    const size_t length = sizeof(pattern) - 1;
    ASSERT_EQ(15u, length);
    std::string exact(pattern, length);
    struct Row { const char* what; std::string data; bool found; };
    const Row rows[] = {
        {"exactly the pattern", exact, true},
        {"at the start", exact + "ware7,1", true},
        {"ending at the last byte", std::string("\x01\x1b\x00VMwar", 8) + exact, true},
        {"one byte short", exact.substr(0, 14), false},
        {"cut at the end", std::string("xyz") + exact.substr(0, 14), false},
        {"other product", std::string("VMware, Inc.\0XY", 15), false},
        {"no NUL between", std::string("VMware, Inc. VM"), false},
        {"empty", std::string(), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.found, ContainsBytes(reinterpret_cast<const unsigned char*>(row.data.data()),
                                           row.data.size(), pattern, length))
            << row.what;
}

}  // namespace
