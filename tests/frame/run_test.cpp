// dossierkit run whole under Wine, answered and watched like a user would:
// boxes, progress positions, the log, the package and the upload start.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dk_test_util.h"
#include "standins/lister_output.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const wchar_t CAPTION[] = L"Morquaine QEV Scan ZRPK Creator";
const wchar_t PRODUCT_KEY[] = L"Software\\Morquaine\\QEV-SCAN";
const wchar_t SHELL_FOLDERS[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t INSTALL_DIR[] = L"C:\\Program Files\\Morquaine QEV Scan\\";
const wchar_t QUESTION[] =
    L"This utility will create a ZRPK file (Morquaine Support Request Package) on your Desktop "
    L"folder.\r\nMorquaine's support team might ask you to create such a ZRPK file.\r\nA ZRPK is a "
    L"standard ZIP file containing technical information about your system.\r\n\r\nDo you want to "
    L"proceed ?";
const wchar_t SUCCESS[] =
    L"The ZRPK file 'Morquaine-QEVSCAN.zrpk' was successfully created and placed on your Desktop."
    L"\r\n\r\nThis file has to be uploaded using the webform at "
    L"https://support.morquaine.com/zrpk/qevscan/\r\nDo you want to upload this file now ?";
const wchar_t FAILED[] = L"Error. The ZRPK file could not be created!";

const std::vector<int> COMPLETE_POSITIONS = {10, 5,  10, 15, 25, 30, 31, 32, 33, 34, 35, 36,
                                             37, 60, 65, 70, 75, 80, 85, 90, 94, 98, 100};

// Position 98 stands only from the end of the last event-log step to the close,
// which sets 100 at once, so a poller in another process can miss it on a busy
// machine; every other position stands for at least one wait. The in-process
// waits test sees every move, 98 included.
std::vector<int> CompletePositionsAsSeen(const std::vector<int>& seen) {
    std::vector<int> expected = COMPLETE_POSITIONS;
    if (std::find(seen.begin(), seen.end(), 98) == seen.end())
        expected.erase(std::find(expected.begin(), expected.end(), 98));
    return expected;
}

const wchar_t* const STEP_LINES[] = {
    L">> Adding ZRPK version information ...\r\n",
    L">> Adding OS version information ...\r\n",
    L">> Adding computer name information ...\r\n",
    L">> Adding virtual machine information ...\r\n",
    L">> Adding service information ...\r\n",
    L">> Adding registry information ...\r\n",
    L">> Adding information about installed hotfixes ...\r\n",
    L">> Adding netstat information ...\r\n",
    L">> Adding TWAIN data source ...\r\n",
    L">> Adding windows application compatibility directory info ...\r\n",
    L">> Adding windows twain_32 directory info ...\r\n",
    L">> Adding qev scan installation directory info ...\r\n",
    L">> Adding qev scan local appdata directory ...\r\n",
    L">> Adding eventlog 'System' ...\r\n",
    L">> Adding eventlog 'Application ' ...\r\n",
};

std::wstring CompleteLog(const std::wstring& packagePath) {
    std::wstring log = L"Creating [" + packagePath + L"]\r\n\r\n";
    for (const wchar_t* line : STEP_LINES)
        log += line;
    return log + L">> Saving zrpk file ...\r\n";
}

struct BoxSeen {
    std::wstring text;
    UINT icon = 0;
    bool yes = false, no = false, ok = false;
};

struct RunRecord {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<BoxSeen> boxes;
    bool dialogSeen = false;
    std::vector<int> positions;
    std::vector<DWORD> positionTicks;  // when each position was first seen
    std::wstring log;          // as last read while the dialog was open
    DWORD buildMs = 0;         // from Yes on the question to the dialog's end
    DWORD dialogAfterMs = 0;   // from Yes on the question to the dialog's first sight
    DWORD closeMs = 0;         // from position 100 to the dialog's end
};

struct Found {
    HWND dialog = nullptr;
    HWND box = nullptr;
    DWORD processId = 0;
};

BOOL CALLBACK FindWindowsOf(HWND window, LPARAM parameter) {
    Found* found = reinterpret_cast<Found*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (owner != found->processId || wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window) ||
        WindowText(window) != CAPTION)
        return TRUE;
    if (GetDlgItem(window, 0xFFFF) != nullptr)
        found->box = window;
    else if (GetDlgItem(window, 1000) != nullptr)
        found->dialog = window;
    return TRUE;
}

