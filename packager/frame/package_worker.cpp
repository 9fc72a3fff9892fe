#include "package_worker.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cwchar>
#include <ctime>

#include "console_capture.h"
#include "hotfix.h"
#include "identity.h"
#include "listing.h"
#include "os_version.h"
#include "package_file.h"
#include "package_id.h"
#include "private_temp.h"
#include "program_messages.h"
#include "progress_dialog.h"
#include "registry.h"
#include "service.h"
#include "shared_helpers.h"
#include "user_files.h"
#include "ziparchive.h"

int packageCreated = 0;

namespace {

const size_t PATH_CAPACITY = 260;
const wchar_t PACKAGE_FILE_SUFFIX[] = L"\\Morquaine-QEVSCAN.zrpk";
// The lister's directory bound is that of the unquoted line in a 260-character
// buffer; the two quotation marks get room of their own.
const size_t LISTER_DIRECTORY_MAX = 237;

struct ServiceStatusRow {
    wchar_t entryName[22];
    char serviceName[12];
};

const ServiceStatusRow SERVICE_ROWS[] = {
    {L"info\\svwendroxhlp.txt", "wendroxhlp"},
    {L"info\\svwendroxsrv.txt", "wendroxsrv"},
    {L"info\\svqevusbsrv.txt", "qevusbsrv"},
};

struct RegistryExportRow {
    const wchar_t* keyPath;
    const wchar_t* entryName;
    int use32bitView;
    int position;
};

const RegistryExportRow REGISTRY_ROWS[] = {
    {L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server", L"reg\\termsrv.re_", 0, 31},
    {L"SYSTEM\\CurrentControlSet\\Services", L"reg\\services.re_", 0, 32},
    {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"reg\\winlogon.re_", 0, 33},
    {L"SOFTWARE\\Morquaine", L"reg\\morquaine.re_", 0, 34},
    {L"SOFTWARE\\Morquaine", L"reg\\morquaine32.re_", 1, 35},
    {L"SOFTWARE\\Policies\\Microsoft\\Windows NT", L"reg\\winntpolicies.re_", 0, 36},
    {L"SOFTWARE\\Microsoft\\Rpc", L"reg\\msrpc.re_", 0, 37},
};

void AddServiceEntries() {
    for (const ServiceStatusRow& row : SERVICE_ROWS)
        AddServiceStatus(row.serviceName, row.entryName);
}

void AddRegistryEntries() {
    for (const RegistryExportRow& row : REGISTRY_ROWS) {
        AddRegistryExport(row.keyPath, row.entryName, row.use32bitView);
        AdvanceProgress(100, row.position);
    }
}

// Adds what the command wrote; an empty capture is refused by the writer.
void AddCapturedOutput(const std::wstring& commandLine, const wchar_t* entryName) {
    if (commandLine.empty())
        return;
    std::string output;
    CaptureCommandOutput(commandLine.c_str(), output);
    AddMemoryEntry(entryName, output);
}

void AddNetstatOutput() {
    AddCapturedOutput(SystemToolCommandLine(L"netstat.exe", L" -an"), L"info\\netstat.txt");
}

void AddTwainListings() {
    wchar_t systemWindowsDirectory[PATH_CAPACITY] = {};
    wchar_t windowsDirectory[PATH_CAPACITY] = {};
    GetSystemWindowsDirectoryW(systemWindowsDirectory, PATH_CAPACITY);
    GetWindowsDirectoryW(windowsDirectory, PATH_CAPACITY);
    AddDirectoryListing(L"dir\\twain_32-sys.txt", systemWindowsDirectory, L"tw*.*");
    AddDirectoryListing(L"dir\\twain_32-usr.txt", windowsDirectory, L"tw*.*");
}

void AddInstallDirListing() {
    wchar_t installDir[PATH_CAPACITY] = {};
    DWORD size = sizeof(installDir);
    if (ReadInstallDir(installDir, size))
        AddDirectoryListing(L"dir\\qevscan.txt", installDir, L"*.*");
}

void AddPerUserFiles() {
    wchar_t userFolder[PATH_CAPACITY] = {};
    // Without creating it: an elevated create would follow wherever the user's
    // value for the folder points.
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, userFolder) < 0)
        return;
    // A folder whose joined path would not fit has nothing we could name.
    if (!AppendIfFits(userFolder, PATH_CAPACITY, L"\\Morquaine\\QEV-SCAN"))
        return;
    AddDirectoryFiles(userFolder);
}

void AddSystemEventLog() {
    AddEventLogBackup(L"log\\system.evt", L"System");
}

void AddApplicationEventLog() {
    // The trailing blank is the name this program has always passed; the
    // service opens the Application log for it.
    AddEventLogBackup(L"log\\application.evt", L"Application ");
}

struct WorkerStep {
    const wchar_t* logMessage;  // none for the COM step
    void (*action)();
    DWORD waitMs;
    int position;               // NO_ADVANCE: the action moves the bar itself, or not at all
};

const int NO_ADVANCE = -1;

