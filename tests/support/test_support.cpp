#include "test_support.h"

#include <cstdlib>
#include <cwchar>

namespace testsupport {

namespace {

struct PipePair {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

PipePair MakeInheritableOutputPipe() {
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
    PipePair pipe;
    if (!CreatePipe(&pipe.read, &pipe.write, &security, 0))
        return PipePair();
    SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

}  // namespace

ProcessResult RunCommand(const std::wstring& commandLine, DWORD timeoutMs) {
    ProcessResult result;
    PipePair pipe = MakeInheritableOutputPipe();
    if (pipe.read == nullptr)
        return result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = pipe.write;
    startup.hStdError = pipe.write;
    PROCESS_INFORMATION process = {};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        CloseHandle(pipe.read);
        CloseHandle(pipe.write);
        return result;
    }
    result.started = true;
    CloseHandle(pipe.write);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe.read, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        result.output.append(buffer, got);
    CloseHandle(pipe.read);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

HANDLE StartProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD WaitForExit(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                        nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], units);
    return out;
}

std::wstring FromUnixPath(const std::string& unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

namespace {

void CreateDirectoryChain(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

}  // namespace

std::wstring ArtifactsDir(const std::wstring& sub) {
    const char* root = std::getenv("TEST_ARTIFACTS");
    std::wstring dir = root ? FromUnixPath(root) : MakeTempDir(L"artifacts");
    if (!sub.empty())
        dir += L"\\" + sub;
    CreateDirectoryChain(dir);
    return dir;
}

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring BuiltProgram(const std::wstring& fileName) {
    // Programs are built into the build tree's bin folder, tests anywhere below it.
    std::wstring dir = ProgramDir();
    while (dir.size() > 3) {
        std::wstring candidate = dir + L"\\bin\\" + fileName;
        if (FileExists(candidate))
            return candidate;
        candidate = dir + L"\\" + fileName;
        if (FileExists(candidate))
            return candidate;
        size_t cut = dir.find_last_of(L'\\');
        if (cut == std::wstring::npos)
            break;
        dir = dir.substr(0, cut);
    }
    return fileName;
}

std::wstring MakeTempDir(const std::wstring& tag) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    wchar_t unique[64];
    swprintf(unique, 64, L"%ls_%lu_%lu", tag.c_str(), GetCurrentProcessId(), GetTickCount());
    std::wstring dir = std::wstring(temp) + unique;
    RemoveTree(dir);
    CreateDirectoryChain(dir);
    return dir;
}

std::string UnixPath(const std::wstring& path) {
    typedef char*(CDECL * UnixFileNameFn)(const wchar_t*);
    UnixFileNameFn unixFileName = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* name = unixFileName != nullptr ? unixFileName(path.c_str()) : nullptr;
    if (name == nullptr)
        return std::string();
    std::string unixPath = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixPath;
}

namespace {

// Wine starts a Unix program named by its Z: path like any other, but does not
// wait for it: the caller waits until its work shows, up to five seconds.
bool RunUnixTool(const std::wstring& tool, const std::string& arguments, const std::wstring& path,
                 bool shouldExist, DWORD waitMs = 5000) {
    if (!RunCommand(L"Z:\\bin\\" + tool + L" " + Widen(arguments), 10000).started)
        return false;
    for (DWORD waited = 0; waited <= waitMs; waited += 50, Sleep(50))
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == shouldExist)
            return true;
    return false;
}

// The Unix path of a tree that "rm -rf" may take: absolute, below the Unix root,
// and without a trailing slash (through which rm would enter a link to a folder).
std::string UnixTreePath(const std::wstring& path) {
    std::string unixPath = UnixPath(path);
    while (unixPath.size() > 1 && unixPath.back() == '/')
        unixPath.pop_back();
    if (unixPath.size() < 2 || unixPath[0] != '/' || unixPath.find('"') != std::string::npos)
        return std::string();
    return unixPath;
}

// Runs "rm" with the options on the Unix path and waits until rm is done with
// it: rm takes its operands in order, so once a marker file given last is gone
// the path is too. Waiting for the path alone would return at once for one
// that is not there, or for a link that leads nowhere, and that rm could then
// take what the caller makes next.
bool RemoveByUnixRm(const char* options, const std::string& unixPath) {
    wchar_t temp[MAX_PATH] = {}, marker[MAX_PATH] = {};
    if (GetTempPathW(MAX_PATH, temp) == 0 || GetTempFileNameW(temp, L"rmt", 0, marker) == 0)
        return false;
    std::string unixMarker = UnixTreePath(marker);
    if (unixMarker.empty() ||
        !RunUnixTool(L"rm", std::string(options) + " \"" + unixPath + "\" \"" + unixMarker + "\"", marker, false,
                     30000)) {
        DeleteFileW(marker);
        return false;
    }
    return true;
}

}  // namespace

std::vector<WIN32_FIND_DATAW> FolderEntries(const std::wstring& folder) {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            entries.push_back(found);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

HANDLE OwnPrimaryToken() {
    HANDLE own = nullptr, primary = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own))
        return nullptr;
    const DWORD access = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_IMPERSONATE;
    if (!DuplicateTokenEx(own, access, nullptr, SecurityImpersonation, TokenPrimary, &primary))
        primary = nullptr;
    CloseHandle(own);
    return primary;
}