// Runs dossierkit, answering its boxes in order with answers (then OK, or No).
// While the dialog is open the bar is polled without pause: the worker moves it
// from 98 to 100 within a millisecond or two.
// Records the bar's position when it differs from the last one seen.
void RecordPosition(RunRecord& record, HWND dialog, HWND bar, DWORD& lastMove) {
    DWORD_PTR position = 0;
    if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 1000, &position) &&
        position != 0 && (record.positions.empty() || record.positions.back() != int(position))) {
        record.positions.push_back(static_cast<int>(position));
        lastMove = GetTickCount();
        record.positionTicks.push_back(lastMove);
        record.log = WindowText(GetDlgItem(dialog, 1001));
    }
}

RunRecord RunDossierkit(const std::vector<int>& answers, DWORD timeoutMs = 120000,
                        const wchar_t* program = L"dossierkit.exe") {
    RunRecord record;
    HANDLE process = StartProcess(L"\"" + BuiltProgram(program) + L"\"");
    if (process == nullptr)
        return record;
    DWORD processId = GetProcessId(process);
    size_t nextAnswer = 0;
    DWORD start = GetTickCount(), yesAt = 0, lastSearch = 0, lastMove = 0;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    HWND dialog = nullptr, bar = nullptr;
    while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process, 124);
            break;
        }
        if (dialog != nullptr) {
            RecordPosition(record, dialog, bar, lastMove);
            if (!IsWindow(dialog)) {
                dialog = nullptr;
                record.buildMs = GetTickCount() - yesAt;
                if (!record.positionTicks.empty())
                    record.closeMs = GetTickCount() - record.positionTicks.back();
            }
        }
        // Boxes are looked for often before and after the dialog, but while the
        // bar moves only once it has stood still for a while (the worker's own
        // boxes stop it), so that no search hides a short-lived position.
        DWORD pause = dialog == nullptr ? 20 : 300;
        if (GetTickCount() - lastSearch < pause || GetTickCount() - lastMove < pause) {
            if (dialog == nullptr)
                Sleep(2);
            continue;
        }
        lastSearch = GetTickCount();
        Found found;
        found.processId = processId;
        EnumWindows(FindWindowsOf, reinterpret_cast<LPARAM>(&found));
        if (found.dialog != nullptr && dialog == nullptr) {
            dialog = found.dialog;
            bar = GetDlgItem(dialog, 1000);
            record.dialogSeen = true;
            record.dialogAfterMs = GetTickCount() - yesAt;
            record.log = WindowText(GetDlgItem(dialog, 1001));
            // A box found in the same pass ends the dialog once answered: read the bar first.
            RecordPosition(record, dialog, bar, lastMove);
        }
        if (found.box != nullptr) {
            if (dialog != nullptr)
                record.log = WindowText(GetDlgItem(dialog, 1001));
            Sleep(150);  // let it finish drawing
            BoxSeen box;
            box.text = MessageBoxText(found.box);
            box.icon = MessageBoxIcon(found.box);
            box.yes = HasButton(found.box, IDYES);
            box.no = HasButton(found.box, IDNO);
            box.ok = HasButton(found.box, IDOK);
            record.boxes.push_back(box);
            // A scripted answer goes to the first box that offers its button.
            int answer = box.ok ? IDOK : IDNO;
            if (nextAnswer < answers.size() && HasButton(found.box, answers[nextAnswer]))
                answer = answers[nextAnswer++];
            if (record.boxes.size() == 1 && answer == IDYES)
                yesAt = GetTickCount();
            PressButton(found.box, answer);
            WaitForWindowGone(found.box, 10000);
        }
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    record.exitCode = WaitForExit(process, 10000);
    CloseHandle(process);
    return record;
}

// Wine keeps icon images in the process that loaded them, so from outside a
// box's icon can be told apart only when the handles match; otherwise it is
// enough that it shows one.
bool ShowsIcon(const BoxSeen& box, UINT expected) {
    return box.icon == expected;
}

