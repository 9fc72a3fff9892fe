// The collectors' gathering in the shared test prefixes, which are left as Wine made them.
#include "machine_identity.h"
#include "os_version.h"
#include "os_version_format.h"
#include "service_status.h"
#include "shared_helpers.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(OsVersionGathering, EntryForThePrefixDefaultWindows7) {
    bool is64 = sysfacts::PrefixIs64Bit();
    // Wine reports 6.1.7601 Service Pack 1, a workstation without suite bits, edition 28.
    std::string display = std::string("Windows 7 Ultimate N, ") + (is64 ? "64-bit" : "32-bit") +
                          " Service Pack 1 (build 7601)";
    std::string expected = sysfacts::WineOsVersionEntry(display, 6, 1, 1, 7601, 1, is64);
    EXPECT_EQ(expected, CollectOsVersionText());
}

TEST(OsVersionGathering, DisplayStringAndEditionLookups) {
    wchar_t display[OS_DISPLAY_UNITS] = {};
    ASSERT_EQ(1, GetOsDisplayString(display));
    EXPECT_EQ(0, wcsncmp(display, L"Windows 7 Ultimate N, ", 22)) << testsupport::Narrow(display);

    wchar_t edition[OS_DISPLAY_UNITS] = L"Windows 8 ";
    AppendEditionName(edition, 2);
    EXPECT_EQ(std::wstring(L"Windows 8 Ultimate N"), edition);
}

TEST(OsVersionGathering, Wow64FlagFollowsThePrefix) {
    BOOL expected = sysfacts::PrefixIs64Bit() ? TRUE : FALSE;
    EXPECT_EQ(expected, QueryWow64Process());
    EXPECT_EQ(expected, QueryWow64Process());  // the cached address gives the same answer
}

TEST(ComputerNameGathering, ProbeCodeAndAllEightNames) {
    // Wine exports the rename function only as a stub that raises; the probe then
    // counts as not supported instead of ending the program.
    EXPECT_EQ(50u, ProbeDomainMembership());

    std::vector<std::string> lines = sysfacts::SplitLines(CollectComputerNameText());
    ASSERT_EQ(9u, lines.size());
    EXPECT_EQ("Is Domain:                     0 (Code: 0x32)", lines[0]);
    const char* computerName = std::getenv("COMPUTERNAME");
    ASSERT_NE(nullptr, computerName);
    EXPECT_EQ(std::string("NetBIOS:                       ") + computerName, lines[1]);
    EXPECT_EQ(std::string("Physical NetBIOS:              ") + computerName, lines[5]);
    const char* labels[] = {"DNS hostname:                  ", "DNS domain:                    ",
                            "DNS fully-qualified:           "};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0u, lines[2 + i].find(labels[i])) << lines[2 + i];
        EXPECT_EQ(lines[2 + i].substr(31), lines[6 + i].substr(31)) << "physical and plain forms agree";
    }
    EXPECT_EQ(0u, lines[8].find("Physical DNS fully-qualified:  "));
    std::string hostname = lines[2].substr(31);
    EXPECT_EQ(0u, lines[4].substr(31).find(hostname)) << "fully-qualified name begins with the host name";
}

TEST(ServiceStatusGathering, ServicesThatAreNotInstalled) {
    for (const char* name : {"zrpk_no_such_service", "wendroxhlp", "wendroxsrv", "qevusbsrv"})
        EXPECT_EQ(std::string("SVC Name:    ") + name + "\r\nOpen SCM:    Success\r\nOpen SVC:    Error\r\n",
                  CollectServiceStatusText(name));
}

TEST(VmGathering, WinePrefixShowsNoHypervisor) {
    EXPECT_EQ(VM_NONE, DetectVirtualMachine());
    EXPECT_EQ("VM: Unknown\r\n", CollectVmText());
}

}  // namespace
