// uidriver: runs a GUI program and answers its message boxes in order (its
// other dialogs, even of the same caption, are passed over).
//   uidriver "<command line>" [CAPTION BUTTON [TIMEOUT_MS]]...
// BUTTON is yes, no, ok or cancel. Each box's text is printed as it is
// answered; the exit code is the program's (or 124 when a box never came).
#include "test_support.h"

#include <cstdio>
#include <cwchar>
#include <string>

using namespace testsupport;

namespace {

int ButtonId(const std::wstring& name) {
    if (name == L"yes") return IDYES;
    if (name == L"no") return IDNO;
    if (name == L"ok") return IDOK;
    if (name == L"cancel") return IDCANCEL;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: uidriver \"<command line>\" [CAPTION BUTTON [TIMEOUT_MS]]...\n");
        return 2;
    }
    HANDLE process = StartProcess(argv[1]);
    if (process == nullptr) {
        fwprintf(stderr, L"uidriver: cannot start %ls\n", argv[1]);
        return 2;
    }
    DWORD processId = GetProcessId(process);
    for (int i = 2; i + 1 < argc;) {
        std::wstring caption = argv[i];
        int button = ButtonId(argv[i + 1]);
        DWORD timeout = 120000;
        i += 2;
        if (i < argc && iswdigit(argv[i][0]))
            timeout = wcstoul(argv[i++], nullptr, 10);
        HWND box = WaitForMessageBox(caption, timeout, processId);
        if (box == nullptr) {
            fwprintf(stderr, L"uidriver: no box \"%ls\" within %lu ms\n", caption.c_str(), timeout);
            TerminateProcess(process, 124);
            CloseHandle(process);
            return 124;
        }
        Sleep(200);  // let the box finish drawing before it is read
        printf("[%s] %s\n", Narrow(caption).c_str(), Narrow(MessageBoxText(box)).c_str());
        fflush(stdout);
        PressButton(box, button);
        WaitForWindowGone(box, 10000);
    }
    DWORD code = WaitForExit(process, 300000);
    CloseHandle(process);
    printf("exit code %lu\n", code);
    return static_cast<int>(code);
}