std::string BoxTexts(const RunRecord& run) {
    std::string texts;
    for (const BoxSeen& box : run.boxes)
        texts += "[" + Narrow(box.text) + "] ";
    return texts;
}

std::wstring LocalAppData() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path);
    return path;
}

void MakeDirectories(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

void SetDesktop(const std::wstring& path) {
    RegSetString(HKEY_CURRENT_USER, SHELL_FOLDERS, L"Desktop", path, REG_EXPAND_SZ);
}

// A value of the user's shell folders set for one test and put back after it.
class ShellFolderValue {
public:
    ShellFolderValue(const wchar_t* name, const std::wstring& value) : name_(name) {
        saved_ = RegGetRaw(HKEY_CURRENT_USER, SHELL_FOLDERS, name, &type_, &raw_);
        RegSetString(HKEY_CURRENT_USER, SHELL_FOLDERS, name, value, REG_EXPAND_SZ);
    }
    ~ShellFolderValue() {
        if (saved_)
            RegSetRaw(HKEY_CURRENT_USER, SHELL_FOLDERS, name_, type_, raw_.data(), DWORD(raw_.size()));
    }

private:
    const wchar_t* name_;
    bool saved_ = false;
    DWORD type_ = 0;
    std::string raw_;
};

// Where the program's temporary files could be left: the user's TEMP and the
// Windows directory's Temp.
std::vector<std::wstring> TemporaryFolders() {
    wchar_t userTemp[MAX_PATH + 1] = {};
    wchar_t windows[MAX_PATH] = {};
    GetTempPathW(MAX_PATH + 1, userTemp);
    GetWindowsDirectoryW(windows, MAX_PATH);
    size_t length = wcslen(userTemp);
    if (length > 3 && userTemp[length - 1] == L'\\')
        userTemp[length - 1] = L'\0';
    return {userTemp, std::wstring(windows) + L"\\Temp"};
}

std::string NamesText(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names)
        text += Narrow(name) + " ";
    return text;
}

// The files below root, depth first, a folder's contents right after it, each
// level in the order the platform enumerates it: the order the package keeps.
void WalkFiles(const std::wstring& root, const std::wstring& below, std::string& names) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + below + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            WalkFiles(root, below + L"\\" + name, names);
        else
            names += Narrow(L"files" + below + L"\\" + name) + "\n";
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Values the registry step must find, each in the view its row reads; on
// 64-bit Windows the two Morquaine rows see different values.
void SetRegistryFixtures() {
    const struct {
        const wchar_t* key;
        const wchar_t* name;
        const wchar_t* value;
        REGSAM view;
    } values[] = {
        {L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server", L"DkFixture", L"termsrv", KEY_WOW64_64KEY},
        {L"SOFTWARE\\Policies\\Microsoft\\Windows NT", L"DkFixture", L"winntpolicies", KEY_WOW64_64KEY},
        {L"SOFTWARE\\Morquaine", L"View64", L"native view", KEY_WOW64_64KEY},
        {L"SOFTWARE\\Morquaine", L"View32", L"32-bit view", KEY_WOW64_32KEY},
    };
    for (const auto& v : values)
        ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, v.key, v.name, v.value, REG_SZ, v.view)) << Narrow(v.key);
}

// A sample installation, a Desktop of the test's own and the stand-ins.
struct DossierkitRun : ::testing::Test {
    std::wstring desktop = L"C:\\dk-desktop";
    std::wstring package = desktop + L"\\Morquaine-QEVSCAN.zrpk";
    std::wstring artifacts = ArtifactFolder(L"run");
    std::wstring recordFile = artifacts + L"\\rundll32-command.txt";
    std::wstring listerPidFile = artifacts + L"\\lister-pid.txt";
    std::wstring savedDesktop;
    // The test is the desktop shell, of the program's own account: the program
    // then takes on the shell user for the user's places and the upload start.
    std::unique_ptr<ShellWindowThread> shell;

