// addinwire end to end: run the real program in the prefix, answer its boxes,
// read the registration back with reg.exe and as raw registry data.
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

const wchar_t PRODUCT_KEY[] = L"SOFTWARE\\Morquaine\\QEV-SCAN";
const wchar_t ADDINS_KEY[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
const wchar_t KEY_32[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\QEVSCAN";
const wchar_t KEY_64[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\QEVSCAN64";
const wchar_t CAPTION[] = L"Morquaine QEV Scan Setup";
const wchar_t MESSAGE_A[] = L"Error retrieving QEV Scan installation directory!";
const wchar_t MESSAGE_B[] = L"Error updating QEV Scan Remote Desktop Client Add-on configuration!";

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

struct AddinRun {
    std::vector<std::wstring> messages;
    DWORD exitCode = STILL_ACTIVE;
};

// Runs addinwire, pressing OK on every box it shows, and checks each box's style.
AddinRun RunAddinwire() {
    AddinRun run;
    HANDLE process = StartProcess(L"\"" + BuiltProgram(L"addinwire.exe") + L"\"");
    EXPECT_NE(process, nullptr);
    if (process == nullptr)
        return run;
    const DWORD processId = GetProcessId(process);
    for (;;) {
        HWND box = WaitForDialog(CAPTION, 250, processId);
        if (box == nullptr) {
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
                break;
            continue;
        }
        Sleep(100);
        run.messages.push_back(MessageBoxText(box));
        EXPECT_TRUE(HasButton(box, IDOK));
        EXPECT_FALSE(HasButton(box, IDCANCEL));
        EXPECT_FALSE(HasButton(box, IDYES));
        EXPECT_EQ(MessageBoxIcon(box), 0u) << "addinwire's boxes have no icon";
        PressButton(box, IDOK);
        WaitForWindowGone(box, 10000);
    }
    run.exitCode = WaitForExit(process, 30000);
    CloseHandle(process);
    return run;
}

// What reg.exe prints for the value "Name" of a user key, or "" when absent.
std::string RegQueryName(const wchar_t* key) {
    ProcessResult result =
        RunCommand(L"reg.exe query \"HKCU\\" + std::wstring(key) + L"\" /v Name");
    if (!result.started || result.exitCode != 0)
        return std::string();
    return result.output;
}

std::wstring StoredName(const wchar_t* key, DWORD* bytes = nullptr) {
    DWORD type = 0;
    std::string data;
    if (!RegGetRaw(HKEY_CURRENT_USER, key, L"Name", &type, &data))
        return std::wstring();
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    if (bytes)
        *bytes = static_cast<DWORD>(data.size());
    std::wstring value(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    return value;
}

class Addinwire : public ::testing::Test {
protected:
    void SetUp() override {
        RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
        RegRemoveTree(HKEY_CURRENT_USER, ADDINS_KEY);
    }
    void TearDown() override {
        RegRemoveTree(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
        RegRemoveTree(HKEY_CURRENT_USER, ADDINS_KEY);
    }
    static void SetInstallDir(const std::wstring& directory, DWORD type = REG_SZ) {
        ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"installDir", directory, type));
    }
    // One message B per registration attempted (two under WOW64), and no value written.
    static void ExpectEveryRegistrationFailed(const AddinRun& run) {
        EXPECT_EQ(run.exitCode, 0u);
        const size_t expected = RunsUnderWow64() ? 2 : 1;
        ASSERT_EQ(run.messages.size(), expected);
        for (const std::wstring& message : run.messages)
            EXPECT_EQ(message, MESSAGE_B);
        ExpectNothingRegistered();
    }
    static void ExpectNothingRegistered() {
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, KEY_32));
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, KEY_64));
    }
};

// Without a product key addinwire shows message A, and the box makes Wine's
// user32 load uxtheme.dll by name: from the system directory, not from beside
// the program.
TEST_F(Addinwire, DllPlantedBesideItIsNotLoaded) {
    PlantedDllRun control = RunBesidePlantedDll(L"planted_dll_control.exe", L"uxtheme.dll", L"Planted DLL control");
    ASSERT_TRUE(control.answered && control.loaded)
        << "a program that does not restrict its search loads the planted DLL";
    PlantedDllRun run = RunBesidePlantedDll(L"addinwire.exe", L"uxtheme.dll", CAPTION);
    EXPECT_TRUE(run.answered) << "message A was shown";
    EXPECT_FALSE(run.loaded);
}

TEST_F(Addinwire, RegistersBothDllsUnderWow64AndOnlyThe32BitOneOtherwise) {
    SetInstallDir(L"C:\\Program Files\\Morquaine\\QEV Scan\\");
    AddinRun run = RunAddinwire();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.messages.empty());

    DWORD bytes = 0;
    const std::wstring expected32 = L"C:\\Program Files\\Morquaine\\QEV Scan\\qevRdpAddin.dll";
    std::wstring stored = StoredName(KEY_32, &bytes);
    // The data holds the path and exactly one terminating zero character.
    EXPECT_EQ(bytes, (expected32.size() + 1) * 2);
    EXPECT_EQ(stored, expected32 + L'\0');
    EXPECT_NE(RegQueryName(KEY_32).find(Narrow(expected32)), std::string::npos);

    if (RunsUnderWow64()) {
        const std::wstring expected64 = L"C:\\Program Files\\Morquaine\\QEV Scan\\qevRdpAddin64.dll";
        stored = StoredName(KEY_64, &bytes);
        EXPECT_EQ(bytes, (expected64.size() + 1) * 2);
        EXPECT_EQ(stored, expected64 + L'\0');
        EXPECT_NE(RegQueryName(KEY_64).find(Narrow(expected64)), std::string::npos);
    } else {
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, KEY_64));
        EXPECT_EQ(RegQueryName(KEY_64), "");
    }
}

