#include "progress_dialog.h"

#include <commctrl.h>
#include <process.h>

#include <cstdarg>
#include <cstdlib>
#include <cwchar>

#include "package_worker.h"
#include "resource.h"

HINSTANCE appInstance = nullptr;
HWND progressBar = nullptr;
HWND logWindow = nullptr;
HBRUSH logBrush = nullptr;
const COLORREF logBackgroundColour = RGB(0, 0, 0);
const int logVerbosity = 0;

namespace {

const size_t LOG_LINE_CAPACITY = 1024;

uintptr_t StartWithRuntime(DialogWorkerProc worker, void* dialog) {
    return _beginthread(worker, 0, dialog);
}

bool WorkerStarted(uintptr_t result) {
    return result != 0 && result != static_cast<uintptr_t>(-1);
}

}  // namespace

DialogWorkerProc dialogWorker = PackageWorker;
WorkerThreadStarter startWorkerThread = StartWithRuntime;

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        logBrush = CreateSolidBrush(logBackgroundColour);
        progressBar = GetDlgItem(dialog, IDC_PROGRESS);
        logWindow = GetDlgItem(dialog, IDC_LOG);
        SendMessageW(progressBar, PBM_SETRANGE32, 0, 100);
        SendMessageW(progressBar, PBM_SETPOS, 10, 0);
        // Only the worker ends the dialog; without one it would wait for ever,
        // so a worker that cannot start ends it at once as a failed build.
        if (!WorkerStarted(startWorkerThread(dialogWorker, dialog)))
            EndDialog(dialog, 0);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) != logWindow || logWindow == nullptr)
            return FALSE;
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        SetBkColor(reinterpret_cast<HDC>(wParam), logBackgroundColour);
        return reinterpret_cast<INT_PTR>(logBrush);
    case WM_DESTROY:
        if (logBrush != nullptr) {
            DeleteObject(logBrush);
            logBrush = nullptr;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void AppendLog(int level, const wchar_t* format, ...) {
    if (level > logVerbosity)
        return;
    wchar_t line[LOG_LINE_CAPACITY] = {};
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf_s(line, LOG_LINE_CAPACITY, _TRUNCATE, format, arguments);
    va_end(arguments);

    int length = GetWindowTextLengthW(logWindow);
    if (length < 0)
        length = 0;
    size_t capacity = static_cast<size_t>(length) + LOG_LINE_CAPACITY + 1;
    wchar_t* text = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
    if (text == nullptr)
        return;
    GetWindowTextW(logWindow, text, length + 1);
    wcscat_s(text, capacity, line);
    SetWindowTextW(logWindow, text);
    SendMessageW(logWindow, WM_VSCROLL, SB_BOTTOM, 0);
    free(text);
}

void AdvanceProgress(DWORD waitMs, int position) {
    Sleep(waitMs);
    SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