    void SetUp() override {
        shell.reset(new ShellWindowThread());
        ASSERT_NE(nullptr, shell->window()) << "no shell window: one left by another test?";
        DWORD type = 0;
        std::string raw;
        if (RegGetRaw(HKEY_CURRENT_USER, SHELL_FOLDERS, L"Desktop", &type, &raw))
            savedDesktop.assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
        while (!savedDesktop.empty() && savedDesktop.back() == L'\0')
            savedDesktop.pop_back();
        RemoveTree(desktop);
        MakeDirectories(desktop);
        SetDesktop(desktop);

        MakeDirectories(INSTALL_DIR);
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"dk_fake_lister.exe").c_str(),
                              (std::wstring(INSTALL_DIR) + L"qevdslister.exe").c_str(), FALSE));
        WriteFileBytes(std::wstring(INSTALL_DIR) + L"readme.txt", "QEV Scan\r\n");
        ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"InstallDir", INSTALL_DIR));

        SetRegistryFixtures();

        std::wstring userFolder = LocalAppData() + L"\\Morquaine\\QEV-SCAN";
        MakeDirectories(userFolder + L"\\logs\\old");
        WriteFileBytes(userFolder + L"\\settings.ini", "[scan]\r\nresolution=300\r\n");
        WriteFileBytes(userFolder + L"\\logs\\scan.log", std::string("binary\0log\xff", 11));
        WriteFileBytes(userFolder + L"\\logs\\old\\first.log", "first\r\n");
        WriteFileBytes(userFolder + L"\\a.dat", "a");
        // Beside the folder logs: a sort by full path would put it before logs' contents.
        WriteFileBytes(userFolder + L"\\logs.txt", "beside logs");
        std::string walkOrder;
        WalkFiles(userFolder, L"", walkOrder);
        WriteFileBytes(artifacts + L"\\files-walk-order.txt", walkOrder);

        // The browser start goes to a recorder in place of the system's rundll32.exe.
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"dk_fake_rundll32.exe").c_str(),
                              (SystemDirectory() + L"\\rundll32.exe").c_str(), FALSE));
        DeleteFileW(recordFile.c_str());
        DeleteFileW(listerPidFile.c_str());
        SetEnvironmentVariableW(L"DK_RECORD_FILE", recordFile.c_str());
        SetEnvironmentVariableW(L"DK_LISTER_PID_FILE", listerPidFile.c_str());
        SetEnvironmentVariableW(L"DK_LISTER_MODE", L"chatty");
        // A 32-bit prefix would otherwise run Wine's own rundll32 in its place.
        RegSetString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"rundll32.exe", L"native");
    }
    void TearDown() override {
        if (!savedDesktop.empty())
            SetDesktop(savedDesktop);
        shell.reset();
    }
    void KeepPackage(const wchar_t* name) {
        ASSERT_TRUE(CopyFileW(package.c_str(), (artifacts + L"\\" + name).c_str(), FALSE)) << Narrow(name);
    }
};

}  // namespace

TEST_F(DossierkitRun, NoToTheQuestionEndsWithoutADialog) {
    RunRecord run = RunDossierkit({IDNO});
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(QUESTION, run.boxes[0].text);
    EXPECT_TRUE(ShowsIcon(run.boxes[0], MB_ICONQUESTION));
    EXPECT_TRUE(run.boxes[0].yes && run.boxes[0].no && !run.boxes[0].ok);
    EXPECT_FALSE(run.dialogSeen);
    EXPECT_FALSE(FileExists(package));
}

