#include "console_capture.h"

#include <cwchar>
#include <new>

#include "shared_helpers.h"
#include "ziparchive.h"

namespace {

const size_t COMMAND_LINE_CAPACITY = 1024;
const DWORD READ_CHUNK_SIZE = 4096;

struct OutputPipe {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
};

// One pipe whose write end alone the child inherits.
bool CreateChildOutputPipe(OutputPipe& pipe) {
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    if (!CreatePipe(&pipe.readEnd, &pipe.writeEnd, &security, 0))
        return false;
    if (!SetHandleInformation(pipe.readEnd, HANDLE_FLAG_INHERIT, 0)) {
        CloseHandle(pipe.readEnd);
        CloseHandle(pipe.writeEnd);
        return false;
    }
    return true;
}

// The child starts in the system directory, not in the folder this program
// was started from (often the user's Downloads).
bool StartHiddenChild(wchar_t* commandLine, HANDLE outputEnd, PROCESS_INFORMATION& child) {
    wchar_t systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputEnd;
    startup.hStdError = outputEnd;
    child = PROCESS_INFORMATION();
    return CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, systemDirectory,
                          &startup, &child) != FALSE;
}

// Reads until every write end is closed; there is no time-out. Output that no
// longer fits in memory ends the read, so the caller still closes and ends the child.
void ReadUntilEnd(HANDLE readEnd, std::string& output) {
    char chunk[READ_CHUNK_SIZE];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(readEnd, chunk, READ_CHUNK_SIZE, &got, nullptr) || got == 0)
            return;
        try {
            output.append(chunk, got);
        } catch (const std::bad_alloc&) {
            return;
        }
    }
}

}  // namespace

void CaptureCommandOutput(const wchar_t* commandLine, std::string& output) {
    if (commandLine == nullptr)
        return;
    // A command line that does not fit is refused rather than cut: a cut line
    // could name another program.
    if (wcslen(commandLine) >= COMMAND_LINE_CAPACITY)
        return;
    wchar_t command[COMMAND_LINE_CAPACITY] = {};
    wcscpy(command, commandLine);

    OutputPipe pipe;
    if (!CreateChildOutputPipe(pipe))
        return;
    PROCESS_INFORMATION child;
    if (!StartHiddenChild(command, pipe.writeEnd, child)) {
        CloseHandle(pipe.readEnd);
        CloseHandle(pipe.writeEnd);
        return;
    }
    // Our copy of the write end would keep the pipe open for ever.
    CloseHandle(pipe.writeEnd);
    ReadUntilEnd(pipe.readEnd, output);
    CloseHandle(pipe.readEnd);

    if (WaitForSingleObject(child.hProcess, CAPTURE_EXIT_WAIT_MS) != WAIT_OBJECT_0)
        TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

int ReadInstallDir(wchar_t* buffer, DWORD& size) {
    const DWORD capacityUnits = size / sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Morquaine\\QEV-SCAN", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 0;
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExW(key, L"InstallDir", nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    // A value that fills the whole buffer without a terminator would be read
    // past its end by every later use: count it as no directory.
    if (capacityUnits == 0 || buffer[capacityUnits - 1] != L'\0')
        return 0;
    return 1;
}

int AddEventLogBackup(const wchar_t* entryName, const wchar_t* logName) {
    return AddTemporaryEntryFileIfWritten(entryName, [logName](const wchar_t* file) {
        // The name goes to the service unchanged, trailing blanks included.
        HANDLE log = OpenEventLogW(nullptr, logName);
        if (log == nullptr)
            return false;
        BOOL backedUp = BackupEventLogW(log, file);
        CloseEventLog(log);
        return backedUp != FALSE;
    });
}
