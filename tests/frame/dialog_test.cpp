// The progress dialog from the program's own template, driven by stand-in
// workers instead of a package build.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "package_worker.h"
#include "progress_dialog.h"
#include "resource.h"

namespace {

std::wstring LogText() {
    int length = GetWindowTextLengthW(logWindow);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(logWindow, &text[0], length + 1);
    text.resize(length);
    return text;
}

// Checks made on the worker thread, reported after the dialog has ended.
struct WorkerFindings {
    bool ran = false;
    LRESULT rangeLow = -1, rangeHigh = -1, startPosition = -1, advancedPosition = -1;
    DWORD advanceMs = 0;
    std::wstring logAfterTwoLines;
    size_t longLineLength = 0;
    COLORREF logText = 0, logBackground = 0;
    bool logGetsTheBrush = false, otherControlGetsTheBrush = true;
    bool aliveAfterCloseAttempts = false;
    LONG dialogStyle = 0, logStyle = 0;
};
WorkerFindings findings;

void __cdecl InspectingWorker(void* argument) {
    HWND dialog = static_cast<HWND>(argument);
    findings.ran = true;
    PBRANGE range = {};
    SendMessageW(progressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    findings.rangeLow = range.iLow;
    findings.rangeHigh = range.iHigh;
    findings.startPosition = SendMessageW(progressBar, PBM_GETPOS, 0, 0);
    DWORD start = GetTickCount();
    AdvanceProgress(150, 42);
    findings.advanceMs = GetTickCount() - start;
    findings.advancedPosition = SendMessageW(progressBar, PBM_GETPOS, 0, 0);

    AppendLog(0, L"Creating [%s]\r\n\r\n", L"C:\\users\\me\\Desktop\\Morquaine-QEVSCAN.zrpk");
    AppendLog(0, L">> Adding ZRPK version information ...\r\n");
    AppendLog(1, L"above the verbosity: never shown\r\n");
    findings.logAfterTwoLines = LogText();
    size_t before = findings.logAfterTwoLines.size();
    AppendLog(0, L"%s", std::wstring(3000, L'x').c_str());
    findings.longLineLength = LogText().size() - before;

    HDC dc = CreateCompatibleDC(nullptr);
    LRESULT brush = SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(logWindow));
    findings.logGetsTheBrush = brush == reinterpret_cast<LRESULT>(logBrush) && brush != 0;
    findings.logText = GetTextColor(dc);
    findings.logBackground = GetBkColor(dc);
    brush = SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(progressBar));
    findings.otherControlGetsTheBrush = brush == reinterpret_cast<LRESULT>(logBrush);
    DeleteDC(dc);

    // What Esc and Alt+F4 turn into: none of them may end the dialog.
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    SendMessageW(logWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(100);
    findings.aliveAfterCloseAttempts = IsWindow(dialog) && IsWindowVisible(dialog);
    findings.dialogStyle = GetWindowLongW(dialog, GWL_STYLE);
    findings.logStyle = GetWindowLongW(logWindow, GWL_STYLE);
    EndDialog(dialog, 0);
}

bool workerCalled = false;
void __cdecl NeverRuns(void*) {
    workerCalled = true;
}
uintptr_t FailingStarter(DialogWorkerProc, void*) {
    return static_cast<uintptr_t>(-1);
}

struct DialogSeams : ::testing::Test {
    DialogWorkerProc savedWorker = dialogWorker;
    WorkerThreadStarter savedStarter = startWorkerThread;
    void SetUp() override {
        appInstance = GetModuleHandleW(nullptr);
        InitCommonControls();
    }
    void TearDown() override {
        dialogWorker = savedWorker;
        startWorkerThread = savedStarter;
    }
    INT_PTR Run() {
        return DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);
    }
};

}  // namespace

TEST_F(DialogSeams, WorkerSeesTheBarAndWritesTheLog) {
    findings = WorkerFindings();
    dialogWorker = InspectingWorker;
    EXPECT_EQ(0, Run());
    ASSERT_TRUE(findings.ran);
    EXPECT_EQ(0, findings.rangeLow);
    EXPECT_EQ(100, findings.rangeHigh);
    EXPECT_EQ(10, findings.startPosition);
    EXPECT_EQ(42, findings.advancedPosition);
    EXPECT_GE(findings.advanceMs, 140u);
    EXPECT_EQ(L"Creating [C:\\users\\me\\Desktop\\Morquaine-QEVSCAN.zrpk]\r\n\r\n"
              L">> Adding ZRPK version information ...\r\n",
              findings.logAfterTwoLines);
    EXPECT_EQ(1023u, findings.longLineLength) << "a long line is cut, never overruns";
    EXPECT_TRUE(findings.logGetsTheBrush);
    EXPECT_EQ(RGB(255, 255, 255), findings.logText);
    EXPECT_EQ(RGB(0, 0, 0), findings.logBackground);
    EXPECT_FALSE(findings.otherControlGetsTheBrush);
    EXPECT_TRUE(findings.aliveAfterCloseAttempts);
    EXPECT_EQ(0, findings.dialogStyle & WS_SYSMENU);
    EXPECT_NE(0, findings.logStyle & ES_READONLY);
    EXPECT_EQ(nullptr, logBrush) << "the brush is deleted with the dialog";
}

TEST_F(DialogSeams, WorkerThatCannotStartEndsTheDialogAsAFailedBuild) {
    workerCalled = false;
    packageCreated = 0;
    dialogWorker = NeverRuns;
    startWorkerThread = FailingStarter;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, Run());
    EXPECT_LT(GetTickCount() - start, 5000u);
    Sleep(100);
    EXPECT_FALSE(workerCalled);
    EXPECT_EQ(0, packageCreated);
    EXPECT_EQ(nullptr, logBrush);
}
