// Opening the upload page: the same command line either way, started as the
// desktop shell's user where the desktop has a shell window, and as the
// program itself only where it has none.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dk_test_util.h"
#include "test_support.h"
#include "upload_page.h"

using namespace testsupport;

namespace {

// Wine's desktop has no shell window of its own; a window of this test can be
// made one, so that its process is the shell.
HWND BecomeTheShell() {
    typedef BOOL(WINAPI * SetShellWindowFn)(HWND);
    SetShellWindowFn setShellWindow = reinterpret_cast<SetShellWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
    HWND window = CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    if (window != nullptr && (setShellWindow == nullptr || !setShellWindow(window))) {
        DestroyWindow(window);
        window = nullptr;
    }
    return window;
}

}  // namespace

TEST(UploadPage, SameCommandLineAsShellUserOrElseAsTheProgram) {
    std::wstring recordFile = ArtifactFolder(L"upload") + L"\\rundll32-command.txt";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"dk_fake_rundll32.exe").c_str(),
                          (SystemDirectory() + L"\\rundll32.exe").c_str(), FALSE));
    // A 32-bit prefix would otherwise run Wine's own rundll32 in its place.
    RegSetString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"rundll32.exe", L"native");
    SetEnvironmentVariableW(L"DK_RECORD_FILE", recordFile.c_str());
    const std::string expected = ExpectedUploadLine();

    ASSERT_EQ(nullptr, GetShellWindow()) << "the prefix starts without a shell window";
    DeleteFileW(recordFile.c_str());
    EXPECT_EQ(UPLOAD_STARTED_AS_PROGRAM, OpenUploadPage());
    EXPECT_EQ(expected, RecordedStart(recordFile));

    HWND shell = BecomeTheShell();
    ASSERT_NE(nullptr, shell);
    DeleteFileW(recordFile.c_str());
    EXPECT_EQ(UPLOAD_STARTED_AS_SHELL_USER, OpenUploadPage());
    EXPECT_EQ(expected, RecordedStart(recordFile));
    DestroyWindow(shell);
    SetEnvironmentVariableW(L"DK_RECORD_FILE", nullptr);
}
