// The texts and command lines the frame and its small collectors make.
#include <gtest/gtest.h>

#include <string>

#include "admin_check.h"
#include "package_id.h"
#include "package_worker.h"
#include "test_support.h"
#include "upload_page.h"

TEST(PackageIdText, IsOneConstantLineOf28Bytes) {
    std::string text = FormatPackageIdText();
    EXPECT_EQ("ZRPK-Identifier:  QEV-SCAN\r\n", text);
    EXPECT_EQ(28u, text.size());
    EXPECT_EQ(18u, text.find("QEV-SCAN"));  // the value starts in column 19
}

TEST(WindowsDirText, LabelsAlignBothPathsInColumn29) {
    struct Case {
        const char* windows;
        const char* system;
        const char* expected;
    } cases[] = {
        {"C:\\windows", "C:\\windows",
         "GetWindowsDirectory:        C:\\windows\r\nGetSystemWindowsDirectory:  C:\\windows\r\n"},
        {"C:\\Users\\ts\\WINDOWS", "C:\\WINDOWS",
         "GetWindowsDirectory:        C:\\Users\\ts\\WINDOWS\r\n"
         "GetSystemWindowsDirectory:  C:\\WINDOWS\r\n"},
        // A call that gave nothing leaves the label alone on its line.
        {"", "C:\\WINDOWS",
         "GetWindowsDirectory:        \r\nGetSystemWindowsDirectory:  C:\\WINDOWS\r\n"},
        {"\xE9t\xE9", "", "GetWindowsDirectory:        \xE9t\xE9\r\nGetSystemWindowsDirectory:  \r\n"},
    };
    for (const Case& c : cases) {
        std::string text = FormatWindowsDirText(c.windows, c.system);
        EXPECT_EQ(c.expected, text);
        EXPECT_EQ(28u, text.find(c.windows[0] ? c.windows : "\r\n"));
    }
}

TEST(AppendIfFits, JoinsOnlyWhatFitsWithItsTerminator) {
    const std::wstring suffix = L"\\Morquaine-QEVSCAN.zrpk";  // 23 characters
    for (size_t length : {0u, 1u, 235u, 236u, 237u, 259u}) {
        wchar_t buffer[260] = {};
        std::wstring start(length, L'd');
        wmemcpy(buffer, start.c_str(), length);
        bool fits = length + suffix.size() <= 259;
        EXPECT_EQ(fits, AppendIfFits(buffer, 260, suffix.c_str())) << length;
        EXPECT_EQ(fits ? start + suffix : start, std::wstring(buffer)) << length;
        EXPECT_EQ(L'\0', buffer[259]) << length;
    }
}

TEST(AppendIfFits, RefusesAnUnterminatedBuffer) {
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(AppendIfFits(buffer, 4, L""));
    EXPECT_EQ(L'd', buffer[3]);
}

TEST(ListerCommandLine, QuotesTheProgramAndKeepsTheDirectoryAsStored) {
    EXPECT_EQ(L"\"C:\\Program Files (x86)\\Morquaine\\QEV Scan\\\\qevdslister.exe\" --all",
              ListerCommandLine(L"C:\\Program Files (x86)\\Morquaine\\QEV Scan\\"));
    EXPECT_EQ(L"\"D:\\qev\\qevdslister.exe\" --all", ListerCommandLine(L"D:\\qev"));
}

TEST(ListerCommandLine, DirectoryOfAtMost237Characters) {
    std::wstring longest = L"C:\\" + std::wstring(234, L'x');
    ASSERT_EQ(237u, longest.size());
    EXPECT_EQ(L"\"" + longest + L"\\qevdslister.exe\" --all", ListerCommandLine(longest.c_str()));
    EXPECT_EQ(L"", ListerCommandLine((longest + L"x").c_str()));
}

