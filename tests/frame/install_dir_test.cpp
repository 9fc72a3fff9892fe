// Reading the installation directory from the product key.
#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "package_worker.h"
#include "test_support.h"
#include "ziparchive.h"

namespace {

const wchar_t PRODUCT_KEY[] = L"Software\\Morquaine\\QEV-SCAN";

struct Read {
    int result;
    std::wstring text;
};

Read ReadIt() {
    wchar_t buffer[260] = {};
    DWORD size = sizeof(buffer);
    int result = ReadInstallDir(buffer, size);
    return {result, std::wstring(buffer, wcsnlen(buffer, 260))};
}

}  // namespace

TEST(ReadInstallDir, AcceptsOnlyATerminatedRegSzThatFits) {
    std::wstring of259 = L"C:\\" + std::wstring(255, L'p') + L"\\";
    ASSERT_EQ(259u, of259.size());
    std::wstring of260(260, L'q');
    struct Case {
        const char* what;
        DWORD type;
        std::string data;  // raw value bytes
        int expected;
        std::wstring text;
    } cases[] = {
        {"plain", REG_SZ, std::string(reinterpret_cast<const char*>(L"C:\\Program Files\\QEV\\"), 44), 1,
         L"C:\\Program Files\\QEV\\"},
        {"259 characters and terminator: 520 bytes", REG_SZ,
         std::string(reinterpret_cast<const char*>(of259.c_str()), 520), 1, of259},
        {"260 characters without terminator", REG_SZ,
         std::string(reinterpret_cast<const char*>(of260.c_str()), 520), 0, L""},
        {"261 characters", REG_SZ,
         std::string(reinterpret_cast<const char*>((of260 + L"r").c_str()), 524), 0, L""},
        {"519 bytes", REG_SZ, std::string(reinterpret_cast<const char*>(of260.c_str()), 519), 0, L""},
        {"expandable", REG_EXPAND_SZ,
         std::string(reinterpret_cast<const char*>(L"C:\\QEV\\"), 16), 0, L""},
        {"binary", REG_BINARY, std::string("C\0:\0\0\0", 6), 0, L""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY));
        ASSERT_TRUE(testsupport::RegSetRaw(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"InstallDir", c.type,
                                           c.data.data(), static_cast<DWORD>(c.data.size())));
        Read read = ReadIt();
        EXPECT_EQ(c.expected, read.result) << c.what;
        if (c.expected) {
            EXPECT_EQ(c.text, read.text) << c.what;
        }
    }
    testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
}

TEST(ReadInstallDir, MissingKeyOrValueIsNoDirectory) {
    testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
    EXPECT_EQ(0, ReadIt().result);
    ASSERT_TRUE(testsupport::RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"Other", L"C:\\x\\"));
    EXPECT_EQ(0, ReadIt().result);
    // The value lives in the 32-bit view, where the 32-bit program reads it.
    ASSERT_TRUE(testsupport::RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"InstallDir", L"C:\\x\\"));
    DWORD size = 520;
    wchar_t buffer[260] = {};
    EXPECT_EQ(1, ReadInstallDir(buffer, size));
    EXPECT_EQ(12u, size) << "the value's size comes back";
    testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
}

// The lister step runs only the lister of an absolute installation directory:
// a relative one would be found from the folder dossierkit was started in (a
// downloads folder, say) and an empty one at the root of its drive, and either
// would run as administrator.
TEST(ListerStep, RunsNoListerOfARelativeOrEmptyDirectory) {
    std::wstring start = testsupport::MakeTempDir(L"dk_start");
    std::wstring pidFile = start + L"\\lister-pid.txt";
    std::wstring lister = testsupport::BuiltProgram(L"dk_fake_lister.exe");
    CreateDirectoryW((start + L"\\Morquaine QEV").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(lister.c_str(), (start + L"\\Morquaine QEV\\qevdslister.exe").c_str(), FALSE));
    std::wstring driveRoot = start.substr(0, 3);
    ASSERT_TRUE(CopyFileW(lister.c_str(), (driveRoot + L"qevdslister.exe").c_str(), FALSE));
    wchar_t savedDirectory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, savedDirectory);
    ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));
    SetEnvironmentVariableW(L"DK_LISTER_PID_FILE", pidFile.c_str());
    SetEnvironmentVariableW(L"DK_LISTER_MODE", L"silent");
    packageArchive = CreateArchive((start + L"\\package.zip").c_str());
    ASSERT_NE(nullptr, packageArchive);

    struct Case {
        std::wstring installDir;
        bool runs;
    } cases[] = {{L"Morquaine QEV\\", false}, {L"", false}, {start + L"\\Morquaine QEV\\", true}};
    for (const Case& c : cases) {
        ASSERT_TRUE(testsupport::RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"InstallDir", c.installDir));
        DeleteFileW(pidFile.c_str());
        AddListerOutput();
        EXPECT_EQ(c.runs, testsupport::FileExists(pidFile)) << testsupport::Narrow(c.installDir);
    }

    CloseArchive(packageArchive);
    packageArchive = nullptr;
    SetEnvironmentVariableW(L"DK_LISTER_PID_FILE", nullptr);
    SetEnvironmentVariableW(L"DK_LISTER_MODE", nullptr);
    SetCurrentDirectoryW(savedDirectory);
    DeleteFileW((driveRoot + L"qevdslister.exe").c_str());
    testsupport::RemoveTree(start);
    testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
}
