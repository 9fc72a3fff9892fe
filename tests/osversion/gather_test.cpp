// OS version gathering in the shared test prefixes, which are left as Wine made them.
#include "os_version.h"
#include "os_version_format.h"
#include "shared_helpers.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

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

}  // namespace