TEST(ListerCommandLine, OnlyForAnAbsoluteDirectory) {
    const wchar_t* runs[] = {L"C:\\", L"z:\\qev", L"\\\\server\\share\\QEV\\"};
    for (const wchar_t* directory : runs)
        EXPECT_EQ(L"\"" + std::wstring(directory) + L"\\qevdslister.exe\" --all", ListerCommandLine(directory))
            << testsupport::Narrow(directory);
    // Empty, relative to the current folder or drive, or rooted on the current drive.
    const wchar_t* none[] = {L"", L"Morquaine QEV\\", L".\\QEV", L"..\\QEV", L"C:QEV\\", L"C:",
                             L"\\QEV\\", L"1:\\QEV", L"\u00c4:\\QEV", L" C:\\QEV"};
    for (const wchar_t* directory : none)
        EXPECT_EQ(L"", ListerCommandLine(directory)) << testsupport::Narrow(directory);
}

TEST(SystemToolCommandLine, NamesTheToolInTheSystemDirectory) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(L"\"" + std::wstring(system) + L"\\netstat.exe\" -an",
              SystemToolCommandLine(L"netstat.exe", L" -an"));
}

TEST(UploadPage, MessageAndCommandLineNameTheSameTlsAddress) {
    std::string address = UPLOAD_PAGE_ADDRESS;
    EXPECT_EQ(0u, address.find("https://"));
    EXPECT_EQ(address.size() - 14, address.find("/zrpk/qevscan/"));
    EXPECT_EQ(L"The ZRPK file 'Morquaine-QEVSCAN.zrpk' was successfully created and placed on your "
              L"Desktop.\r\n\r\nThis file has to be uploaded using the webform at "
              L"https://support.morquaine.com/zrpk/qevscan/\r\nDo you want to upload this file now ?",
              UploadOfferText());
    EXPECT_EQ("\"C:\\windows\\system32\\rundll32.exe\" url.dll,FileProtocolHandler "
              "https://support.morquaine.com/zrpk/qevscan/",
              UploadCommandLine("C:\\windows\\system32"));
}

// --- administrator test ---------------------------------------------------------

namespace {

struct FakeMembership {
    bool allocateSucceeds = true;
    bool checkSucceeds = true;
    BOOL member = TRUE;
    int allocations = 0;
    int frees = 0;
    bool sawAdministratorsSid = false;
};
FakeMembership fake;
char fakeSid[16];

BOOL WINAPI FakeAllocate(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1,
                         DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) {
    const BYTE nt[6] = {0, 0, 0, 0, 0, 5};
    fake.sawAdministratorsSid = memcmp(authority->Value, nt, 6) == 0 && count == 2 && s0 == 32 &&
                                s1 == 544 && (s2 | s3 | s4 | s5 | s6 | s7) == 0;
    if (!fake.allocateSucceeds)
        return FALSE;
    ++fake.allocations;
    *sid = fakeSid;
    return TRUE;
}

BOOL WINAPI FakeCheck(HANDLE token, PSID sid, PBOOL isMember) {
    if (token != nullptr || sid != fakeSid)
        return FALSE;
    // A failing call may still have written the flag; it must not count.
    *isMember = fake.member;
    return fake.checkSucceeds ? TRUE : FALSE;
}

PVOID WINAPI FakeFree(PSID sid) {
    if (sid == fakeSid)
        ++fake.frees;
    return nullptr;
}

}  // namespace

TEST(AdministratorTest, OnlyASuccessfulCheckThatFindsMembershipCounts) {
    struct Case {
        bool allocate, check;
        BOOL member;
        bool expected;
    } cases[] = {
        {true, true, TRUE, true},
        {true, true, FALSE, false},
        {true, false, TRUE, false},  // a failed call counts as not a member
        {false, true, TRUE, false},
    };
    const MembershipCalls calls = {FakeAllocate, FakeCheck, FakeFree};
    for (const Case& c : cases) {
        fake = FakeMembership();
        fake.allocateSucceeds = c.allocate;
        fake.checkSucceeds = c.check;
        fake.member = c.member;
        EXPECT_EQ(c.expected, IsAdministratorsMember(calls));
        EXPECT_TRUE(fake.sawAdministratorsSid);
        EXPECT_EQ(fake.allocations, fake.frees) << "the SID is freed on every path";
    }
}

TEST(AdministratorTest, WinesUserIsAnAdministrator) {
    EXPECT_TRUE(IsAdministratorsMember());
}