TEST_F(DossierkitRun, CompleteBuildReplacesTheOldPackageAndStartsTheUploadPage) {
    WriteFileBytes(package, std::string(100000, 'o'));  // an older package
    // Programs that an unquoted lister path would start first, as administrator.
    const std::wstring planted[] = {L"C:\\Program.exe", L"C:\\Program Files\\Morquaine.exe"};
    for (const std::wstring& path : planted)
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"dk_fake_rundll32.exe").c_str(), path.c_str(), FALSE));
    WriteFileBytes(artifacts + L"\\lister-expected.bin", ChattyListerCapture());
    std::vector<std::vector<std::wstring>> temporaryBefore;
    for (const std::wstring& folder : TemporaryFolders())
        temporaryBefore.push_back(FolderNames(folder));
    RunRecord run = RunDossierkit({IDYES, IDYES});
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size()) << BoxTexts(run);
    EXPECT_EQ(SUCCESS, run.boxes[1].text);
    EXPECT_EQ(0u, run.boxes[1].icon);
    EXPECT_TRUE(run.boxes[1].yes && run.boxes[1].no && !run.boxes[1].ok);
    EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
    EXPECT_EQ(CompleteLog(package), run.log);

    std::string bytes = ReadFileBytes(package);
    EXPECT_EQ("PK\x03\x04", bytes.substr(0, 4));
    KeepPackage(L"complete.zrpk");

    EXPECT_EQ(ExpectedUploadLine(), RecordedStart(recordFile))
        << "only the upload start is recorded: no planted program ran";
    for (const std::wstring& path : planted)
        DeleteFileW(path.c_str());
    for (size_t i = 0; i < temporaryBefore.size(); ++i) {
        std::wstring folder = TemporaryFolders()[i];
        EXPECT_EQ(NamesText(temporaryBefore[i]), NamesText(FolderNames(folder)))
            << "the run left something in " << Narrow(folder);
    }
    printf("[ measure  ] build %lu ms (3200 ms of it prescribed waits)\n", run.buildMs);
    printf("[ measure  ] question answered to dialog shown %lu ms; position 100 to dialog end %lu ms\n",
           run.dialogAfterMs, run.closeMs);
    // Time each step took beyond its wait: what its collectors cost.
    const DWORD waits[] = {200, 200, 200, 200, 200, 100, 100, 100, 100, 100, 100, 100,
                           200, 100, 100, 100, 100, 100, 100, 100, 100, 0};
    if (run.positionTicks.size() == COMPLETE_POSITIONS.size()) {
        for (size_t i = 1; i < run.positions.size(); ++i) {
            long beyond = long(run.positionTicks[i] - run.positionTicks[i - 1]) - long(waits[i - 1]);
            printf("[ measure  ] to %3d: %5ld ms beyond the wait\n", run.positions[i], beyond);
        }
    }
    EXPECT_GE(run.buildMs, 3200u);
}

TEST_F(DossierkitRun, WithoutAUsableInstallDirTheListerStepsAddNothing) {
    struct Case {
        const wchar_t* keep;
        bool expandable;
    } cases[] = {{L"no-installdir.zrpk", false}, {L"expandable-installdir.zrpk", true}};
    for (const Case& c : cases) {
        RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
        if (c.expandable)
            RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"InstallDir", INSTALL_DIR, REG_EXPAND_SZ);
        RunRecord run = RunDossierkit({IDYES, IDNO});
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(2u, run.boxes.size());
        EXPECT_EQ(SUCCESS, run.boxes[1].text);
        EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
        EXPECT_EQ(CompleteLog(package), run.log) << "both step lines are still logged";
        EXPECT_FALSE(FileExists(listerPidFile)) << "the lister never ran";
        KeepPackage(c.keep);
    }
    Sleep(500);
    EXPECT_FALSE(FileExists(recordFile)) << "No starts nothing";
}

TEST_F(DossierkitRun, ListerThatWritesNothingAddsNoEntry) {
    SetEnvironmentVariableW(L"DK_LISTER_MODE", L"silent");
    RunRecord run = RunDossierkit({IDYES, IDNO});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
    EXPECT_TRUE(FileExists(listerPidFile));
    KeepPackage(L"silent-lister.zrpk");
}

TEST_F(DossierkitRun, ListerThatClosesItsOutputAndStaysIsEndedAfter15Seconds) {
    SetEnvironmentVariableW(L"DK_LISTER_MODE", L"linger");
    RunRecord run = RunDossierkit({IDYES, IDNO});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
    EXPECT_GE(run.buildMs, 3200u + 15000u);
    KeepPackage(L"lingering-lister.zrpk");
    DWORD listerId = strtoul(ReadFileBytes(listerPidFile).c_str(), nullptr, 10);
    HANDLE lister = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, listerId);
    if (lister != nullptr) {  // still known: it must have ended, with exit code 1
        EXPECT_EQ(1u, WaitForExit(lister, 5000));
        CloseHandle(lister);
    }
    printf("[ measure  ] build with a lingering lister %lu ms\n", run.buildMs);
}

