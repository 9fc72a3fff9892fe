// Helpers for tests that run under Wine: processes, files, registry fixtures
// and a small driver for message boxes and dialogs.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace testsupport {

// Result of a child process run to its end.
struct ProcessResult {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr together
};

// Runs a command line hidden, captures its output, waits up to timeoutMs.
ProcessResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// Starts a program without waiting; the caller closes the handle.
HANDLE StartProcess(const std::wstring& commandLine);
// Waits for a process and gives its exit code, or STILL_ACTIVE on timeout.
DWORD WaitForExit(HANDLE process, DWORD timeoutMs);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// Windows path of a folder for files that host-side checks read afterwards
// (TEST_ARTIFACTS of the test run), created when missing; sub is appended.
std::wstring ArtifactsDir(const std::wstring& sub = L"");
// Windows form of a Unix path (through the Z: drive).
std::wstring FromUnixPath(const std::string& unixPath);
// Directory of the test program itself; programs under test lie beside it or above.
std::wstring ProgramDir();
// The built program of the given name (searched in the build tree).
std::wstring BuiltProgram(const std::wstring& fileName);
// A fresh empty directory under the temporary folder.
std::wstring MakeTempDir(const std::wstring& tag);
// Removes a directory tree; missing is fine. A link, to a directory or to a
// file, is removed itself, never entered and never its target.
void RemoveTree(const std::wstring& path);

// Unix path of a Windows path (Wine's own mapping); empty when there is none.
std::string UnixPath(const std::wstring& path);
// A Unix symbolic link at linkPath whose text is target, as "ln -s" makes it;
// Wine shows one to a directory as a reparse point. False when none was made.
bool MakeUnixSymlink(const std::wstring& linkPath, const std::string& target);
// Removes such a link itself, not what it points to.
bool RemoveUnixSymlink(const std::wstring& linkPath);
// Renames from over to on the Unix side ("mv -f"): a link is moved as itself,
// and a handle open on the file at to keeps that file. False when from stays.
bool MoveUnixEntry(const std::wstring& from, const std::wstring& to);

// The entries of a folder without "." and "..", in the order the platform lists them.
std::vector<WIN32_FIND_DATAW> FolderEntries(const std::wstring& folder);

// A primary token of this process's own user, as the desktop shell of the same
// account would give it; the caller closes it. nullptr when none can be made.
HANDLE OwnPrimaryToken();
// Whether the calling thread impersonates someone (has a token of its own).
bool ThreadImpersonates();

std::string Narrow(const std::wstring& text);   // UTF-16 -> UTF-8
std::wstring Widen(const std::string& text);    // UTF-8 -> UTF-16

// Registry fixtures (root is HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
bool RegSetString(HKEY root, const std::wstring& key, const wchar_t* name,
                  const std::wstring& value, DWORD type = REG_SZ, REGSAM view = 0);
bool RegSetRaw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
               const void* data, DWORD size, REGSAM view = 0);
bool RegRemoveTree(HKEY root, const std::wstring& key, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
// Reads a value's raw bytes; false when missing.
bool RegGetRaw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD* type,
               std::string* data, REGSAM view = 0);

// Runs a copy of the built program from a fresh folder that also holds the
// planted DLL (planted_dll.dll) under dllName, with Wine told to prefer a
// native DLL of that name over its own for that copy. Every box with the caption is answered with No, or
// OK where it has no No. loaded: the program let a DLL that the system loads by
// name come from its own folder; answered: it ran and showed a box.
struct PlantedDllRun {
    bool answered = false;
    bool loaded = false;
};
PlantedDllRun RunBesidePlantedDll(const std::wstring& program, const wchar_t* dllName,
                                  const std::wstring& caption);

// --- UI driver ---------------------------------------------------------------
// Finds a top-level dialog (#32770) with the caption, belonging to processId
// when given (0: any), waiting up to timeoutMs. nullptr when none appeared.
HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs, DWORD processId = 0);
// The same, but only message boxes (dialogs with a text control 0xFFFF), so a
// program's own dialog of the same caption is passed over.
HWND WaitForMessageBox(const std::wstring& caption, DWORD timeoutMs, DWORD processId = 0);
// The text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// Window text of a control or window.
std::wstring WindowText(HWND window);
// Whether the dialog has a button with the id (IDYES, IDNO, IDOK, ...).
bool HasButton(HWND dialog, int id);
// Which standard icon a message box shows: 0 none, else the MB_ICON* value
// matched against the system icons.
UINT MessageBoxIcon(HWND box);
// Presses a button of a dialog by id (BM_CLICK).
bool PressButton(HWND dialog, int id);
// Waits until the window no longer exists.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

}  // namespace testsupport
