#pragma once

#include <windows.h>

#include <cstdint>

extern HINSTANCE appInstance;
extern HWND progressBar;
extern HWND logWindow;
extern HBRUSH logBrush;
extern const COLORREF logBackgroundColour;
extern const int logVerbosity;

// The thread the dialog starts when it opens, and how it is started; tests
// give their own to drive the dialog without a package build.
typedef void(__cdecl* DialogWorkerProc)(void* dialog);
typedef uintptr_t (*WorkerThreadStarter)(DialogWorkerProc worker, void* dialog);
extern DialogWorkerProc dialogWorker;
extern WorkerThreadStarter startWorkerThread;

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Appends one formatted line (at most 1023 characters; longer ones are cut)
// to the log and scrolls it to the bottom. Callable from any thread.
void AppendLog(int level, const wchar_t* format, ...);

// Waits, then moves the progress bar.
void AdvanceProgress(DWORD waitMs, int position);
