// The collectors' entries in a real package; check_sysfacts_archives.py reads it back.
#include "identity.h"
#include "os_version.h"
#include "service.h"
#include "sysfacts_test_util.h"
#include "ziparchive.h"

#include <gtest/gtest.h>

namespace {

TEST(SysfactsArchive, EveryCollectorAddsItsEntry) {
    std::wstring folder = testsupport::ArtifactsDir(sysfacts::PrefixIs64Bit() ? L"sysfacts\\win64" : L"sysfacts\\win32");
    std::wstring path = folder + L"\\facts.zrpk";
    DeleteFileW(path.c_str());
    packageArchive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, packageArchive);
    EXPECT_EQ(1, AddOsVersionInfo());
    EXPECT_EQ(1, AddComputerNameInfo());
    EXPECT_EQ(1, AddVmInfo());
    // The worker's service table.
    EXPECT_EQ(1, AddServiceStatus("wendroxhlp", L"info\\svwendroxhlp.txt"));
    EXPECT_EQ(1, AddServiceStatus("wendroxsrv", L"info\\svwendroxsrv.txt"));
    EXPECT_EQ(1, AddServiceStatus("qevusbsrv", L"info\\svqevusbsrv.txt"));
    EXPECT_EQ(ARC_OK, CloseArchive(packageArchive));
    packageArchive = nullptr;
}

TEST(SysfactsArchive, FailedAddsReportZero) {
    packageArchive = nullptr;
    EXPECT_EQ(0, AddOsVersionInfo());
    EXPECT_EQ(0, AddComputerNameInfo());
    EXPECT_EQ(0, AddVmInfo());
    EXPECT_EQ(0, AddServiceStatus("qevusbsrv", L"info\\svqevusbsrv.txt"));
}

}  // namespace