bool ThreadImpersonates() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return false;
    CloseHandle(token);
    return true;
}

bool MakeUnixSymlink(const std::wstring& linkPath, const std::string& target) {
    std::string link = UnixPath(linkPath);
    return !link.empty() && RunUnixTool(L"ln", "-s \"" + target + "\" \"" + link + "\"", linkPath, true);
}

bool RemoveUnixSymlink(const std::wstring& linkPath) {
    std::string link = UnixTreePath(linkPath);
    return !link.empty() && RemoveByUnixRm("-f", link);
}

bool MoveUnixEntry(const std::wstring& from, const std::wstring& to) {
    std::string source = UnixPath(from), target = UnixPath(to);
    return !source.empty() && !target.empty() &&
           RunUnixTool(L"mv", "-f \"" + source + "\" \"" + target + "\"", from, false);
}

namespace {

// The Windows way, for a tree without a Unix path: under Wine, DeleteFileW of a
// link to a file deletes that file and keeps the link, so this is the fallback.
void RemoveTreeByWindowsCalls(const std::wstring& path) {
    for (const WIN32_FIND_DATAW& found : FolderEntries(path)) {
        std::wstring child = path + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // Both calls take a link or junction away itself, never its target.
            if (!RemoveUnixSymlink(child) && !RemoveDirectoryW(child.c_str()))
                DeleteFileW(child.c_str());
            continue;
        }
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTreeByWindowsCalls(child);
        else
            DeleteFileW(child.c_str());
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
    DeleteFileW(path.c_str());
}

}  // namespace

