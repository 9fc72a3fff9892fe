// The OS version entry after the private prefix is set to other Windows versions.
// Each version is read by a fresh process, with and without the compatibility manifest.
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

namespace {

struct VersionRow {
    const wchar_t* name;       // winecfg's name
    bool accepted64, accepted32;
    const char* display64;     // line 1 value for the manifested program; nullptr: as display32
    const char* display32;
    unsigned major, minor, servicePack, build, productType;
};

// What Wine 8 reports for each setting; editions are 28 (workstations) and 7 (servers).
const VersionRow rows[] = {
    {L"win10", true, true, " (build 18362)", " (build 18362)", 10, 0, 0, 18362, 1},
    {L"win81", true, true, " (build 9600)", " (build 9600)", 6, 3, 0, 9600, 1},
    {L"win8", true, true, "Windows 8 Ultimate N, 64-bit (build 9200)",
     "Windows 8 Ultimate N, 32-bit (build 9200)", 6, 2, 0, 9200, 1},
    {L"win2008r2", true, true, "Windows Server 2008 R2Standard, 64-bit Service Pack 1 (build 7601)",
     "Windows Server 2008 R2Standard, 32-bit Service Pack 1 (build 7601)", 6, 1, 1, 7601, 3},
    {L"win2008", true, true, "Windows Server 2008 Standard, 64-bit Service Pack 2 (build 6002)",
     "Windows Server 2008 Standard, 32-bit Service Pack 2 (build 6002)", 6, 0, 2, 6002, 3},
    {L"vista", true, true, "Windows Vista Ultimate N, 64-bit Service Pack 2 (build 6002)",
     "Windows Vista Ultimate N, 32-bit Service Pack 2 (build 6002)", 6, 0, 2, 6002, 1},
    {L"win2003", true, true, "Windows Server 2003, Standard x64 Edition Service Pack 2 (build 3790)",
     "Windows Server 2003, Standard Edition Service Pack 2 (build 3790)", 5, 2, 2, 3790, 3},
    {L"winxp64", true, false, "Windows XP Professional x64 Edition Service Pack 2 (build 3790)", nullptr,
     5, 2, 2, 3790, 1},
    {L"winxp", false, true, nullptr, "Windows XP Professional Service Pack 3 (build 2600)", 5, 1, 3, 2600, 1},
    {L"win2k", false, true, nullptr, "Windows 2000 Professional Service Pack 4 (build 2195)", 5, 0, 4, 2195, 1},
    {L"nt40", false, true, nullptr, "UNKNOWN", 4, 0, 6, 1381, 1},
    {L"win7", true, true, "Windows 7 Ultimate N, 64-bit Service Pack 1 (build 7601)",
     "Windows 7 Ultimate N, 32-bit Service Pack 1 (build 7601)", 6, 1, 1, 7601, 1},
};

std::string ProbeOutput(const wchar_t* program) {
    testsupport::ProcessResult run = testsupport::RunCommand(L"\"" + testsupport::BuiltProgram(program) + L"\"");
    EXPECT_TRUE(run.started) << testsupport::Narrow(program);
    EXPECT_EQ(0u, run.exitCode);
    return run.output;
}

// Not through a captured pipe: winecfg may start the desktop process, which would
// inherit the pipe and keep it open.
int SetWindowsVersion(const wchar_t* name) {
    HANDLE process = testsupport::StartProcess(std::wstring(L"winecfg.exe /v ") + name);
    if (process == nullptr)
        return -1;
    DWORD code = testsupport::WaitForExit(process, 60000);
    CloseHandle(process);
    return static_cast<int>(code);
}

class WindowsVersions : public ::testing::Test {
protected:
    void TearDown() override { SetWindowsVersion(L"win7"); }
};

TEST_F(WindowsVersions, EntryForEveryVersionThePrefixAccepts) {
    bool is64 = sysfacts::PrefixIs64Bit();
    for (const VersionRow& row : rows) {
        std::string name = testsupport::Narrow(row.name);
        bool accepted = is64 ? row.accepted64 : row.accepted32;
        int status = SetWindowsVersion(row.name);
        if (!accepted) {
            EXPECT_NE(0, status) << name << " is refused in this prefix";
            continue;
        }
        ASSERT_EQ(0, status) << name;
        const char* display = is64 && row.display64 != nullptr ? row.display64 : row.display32;
        std::string expected = sysfacts::WineOsVersionEntry(display, row.major, row.minor, row.servicePack,
                                                            row.build, row.productType, is64);
        EXPECT_EQ(expected, ProbeOutput(L"sysfacts_probe_manifest.exe")) << name;
        // Without the manifest, Windows 8.1 and 10 settings report 6.2, as Windows does.
        if (row.major == 10 || (row.major == 6 && row.minor == 3)) {
            std::string windows8 = std::string("Windows 8 Ultimate N, ") + (is64 ? "64-bit" : "32-bit") +
                                   " (build 9200)";
            expected = sysfacts::WineOsVersionEntry(windows8, 6, 2, 0, 9200, 1, is64);
        }
        EXPECT_EQ(expected, ProbeOutput(L"sysfacts_probe.exe")) << name;
    }
}

}  // namespace