TEST_F(Addinwire, OverwritesAnExistingNameInAnExistingKey) {
    ASSERT_TRUE(RegSetString(HKEY_CURRENT_USER, KEY_32, L"Name", L"old value"));
    ASSERT_TRUE(RegSetString(HKEY_CURRENT_USER, KEY_32, L"Other", L"kept"));
    SetInstallDir(L"D:\\QEV\\");
    AddinRun run = RunAddinwire();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(StoredName(KEY_32), std::wstring(L"D:\\QEV\\qevRdpAddin.dll") + L'\0');
    DWORD type = 0;
    std::string other;
    EXPECT_TRUE(RegGetRaw(HKEY_CURRENT_USER, KEY_32, L"Other", &type, &other));
}

TEST_F(Addinwire, UsesTheDirectoryAsStored) {
    struct Case {
        const wchar_t* stored;
        DWORD type;
        const wchar_t* expected;
    };
    const Case cases[] = {
        // No separator is inserted: the stored directory must supply it.
        {L"C:\\Program Files\\QEV", REG_SZ, L"C:\\Program Files\\QEVqevRdpAddin.dll"},
        // An expandable string is written unexpanded.
        {L"%ProgramFiles%\\QEV\\", REG_EXPAND_SZ, L"%ProgramFiles%\\QEV\\qevRdpAddin.dll"},
        {L"%UNSET_QEV_VARIABLE%\\", REG_EXPAND_SZ, L"%UNSET_QEV_VARIABLE%\\qevRdpAddin.dll"},
    };
    for (const Case& c : cases) {
        SetUp();
        SetInstallDir(c.stored, c.type);
        AddinRun run = RunAddinwire();
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.messages.empty());
        EXPECT_EQ(StoredName(KEY_32), std::wstring(c.expected) + L'\0') << Narrow(c.stored);
    }
}

TEST_F(Addinwire, MissingProductKeyShowsMessageAAndLeavesTheEmptyKey) {
    AddinRun run = RunAddinwire();
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0], MESSAGE_A);
    // Run as administrator: the key was created, empty.
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, PRODUCT_KEY));
    DWORD type = 0;
    std::string data;
    EXPECT_FALSE(RegGetRaw(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"installDir", &type, &data));
    ExpectNothingRegistered();
}

TEST_F(Addinwire, UnusableInstallDirShowsMessageAAndWritesNothing) {
    const DWORD number = 42;
    const std::wstring tooLong(1100, L'x');   // 2202 bytes: more than the 2048-byte buffer
    const std::wstring fillsBuffer(1024, L'y');  // exactly 2048 bytes, no room for a terminator
    struct Case {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
    };
    const Case cases[] = {
        {"missing", REG_NONE, nullptr, 0},
        {"REG_DWORD", REG_DWORD, &number, sizeof(number)},
        {"REG_MULTI_SZ", REG_MULTI_SZ, L"C:\\a\\\0\0", 14},
        {"longer than 2048 bytes", REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2)},
        {"2048 bytes without terminator", REG_SZ, fillsBuffer.c_str(), 2048},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.data == nullptr) {
            ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"unrelated", L"x"));
        } else {
            ASSERT_TRUE(RegSetRaw(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"installDir", c.type, c.data, c.size));
        }
        AddinRun run = RunAddinwire();
        EXPECT_EQ(run.exitCode, 0u) << c.what;
        ASSERT_EQ(run.messages.size(), 1u) << c.what;
        EXPECT_EQ(run.messages[0], MESSAGE_A) << c.what;
        ExpectNothingRegistered();
    }
}

TEST_F(Addinwire, ValueWithoutTerminatorIsUsedUpToItsEnd) {
    const wchar_t directory[] = L"C:\\QEV\\";  // stored without its zero character
    ASSERT_TRUE(RegSetRaw(HKEY_LOCAL_MACHINE, PRODUCT_KEY, L"installDir", REG_SZ, directory,
                          sizeof(directory) - sizeof(wchar_t)));
    AddinRun run = RunAddinwire();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.messages.empty());
    EXPECT_EQ(StoredName(KEY_32), std::wstring(L"C:\\QEV\\qevRdpAddin.dll") + L'\0');
}

TEST_F(Addinwire, PathThatDoesNotFitIsAFailedRegistration) {
    // 1015 characters fit the directory buffer, but not the 1024-character path with a DLL name.
    SetInstallDir(L"C:\\" + std::wstring(1012, L'd'));
    ExpectEveryRegistrationFailed(RunAddinwire());
}

TEST_F(Addinwire, UnwritableAddinKeyShowsMessageBForEachRegistration) {
    // A volatile AddIns key cannot hold the non-volatile add-in keys, so both
    // registrations fail; the 64-bit one is still attempted after the first failure.
    HKEY addins = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, ADDINS_KEY, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE, nullptr, &addins, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(addins);
    SetInstallDir(L"C:\\QEV\\");
    ExpectEveryRegistrationFailed(RunAddinwire());
}

}  // namespace
