// Opening the upload page: the same command line either way, started as the
// desktop shell's user where the desktop has a shell window; without one as
// the program itself only where its token is not a split administrator's
// elevated half, and otherwise not at all.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dk_test_util.h"
#include "test_support.h"
#include "upload_page.h"

using namespace testsupport;

namespace {

TOKEN_ELEVATION_TYPE givenElevationType = TokenElevationTypeDefault;
TOKEN_ELEVATION_TYPE GivenElevationType() {
    return givenElevationType;
}

struct UploadPage : ::testing::Test {
    std::wstring recordFile = ArtifactFolder(L"upload") + L"\\rundll32-command.txt";
    TOKEN_ELEVATION_TYPE (*savedQuery)() = queryOwnElevationType;

    void SetUp() override {
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"dk_fake_rundll32.exe").c_str(),
                              (SystemDirectory() + L"\\rundll32.exe").c_str(), FALSE));
        // A 32-bit prefix would otherwise run Wine's own rundll32 in its place.
        RegSetString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"rundll32.exe", L"native");
        SetEnvironmentVariableW(L"DK_RECORD_FILE", recordFile.c_str());
        ASSERT_EQ(nullptr, GetShellWindow()) << "the prefix starts without a shell window";
        queryOwnElevationType = GivenElevationType;
    }
    void TearDown() override {
        queryOwnElevationType = savedQuery;
        SetEnvironmentVariableW(L"DK_RECORD_FILE", nullptr);
    }
};

const struct {
    TOKEN_ELEVATION_TYPE type;
    const char* name;
    UploadStart withoutShell;
} ELEVATION_CASES[] = {
    {TokenElevationTypeFull, "full (split token, elevated half)", UPLOAD_NOT_STARTED},
    {TokenElevationTypeDefault, "default (no split token)", UPLOAD_STARTED_AS_PROGRAM},
    {TokenElevationTypeLimited, "limited", UPLOAD_STARTED_AS_PROGRAM},
};

}  // namespace

TEST_F(UploadPage, WithoutAShellWindowOnlyATokenWithoutALowerIdentityStartsIt) {
    for (const auto& c : ELEVATION_CASES) {
        givenElevationType = c.type;
        DeleteFileW(recordFile.c_str());
        EXPECT_EQ(c.withoutShell, OpenUploadPage()) << c.name;
        if (c.withoutShell == UPLOAD_STARTED_AS_PROGRAM) {
            EXPECT_EQ(ExpectedUploadLine(), RecordedStart(recordFile)) << c.name;
        } else {
            Sleep(1000);  // a start that should not have been would be recorded by now
            EXPECT_FALSE(FileExists(recordFile)) << c.name << ": nothing started";
        }
    }
}

TEST_F(UploadPage, WithAShellWindowItStartsAsTheShellUserWhateverTheElevation) {
    HWND shell = BecomeTheShell();
    ASSERT_NE(nullptr, shell);
    for (const auto& c : ELEVATION_CASES) {
        givenElevationType = c.type;
        DeleteFileW(recordFile.c_str());
        EXPECT_EQ(UPLOAD_STARTED_AS_SHELL_USER, OpenUploadPage()) << c.name;
        EXPECT_EQ(ExpectedUploadLine(), RecordedStart(recordFile)) << c.name;
    }
    DestroyWindow(shell);
}
