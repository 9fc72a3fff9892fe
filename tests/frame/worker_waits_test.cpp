// The worker's step table run with stand-in collectors that return at once,
// so that a step's own wait is the time to its bar position from the later of
// the bar's last move and the log's last line, each once the dialog had dealt
// with it: what the worker does before that (opening the package, writing the
// log, moving the bar) is not the wait, and is not counted, however slow the
// machine is at it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <process.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "console_capture.h"
#include "hotfix.h"
#include "identity.h"
#include "listing.h"
#include "os_version.h"
#include "package_id.h"
#include "package_worker.h"
#include "progress_dialog.h"
#include "registry.h"
#include "resource.h"
#include "service.h"
#include "user_files.h"

// Stand-ins for every collector: nothing to gather, nothing added.
int AddPackageIdInfo() { return 0; }
int AddWindowsDirInfo() { return 0; }
int AddOsVersionInfo() { return 0; }
int AddComputerNameInfo() { return 0; }
int AddVmInfo() { return 0; }
int AddServiceStatus(const char*, const wchar_t*) { return 0; }
int AddRegistryExport(const wchar_t*, const wchar_t*, int) { return 0; }
int InitializeWorkerCom() { return 0; }
const WmiCalls SYSTEM_WMI_CALLS = {};
int AddHotfixList(const WmiCalls&) { return 0; }
void CaptureCommandOutput(const wchar_t*, std::string&) {}
int ReadInstallDir(wchar_t*, DWORD&) { return 0; }
int AddEventLogBackup(const wchar_t*, const wchar_t*) { return 0; }
bool AddDirectoryListing(const wchar_t*, const wchar_t*, const wchar_t*) { return false; }
bool AddDirectoryFiles(const wchar_t*) { return true; }

namespace {

struct Move {
    int position;
    double atMs;       // when the move reached the bar
    double doneMs;     // when the bar had taken it, and the worker could go on
    double logDoneMs;  // when the log's last line before this move was written
};

std::vector<Move> moves;
WNDPROC barProcedure = nullptr;
WNDPROC logProcedure = nullptr;
double logDoneMs = 0;
double closedMs = 0;  // when the package file could first be opened after the bar's 100
HANDLE closeWatcher = nullptr;
LARGE_INTEGER frequency;

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * double(now.QuadPart) / double(frequency.QuadPart);
}

std::wstring PackagePath() {
    wchar_t desktop[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    return std::wstring(desktop) + L"\\Morquaine-QEVSCAN.zrpk";
}

// The worker holds the package file open with no sharing until it closes the
// archive, after the close's wait; the dialog itself ends only seconds later
// under Wine, so that end cannot tell when the wait was over.
unsigned __stdcall WatchClose(void*) {
    const std::wstring path = PackagePath();
    const double giveUpMs = NowMs() + 10000;
    while (NowMs() < giveUpMs) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            closedMs = NowMs();
            CloseHandle(file);
            return 0;
        }
        Sleep(1);
    }
    return 0;
}

// Runs on the dialog's thread, where the worker's PBM_SETPOS arrives.
LRESULT CALLBACK RecordingBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != PBM_SETPOS)
        return CallWindowProcW(barProcedure, bar, message, wParam, lParam);
    moves.push_back({static_cast<int>(wParam), NowMs(), 0, logDoneMs});
    LRESULT result = CallWindowProcW(barProcedure, bar, message, wParam, lParam);
    moves.back().doneMs = NowMs();
    if (wParam == 100 && closeWatcher == nullptr)
        closeWatcher = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchClose, nullptr, 0, nullptr));
    return result;
}

// The scroll to the bottom is the last thing a log line asks of the dialog.
LRESULT CALLBACK RecordingLog(HWND log, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcW(logProcedure, log, message, wParam, lParam);
    if (message == WM_VSCROLL)
        logDoneMs = NowMs();
    return result;
}

// Starts the real worker once the bar records its moves; the dialog has just set 10.
uintptr_t StartWatched(DialogWorkerProc worker, void* dialog) {
    barProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(progressBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBar)));
    logProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(logWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingLog)));
    logDoneMs = 0;
    const double now = NowMs();
    moves.assign(1, Move{10, now, now, 0});
    return _beginthread(worker, 0, dialog);
}

struct StepWait {
    int position;
    double waitMs;
};

// Each position with the wait before it; 100 follows the last step at once,
// and the close waits 500 ms after it.
const StepWait STEP_WAITS[] = {
    {5, 200},  {10, 200}, {15, 200}, {25, 200}, {30, 200}, {31, 100}, {32, 100}, {33, 100},
    {34, 100}, {35, 100}, {36, 100}, {37, 100}, {60, 200}, {65, 100}, {70, 100}, {75, 100},
    {80, 100}, {85, 100}, {90, 100}, {94, 100}, {98, 100}, {100, 0},
};
const double CLOSE_WAIT_MS = 500;
// A wait never ends early (but for the clock's rounding); it may end late
// when the machine is busy, so the lateness that counts is the least of a
// few runs.
const double EARLY_MS = 3;
const double LATE_MS = 60;
const int MAX_RUNS = 3;

}  // namespace

TEST(WorkerWaits, EachStepWaitsItsOwnTime) {
    QueryPerformanceFrequency(&frequency);
    InitCommonControls();
    startWorkerThread = StartWatched;
    const size_t count = sizeof(STEP_WAITS) / sizeof(STEP_WAITS[0]);
    // The steps' waits, and last the close's.
    std::vector<double> leastLateness(count + 1, 1e9);
    for (int run = 0; run < MAX_RUNS; ++run) {
        closedMs = 0;
        closeWatcher = nullptr;
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                        ProgressDlgProc, 0);
        ASSERT_NE(nullptr, closeWatcher) << "the bar never reached 100";
        WaitForSingleObject(closeWatcher, INFINITE);
        CloseHandle(closeWatcher);
        ASSERT_NE(0, closedMs) << "the package file was never closed";
        double closeLateness = closedMs - moves.back().doneMs - CLOSE_WAIT_MS;
        EXPECT_GE(closeLateness, -EARLY_MS) << "wait before the close";
        leastLateness[count] = std::min(leastLateness[count], closeLateness);
        ASSERT_EQ(count + 1, moves.size());
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(STEP_WAITS[i].position, moves[i + 1].position);
            double waitStart = std::max(moves[i].doneMs, moves[i + 1].logDoneMs);
            double lateness = moves[i + 1].atMs - waitStart - STEP_WAITS[i].waitMs;
            EXPECT_GE(lateness, -EARLY_MS) << "wait before position " << STEP_WAITS[i].position;
            leastLateness[i] = std::min(leastLateness[i], lateness);
        }
        if (*std::max_element(leastLateness.begin(), leastLateness.end()) <= LATE_MS)
            break;
    }
    for (size_t i = 0; i < count; ++i) {
        printf("[ measure  ] to %3d: %6.1f ms late\n", STEP_WAITS[i].position, leastLateness[i]);
        EXPECT_LE(leastLateness[i], LATE_MS) << "wait before position " << STEP_WAITS[i].position;
    }
    printf("[ measure  ] to the close: %6.1f ms late\n", leastLateness[count]);
    EXPECT_LE(leastLateness[count], LATE_MS) << "wait before the close";
}