TEST_F(DossierkitRun, PackageNameTakenByAFolder) {
    CreateDirectoryW(package.c_str(), nullptr);
    RunRecord run = RunDossierkit({IDYES});
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(3u, run.boxes.size());
    EXPECT_EQ(L"Error creating zip file!", run.boxes[1].text);
    EXPECT_TRUE(ShowsIcon(run.boxes[1], MB_ICONERROR));
    EXPECT_EQ(FAILED, run.boxes[2].text);
    EXPECT_TRUE(ShowsIcon(run.boxes[2], MB_ICONERROR));
    EXPECT_EQ(L"Creating [" + package + L"]\r\n\r\n", run.log);
    EXPECT_EQ(std::vector<int>{10}, run.positions);
    EXPECT_TRUE(GetFileAttributesW(package.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(package.c_str());
}

// A name on the Desktop that leads elsewhere is the user's doing, not a
// package: the elevated program must neither write nor create through it.
TEST_F(DossierkitRun, PackageNameThatLeadsOutsideTheDesktopIsRefused) {
    const std::wstring outsideFolder = L"C:\\dk-outside";
    const std::wstring outside = outsideFolder + L"\\system-file.dat";
    const std::wstring missing = outsideFolder + L"\\missing.dat";
    const std::string outsideBytes = "only the administrator may change this\r\n";
    enum Link { SYMLINK, HARD_LINK };
    const struct {
        const char* name;
        Link link;
        const std::wstring& target;
        bool targetExists;
    } cases[] = {
        {"symbolic link to an outside file", SYMLINK, outside, true},
        {"hard link to an outside file", HARD_LINK, outside, true},
        {"symbolic link to a missing outside file", SYMLINK, missing, false},
    };
    for (const auto& c : cases) {
        RemoveTree(outsideFolder);
        MakeDirectories(outsideFolder);
        ASSERT_TRUE(WriteBackdatedFile(outside, outsideBytes));
        FILETIME before = LastWriteTime(outside);
        // A link to a missing file is made while its target is there: the
        // helper waits until the link leads somewhere.
        if (!c.targetExists) {
            ASSERT_TRUE(WriteFileBytes(c.target, "soon gone"));
        }
        bool linked = c.link == SYMLINK ? MakeUnixSymlink(package, UnixPath(c.target))
                                        : CreateHardLinkW(package.c_str(), c.target.c_str(), nullptr) != FALSE;
        ASSERT_TRUE(linked) << c.name;
        if (!c.targetExists) {
            ASSERT_TRUE(DeleteFileW(c.target.c_str()));
        }

        RunRecord run = RunDossierkit({IDYES});
        EXPECT_EQ(0u, run.exitCode) << c.name;
        EXPECT_EQ(3u, run.boxes.size()) << c.name << ": " << BoxTexts(run);
        if (run.boxes.size() == 3) {
            EXPECT_EQ(L"Error creating zip file!", run.boxes[1].text) << c.name;
            EXPECT_TRUE(ShowsIcon(run.boxes[1], MB_ICONERROR)) << c.name;
            EXPECT_EQ(FAILED, run.boxes[2].text) << c.name;
        }
        EXPECT_EQ(L"Creating [" + package + L"]\r\n\r\n", run.log) << c.name;
        EXPECT_EQ(std::vector<int>{10}, run.positions) << c.name;
        // Compared quietly: a package written through the link would fill the log.
        std::string outsideNow = ReadFileBytes(outside);
        EXPECT_TRUE(outsideNow == outsideBytes) << c.name << ": outside file now " << outsideNow.size() << " bytes";
        FILETIME after = LastWriteTime(outside);
        EXPECT_EQ(0, CompareFileTime(&before, &after)) << c.name << ": outside file written";
        EXPECT_FALSE(FileExists(missing)) << c.name << ": created through the link";
        // The link itself; a delete by name would take the target with it.
        RemoveUnixSymlink(package);
    }
    RemoveTree(outsideFolder);
}

// The program only reads the user's folder; a missing one stays missing.
TEST_F(DossierkitRun, MissingLocalAppDataIsNotCreated) {
    const std::wstring base = L"C:\\dk-no-local-appdata";
    const std::wstring missingFolder = base + L"\\AppData\\Local";
    RemoveTree(base);
    RunRecord run;
    {
        ShellFolderValue localAppData(L"Local AppData", missingFolder);
        run = RunDossierkit({IDYES, IDNO});
    }
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size()) << BoxTexts(run);
    EXPECT_EQ(SUCCESS, run.boxes[1].text);
    EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
    EXPECT_EQ(CompleteLog(package), run.log);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(base.c_str())) << "the folder was made";
    RemoveTree(base);
}