void RemoveTree(const std::wstring& path) {
    // A drive's root is never a tree to remove.
    if (path.size() <= 3)
        return;
    // Unix's rm takes every link away itself, a link to a file included.
    std::string unixPath = UnixTreePath(path);
    if (!unixPath.empty() && RemoveByUnixRm("-rf", unixPath) &&
        GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    RemoveTreeByWindowsCalls(path);
}

PlantedDllRun RunBesidePlantedDll(const std::wstring& program, const wchar_t* dllName,
                                  const std::wstring& caption) {
    PlantedDllRun run;
    std::wstring folder = MakeTempDir(L"planted");
    // A name of its own, so that Wine's preference for the planted DLL, which
    // is kept per program name, touches no other run in the prefix.
    std::wstring copyName = L"planted-" + program;
    std::wstring copy = folder + L"\\" + copyName;
    std::wstring record = folder + L"\\planted-record.txt";
    std::wstring dll = dllName;
    std::wstring appKey = L"Software\\Wine\\AppDefaults\\" + copyName;
    if (!CopyFileW(BuiltProgram(program).c_str(), copy.c_str(), FALSE) ||
        !CopyFileW(BuiltProgram(L"planted_dll.dll").c_str(), (folder + L"\\" + dll).c_str(), FALSE) ||
        !RegSetString(HKEY_CURRENT_USER, appKey + L"\\DllOverrides", dll.substr(0, dll.find_last_of(L'.')).c_str(),
                      L"native,builtin")) {
        RemoveTree(folder);
        return run;
    }
    SetEnvironmentVariableW(L"PLANTED_DLL_RECORD", record.c_str());
    HANDLE process = StartProcess(L"\"" + copy + L"\"");
    SetEnvironmentVariableW(L"PLANTED_DLL_RECORD", nullptr);
    if (process != nullptr) {
        DWORD processId = GetProcessId(process);
        DWORD start = GetTickCount();
        while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && GetTickCount() - start < 30000) {
            HWND box = WaitForDialog(caption, 250, processId);
            if (box != nullptr && PressButton(box, HasButton(box, IDNO) ? IDNO : IDOK)) {
                run.answered = true;
                WaitForWindowGone(box, 10000);
            }
        }
        if (WaitForExit(process, 5000) == STILL_ACTIVE)
            TerminateProcess(process, 1);
        CloseHandle(process);
    }
    run.loaded = FileExists(record);
    RegRemoveTree(HKEY_CURRENT_USER, appKey);
    RemoveTree(folder);
    return run;
}

bool RegSetRaw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
               const void* data, DWORD size, REGSAM view) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool RegSetString(HKEY root, const std::wstring& key, const wchar_t* name,
                  const std::wstring& value, DWORD type, REGSAM view) {
    return RegSetRaw(root, key, name, type, value.c_str(),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}

namespace {

LONG DeleteTreeRecursive(HKEY root, const std::wstring& key, REGSAM view) {
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | KEY_WRITE | view, &handle);
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t child[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumKeyExW(handle, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (DeleteTreeRecursive(root, key + L"\\" + child, view) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(handle);
    typedef LONG(WINAPI * RegDeleteKeyExWFn)(HKEY, LPCWSTR, REGSAM, DWORD);
    RegDeleteKeyExWFn deleteEx = reinterpret_cast<RegDeleteKeyExWFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"advapi32"), "RegDeleteKeyExW")));
    if (deleteEx != nullptr)
        return deleteEx(root, key.c_str(), view, 0);
    return RegDeleteKeyW(root, key.c_str());
}

}  // namespace

bool RegRemoveTree(HKEY root, const std::wstring& key, REGSAM view) {
    LONG status = DeleteTreeRecursive(root, key, view);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RegKeyExists(HKEY root, const std::wstring& key, REGSAM view) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool RegGetRaw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD* type,
               std::string* data, REGSAM view) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(handle, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, '\0');
        status = RegQueryValueExW(handle, name, nullptr, type,
                                  reinterpret_cast<BYTE*>(size ? &(*data)[0] : nullptr), &size);
        data->resize(size);
    }
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// --- UI driver ---------------------------------------------------------------

namespace {

struct DialogSearch {
    const std::wstring* caption;
    DWORD processId;
    HWND found;
    bool messageBoxesOnly;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (search->processId != 0) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId)
            return TRUE;
    }
    if (WindowText(window) != *search->caption)
        return TRUE;
    if (search->messageBoxesOnly && GetDlgItem(window, 0xFFFF) == nullptr)
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