const WorkerStep STEPS[] = {
    {L">> Adding ZRPK version information ...\r\n", [] { AddPackageIdInfo(); }, 200, 5},
    {L">> Adding OS version information ...\r\n", [] { AddOsVersionInfo(); }, 200, 10},
    {L">> Adding computer name information ...\r\n", [] { AddComputerNameInfo(); }, 200, 15},
    {L">> Adding virtual machine information ...\r\n", [] { AddVmInfo(); }, 200, 25},
    {L">> Adding service information ...\r\n", AddServiceEntries, 200, 30},
    {L">> Adding registry information ...\r\n", AddRegistryEntries, 0, NO_ADVANCE},
    // COM for the hotfix step; a failure only means that step finds nothing.
    {nullptr, [] { InitializeWorkerCom(); }, 0, NO_ADVANCE},
    {L">> Adding information about installed hotfixes ...\r\n", [] { AddHotfixList(); }, 200, 60},
    {L">> Adding netstat information ...\r\n", AddNetstatOutput, 100, 65},
    {L">> Adding TWAIN data source ...\r\n", AddListerOutput, 100, 70},
    {L">> Adding windows application compatibility directory info ...\r\n",
     [] { AddWindowsDirInfo(); }, 100, 75},
    {L">> Adding windows twain_32 directory info ...\r\n", AddTwainListings, 100, 80},
    {L">> Adding qev scan installation directory info ...\r\n", AddInstallDirListing, 100, 85},
    {L">> Adding qev scan local appdata directory ...\r\n", AddPerUserFiles, 100, 90},
    {L">> Adding eventlog 'System' ...\r\n", AddSystemEventLog, 100, 94},
    {L">> Adding eventlog 'Application ' ...\r\n", AddApplicationEventLog, 100, 98},
};

void RunStep(const WorkerStep& step) {
    if (step.logMessage != nullptr)
        AppendLog(0, step.logMessage);
    // A step that runs out of memory adds what it could; the build goes on.
    try {
        step.action();
    } catch (...) {
    }
    if (step.position != NO_ADVANCE)
        AdvanceProgress(step.waitMs, step.position);
}

// Creates, fills and closes the package; true when it was written.
bool BuildPackage() {
    wchar_t packagePath[PATH_CAPACITY] = {};
    // A Desktop path too long to take the file name is as good as none.
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, packagePath) < 0 ||
        !AppendIfFits(packagePath, PATH_CAPACITY, PACKAGE_FILE_SUFFIX)) {
        ShowProgramMessage(NO_DESKTOP_TEXT, MB_ICONERROR);
        return false;
    }
    const std::wstring desktop(packagePath, wcslen(packagePath) - wcslen(PACKAGE_FILE_SUFFIX));
    AppendLog(0, L"Creating [%s]\r\n\r\n", packagePath);
    _tzset();
    UserRights user;
    packageArchive = CreateArchiveOnFile(OpenPackageFile(user, desktop.c_str(), packagePath));
    if (packageArchive == nullptr) {
        ShowProgramMessage(CREATE_FAILED_TEXT, MB_ICONERROR);
        return false;
    }
    for (const WorkerStep& step : STEPS)
        RunStep(step);
    AppendLog(0, L">> Saving zrpk file ...\r\n");
    SendMessageW(progressBar, PBM_SETPOS, 100, 0);
    Sleep(500);
    CloseArchive(packageArchive);
    return lastArchiveResult == ARC_OK;
}

}  // namespace

bool AppendIfFits(wchar_t* buffer, size_t capacity, const wchar_t* suffix) {
    size_t used = wcsnlen(buffer, capacity);
    size_t added = wcslen(suffix);
    if (used >= capacity || added >= capacity - used)
        return false;
    wmemcpy(buffer + used, suffix, added + 1);
    return true;
}

namespace {

// A drive letter, colon and backslash, or a \\ path. Anything else would be
// looked for from the folder the program was started in, which the user can write.
bool IsAbsoluteDirectory(const wchar_t* directory) {
    bool driveLetter = (directory[0] >= L'A' && directory[0] <= L'Z') ||
                       (directory[0] >= L'a' && directory[0] <= L'z');
    return (driveLetter && directory[1] == L':' && directory[2] == L'\\') ||
           (directory[0] == L'\\' && directory[1] == L'\\');
}

}  // namespace

std::wstring ListerCommandLine(const wchar_t* installDir) {
    if (wcsnlen(installDir, PATH_CAPACITY) > LISTER_DIRECTORY_MAX || !IsAbsoluteDirectory(installDir))
        return std::wstring();
    // Quoted, so that a directory with spaces cannot make Windows try a
    // shorter program path first; a trailing backslash is kept as stored.
    return std::wstring(L"\"") + installDir + L"\\qevdslister.exe\" --all";
}

std::wstring SystemToolCommandLine(const wchar_t* program, const wchar_t* arguments) {
    wchar_t systemDirectory[PATH_CAPACITY] = {};
    UINT length = GetSystemDirectoryW(systemDirectory, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY)
        return std::wstring();
    return std::wstring(L"\"") + systemDirectory + L"\\" + program + L"\"" + arguments;
}

void AddListerOutput() {
    wchar_t installDir[PATH_CAPACITY] = {};
    DWORD size = sizeof(installDir);
    if (!ReadInstallDir(installDir, size))
        return;
    AddCapturedOutput(ListerCommandLine(installDir), L"info\\qevdslister.txt");
}

void __cdecl PackageWorker(void* dialog) {
    packageCreated = BuildPackage() ? 1 : 0;
    // Made by the first step that needed it; gone before the result is shown.
    RemovePrivateTemporaryFolder();
    EndDialog(static_cast<HWND>(dialog), 0);
}