TEST_F(DossierkitRun, DesktopThatCannotBeFoundOrIsTooLong) {
    // 236 characters still take the package name; 237 do not.
    std::wstring base = L"C:\\dk-deep\\";
    std::wstring deep236 = base;
    while (deep236.size() < 236)
        deep236 += std::wstring(std::min<size_t>(100, 236 - deep236.size()), L'd') + L"\\";
    deep236.pop_back();
    deep236.resize(236);
    ASSERT_EQ(L'd', deep236.back());
    std::wstring deep237 = deep236 + L"e";
    MakeDirectories(deep236);
    MakeDirectories(deep237);

    struct Case {
        std::wstring desktop;
        bool builds;
    } cases[] = {{L"C:\\dk-no-such-desktop", false}, {deep237, false}, {deep236, true}};
    for (const Case& c : cases) {
        SetDesktop(c.desktop);
        RunRecord run = RunDossierkit({IDYES, IDNO});
        EXPECT_EQ(0u, run.exitCode);
        std::wstring packagePath = c.desktop + L"\\Morquaine-QEVSCAN.zrpk";
        if (c.builds) {
            ASSERT_EQ(2u, run.boxes.size());
            EXPECT_EQ(SUCCESS, run.boxes[1].text);
            EXPECT_EQ(259u, packagePath.size());
            EXPECT_TRUE(FileExists(packagePath));
            EXPECT_EQ(CompleteLog(packagePath), run.log);
        } else {
            ASSERT_EQ(3u, run.boxes.size()) << Narrow(c.desktop) << BoxTexts(run);
            EXPECT_EQ(L"Error. Could not retrieve the Desktop folder path.", run.boxes[1].text);
            EXPECT_TRUE(ShowsIcon(run.boxes[1], MB_ICONERROR));
            EXPECT_EQ(FAILED, run.boxes[2].text);
            EXPECT_EQ(L"", run.log);
            EXPECT_FALSE(FileExists(packagePath));
        }
    }
    RemoveTree(L"C:\\dk-deep");
}

// Whole runs of the frame that end in a refusal or a failure; a prefix of
// their own, beside the runs above.
using DossierkitFrame = DossierkitRun;

TEST_F(DossierkitFrame, NonAdministratorIsRefusedBeforeTheQuestion) {
    // The same frame with a membership decision that says no.
    RunRecord run = RunDossierkit({}, 30000, L"dk_not_administrator.exe");
    EXPECT_EQ(1u, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size()) << BoxTexts(run);
    EXPECT_EQ(L"Error. This utility requires administrative privileges.", run.boxes[0].text);
    EXPECT_TRUE(ShowsIcon(run.boxes[0], MB_ICONERROR));
    EXPECT_TRUE(run.boxes[0].ok && !run.boxes[0].yes && !run.boxes[0].no);
    EXPECT_FALSE(run.dialogSeen);
    EXPECT_FALSE(FileExists(package));
}

TEST_F(DossierkitFrame, PackageThatCannotBeCompletedIsReportedAsNotCreated) {
    // The same frame with every write to the archive refused, so the whole
    // build runs and only the close fails.
    const std::wstring& fullPackage = package;
    RunRecord run = RunDossierkit({IDYES, IDNO}, 60000, L"dk_failing_writes.exe");
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size()) << BoxTexts(run);
    EXPECT_EQ(FAILED, run.boxes[1].text) << "no upload offer";
    EXPECT_TRUE(ShowsIcon(run.boxes[1], MB_ICONERROR));
    EXPECT_TRUE(run.boxes[1].ok && !run.boxes[1].yes && !run.boxes[1].no);
    EXPECT_EQ(CompletePositionsAsSeen(run.positions), run.positions);
    EXPECT_EQ(CompleteLog(fullPackage), run.log);
    Sleep(500);
    EXPECT_FALSE(FileExists(recordFile)) << "nothing was started";
}