namespace {

HWND WaitForTopLevelDialog(const std::wstring& caption, DWORD timeoutMs, DWORD processId,
                           bool messageBoxesOnly) {
    DWORD start = GetTickCount();
    for (;;) {
        DialogSearch search = {&caption, processId, nullptr, messageBoxesOnly};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

}  // namespace

HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs, DWORD processId) {
    return WaitForTopLevelDialog(caption, timeoutMs, processId, false);
}

HWND WaitForMessageBox(const std::wstring& caption, DWORD timeoutMs, DWORD processId) {
    return WaitForTopLevelDialog(caption, timeoutMs, processId, true);
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT rather than GetWindowText: it reads controls of other processes too.
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                               reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::wstring MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::wstring();
}

bool HasButton(HWND dialog, int id) {
    return GetDlgItem(dialog, id) != nullptr;
}

namespace {

// How far an icon control's pixels on screen are from the icon drawn on the
// same background; the box may belong to another process, whose icon handles
// mean nothing here, so the comparison is made with what the screen shows.
long long ScreenDistance(HWND iconControl, HICON candidate) {
    RECT area = {};
    GetClientRect(iconControl, &area);
    int width = area.right, height = area.bottom;
    if (width <= 0 || height <= 0 || width > 256 || height > 256)
        return -1;
    POINT origin = {0, 0};
    ClientToScreen(iconControl, &origin);
    HDC screen = GetDC(nullptr);
    HDC shown = CreateCompatibleDC(screen);
    HDC drawn = CreateCompatibleDC(screen);
    HBITMAP shownBitmap = CreateCompatibleBitmap(screen, width, height);
    HBITMAP drawnBitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ oldShown = SelectObject(shown, shownBitmap);
    HGDIOBJ oldDrawn = SelectObject(drawn, drawnBitmap);
    BitBlt(shown, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    // The corner lies outside every standard icon's shape: it is the background.
    HBRUSH background = CreateSolidBrush(GetPixel(shown, 0, 0));
    FillRect(drawn, &area, background);
    DeleteObject(background);
    DrawIconEx(drawn, 0, 0, candidate, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    long long distance = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            COLORREF a = GetPixel(shown, x, y), b = GetPixel(drawn, x, y);
            distance += std::abs(int(GetRValue(a)) - int(GetRValue(b))) +
                        std::abs(int(GetGValue(a)) - int(GetGValue(b))) +
                        std::abs(int(GetBValue(a)) - int(GetBValue(b)));
        }
    SelectObject(shown, oldShown);
    SelectObject(drawn, oldDrawn);
    DeleteObject(shownBitmap);
    DeleteObject(drawnBitmap);
    DeleteDC(shown);
    DeleteDC(drawn);
    ReleaseDC(nullptr, screen);
    return distance;
}

}  // namespace

UINT MessageBoxIcon(HWND box) {
    // The icon is a static control of the message box: id 20 on Windows, 1088 under Wine.
    HWND iconControl = GetDlgItem(box, 1088);
    if (iconControl == nullptr)
        iconControl = GetDlgItem(box, 20);
    if (iconControl == nullptr || !IsWindowVisible(iconControl))
        return 0;
    HICON shown = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
    if (shown == nullptr)
        return 0;
    struct Known { LPCWSTR id; UINT style; };
    const Known known[] = {{IDI_HAND, MB_ICONERROR}, {IDI_QUESTION, MB_ICONQUESTION},
                           {IDI_EXCLAMATION, MB_ICONWARNING}, {IDI_ASTERISK, MB_ICONINFORMATION}};
    for (const Known& k : known)
        if (LoadIconW(nullptr, k.id) == shown)
            return k.style;
    // Another process's box holds its own copies of the system icons: take the
    // standard icon that looks like what is shown, when one is clearly closest.
    // The box is raised first, and looked at again for a while, since boxes of
    // other programs on the same display may cover it for a moment.
    for (int attempt = 0; attempt < 15; ++attempt) {
        SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(100 + 50 * attempt);
        long long best = -1, second = -1;
        UINT bestStyle = 0;
        for (const Known& k : known) {
            long long distance = ScreenDistance(iconControl, LoadIconW(nullptr, k.id));
            if (distance < 0)
                continue;
            if (best < 0 || distance < best) {
                second = best;
                best = distance;
                bestStyle = k.style;
            } else if (second < 0 || distance < second) {
                second = distance;
            }
        }
        if (best >= 0 && second > 0 && best * 4 < second)
            return bestStyle;
    }
    return 0xFFFFFFFF;  // an icon, but not a standard one
}

bool PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button == nullptr)
        return false;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

}  // namespace testsupport
