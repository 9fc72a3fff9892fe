// Registry exports gathered from fixtures in the test prefix's registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "private_temp_checks.h"
#include "registry.h"
#include "registry_format.h"
#include "value_bytes.h"
#include "shared_helpers.h"
#include "test_support.h"
#include "ziparchive.h"

using namespace testsupport;

namespace {

const std::wstring fixtureRoot = L"SOFTWARE\\RegexportTests";
const std::wstring header = L"Windows Registry Editor Version 5.00\r\n\r\n";

REGSAM NativeView() { return RegistryViewFlag(QueryWow64Process(), 0); }

// The prefix records its architecture beside its drive.
bool PrefixIsWin64() {
    const char* prefix = std::getenv("WINE_TEST_PREFIX");
    return prefix != nullptr &&
           ReadFileBytes(FromUnixPath(std::string(prefix) + "/winearch")).compare(0, 5, "win64") == 0;
}

std::string FileBytesOf(const std::wstring& text) { return "\xff\xfe" + Utf16(text); }

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Each test works under a key named after it, removed before and after.
class RegistryExport : public ::testing::Test {
protected:
    void SetUp() override {
        key = FixtureRoot() + L"\\" +
              Widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fullName = L"HKEY_LOCAL_MACHINE\\" + key;
        RemoveFixtures();
    }
    void TearDown() override { RemoveFixtures(); }
    virtual std::wstring FixtureRoot() const { return fixtureRoot; }

    void RemoveFixtures() {
        RegRemoveTree(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY);
        RegRemoveTree(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY);
        RegRemoveTree(HKEY_LOCAL_MACHINE, FixtureRoot(), KEY_WOW64_64KEY);
        RegRemoveTree(HKEY_LOCAL_MACHINE, FixtureRoot(), KEY_WOW64_32KEY);
    }

    void Set(const std::wstring& sub, const wchar_t* name, DWORD type, const std::string& data,
             REGSAM view = NativeView()) {
        std::wstring path = sub.empty() ? key : key + L"\\" + sub;
        ASSERT_TRUE(RegSetRaw(HKEY_LOCAL_MACHINE, path, name, type, data.data(),
                              static_cast<DWORD>(data.size()), view))
            << Narrow(path);
    }

    void CreateKey(const std::wstring& sub, REGSAM view = NativeView()) {
        HKEY handle = nullptr;
        std::wstring path = sub.empty() ? key : key + L"\\" + sub;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | view,
                                  nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
    }

    std::wstring Export(REGSAM view = NativeView()) { return BuildRegistryExport(key.c_str(), view); }

    std::wstring key;
    std::wstring fullName;
};

// Value names sort in creation order, so the registry's enumeration order is
// the same whether it keeps creation order or sorts by name.
TEST_F(RegistryExport, ExportsEveryValueTypeIntact) {
    std::string bin300;
    for (int i = 0; i < 300; ++i)
        bin300.push_back(static_cast<char>(i * 7));
    Set(L"", L"", REG_SZ, Utf16(std::wstring(L"default \"text\"", 15)));
    Set(L"", L"v01 none", REG_NONE, Bytes({1, 2}));
    Set(L"", L"v02 sz0", REG_SZ, "");
    Set(L"", L"v03 sz1", REG_SZ, Bytes({0x41}));
    Set(L"", L"v04 sz2", REG_SZ, Bytes({0, 0}));
    Set(L"", L"v05 sz nul", REG_SZ, Utf16(std::wstring(L"a\0b\0", 4)));
    Set(L"", L"v06 sz text", REG_SZ, Utf16(std::wstring(L"C:\\Path \"quoted\"", 17)));
    Set(L"", L"v07 expand", REG_EXPAND_SZ, Utf16(std::wstring(L"%A%", 4)));
    Set(L"", L"v08 bin0", REG_BINARY, "");
    Set(L"", L"v09 bin300", REG_BINARY, bin300);
    Set(L"", L"v10 dword1", REG_DWORD, Bytes({1, 0, 0, 0}));
    Set(L"", L"v11 dwordff", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff}));
    Set(L"", L"v12 dword short", REG_DWORD, Bytes({0x34, 0x12}));
    Set(L"", L"v13 big endian", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78}));
    Set(L"", L"v14 multi", REG_MULTI_SZ, Utf16(std::wstring(L"a\0b\0\0", 5)));
    Set(L"", L"v15 qword", REG_QWORD, Bytes({0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01}));
    Set(L"", L"v16 back\\slash \"quote\"", REG_SZ, Utf16(std::wstring(L"x", 2)));

    std::wstring expected = header + L"[" + fullName + L"]\r\n" +
                            L"@=\"default \\\"text\\\"\"\r\n"
                            L"\"v01 none\"=hex(0):01,02\r\n"
                            L"\"v02 sz0\"=\"\"\r\n"
                            L"\"v03 sz1\"=\"\"\r\n"
                            L"\"v04 sz2\"=\"\"\r\n" +
                            std::wstring(L"\"v05 sz nul\"=\"a\0b\"\r\n", 20) +
                            L"\"v06 sz text\"=\"C:\\\\Path \\\"quoted\\\"\"\r\n"
                            L"\"v07 expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                            L"\"v08 bin0\"=hex:\r\n" +
                            Line(L"v09 bin300", REG_BINARY, bin300) + L"\r\n" +
                            L"\"v10 dword1\"=dword:00000001\r\n"
                            L"\"v11 dwordff\"=dword:ffffffff\r\n"
                            L"\"v12 dword short\"=hex(4):34,12\r\n"
                            L"\"v13 big endian\"=hex(5):12,34,56,78\r\n"
                            L"\"v14 multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                            L"\"v15 qword\"=hex(b):ef,cd,ab,89,67,45,23,01\r\n"
                            L"\"v16 back\\\\slash \\\"quote\\\"\"=\"x\"\r\n"
                            L"\r\n";
    std::wstring text = Export();
    EXPECT_EQ(Narrow(text), Narrow(expected));
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_EQ(Line(L"v09 bin300", REG_BINARY, bin300).substr(0, 19), L"\"v09 bin300\"=hex:00");
}

TEST_F(RegistryExport, SectionsComeDepthFirstInEnumerationOrder) {
    Set(L"", L"top", REG_DWORD, Bytes({1, 0, 0, 0}));
    CreateKey(L"a");
    CreateKey(L"a\\a1");
    Set(L"a\\a1\\x\\y\\z", L"deep", REG_SZ, Utf16(std::wstring(L"z", 2)));
    Set(L"a\\a2", L"", REG_SZ, Utf16(std::wstring(L"", 1)));
    std::wstring chain = L"b";
    for (int level = 0; level < 20; ++level)
        chain += L"\\level";
    CreateKey(chain);
    CreateKey(L"c \"quoted\"");
    Set(L"c \"quoted\"", L"v", REG_DWORD, Bytes({7, 0, 0, 0}));

    std::wstring expected = header;
    auto section = [&](const std::wstring& sub, const std::wstring& values) {
        expected += L"[" + fullName + (sub.empty() ? L"" : L"\\" + sub) + L"]\r\n" + values + L"\r\n";
    };
    section(L"", L"\"top\"=dword:00000001\r\n");
    section(L"a", L"");
    section(L"a\\a1", L"");
    section(L"a\\a1\\x", L"");
    section(L"a\\a1\\x\\y", L"");
    section(L"a\\a1\\x\\y\\z", L"\"deep\"=\"z\"\r\n");
    section(L"a\\a2", L"@=\"\"\r\n");
    std::wstring level = L"b";
    section(level, L"");
    for (int i = 0; i < 20; ++i) {
        level += L"\\level";
        section(level, L"");
    }
    section(L"c \"quoted\"", L"\"v\"=dword:00000007\r\n");
    EXPECT_EQ(Narrow(Export()), Narrow(expected));
}

TEST_F(RegistryExport, MissingKeyGivesTheHeaderAlone) {
    std::wstring text = Export();
    EXPECT_EQ(text, header);
    std::wstring dir = MakeTempDir(L"regexport_missing");
    std::wstring path = dir + L"\\missing.reg";
    WriteExportFile(path.c_str(), text);
    std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size(), 82u);
    EXPECT_EQ(bytes, FileBytesOf(header));
    RemoveTree(dir);
}

TEST_F(RegistryExport, ValueOverOneMebibyteIsLeftOutAlone) {
    const size_t mebibyte = 1048576;
    std::string exact(mebibyte, '\x5a');
    Set(L"", L"a before", REG_DWORD, Bytes({1, 0, 0, 0}));
    Set(L"", L"b huge", REG_BINARY, std::string(mebibyte + 1, '\x11'));
    Set(L"", L"c exactly one mebibyte", REG_BINARY, exact);
    Set(L"", L"d huge string", REG_SZ, std::string(2 * mebibyte, 'a'));
    Set(L"", L"e after", REG_DWORD, Bytes({2, 0, 0, 0}));
    Set(L"sub", L"kept", REG_DWORD, Bytes({3, 0, 0, 0}));

    std::wstring expected = header + L"[" + fullName + L"]\r\n" +
                            L"\"a before\"=dword:00000001\r\n" +
                            Line(L"c exactly one mebibyte", REG_BINARY, exact) + L"\r\n" +
                            L"\"e after\"=dword:00000002\r\n"
                            L"\r\n"
                            L"[" + fullName + L"\\sub]\r\n"
                            L"\"kept\"=dword:00000003\r\n"
                            L"\r\n";
    std::wstring text = Export();
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected) << "export differs; its first 400 units:\n"
                                  << Narrow(text.substr(0, 400));
}

TEST(RegistryViewFlag, NamesTheViewOnlyUnderWow64) {
    EXPECT_EQ(RegistryViewFlag(FALSE, 0), 0u);
    EXPECT_EQ(RegistryViewFlag(FALSE, 1), 0u);
    EXPECT_EQ(RegistryViewFlag(TRUE, 0), static_cast<REGSAM>(KEY_WOW64_64KEY));
    EXPECT_EQ(RegistryViewFlag(TRUE, 1), static_cast<REGSAM>(KEY_WOW64_32KEY));
    EXPECT_EQ(RegistryViewFlag(TRUE, 2), static_cast<REGSAM>(KEY_WOW64_32KEY));
}

TEST_F(RegistryExport, EachRowReadsTheViewItAsksFor) {
    BOOL wow64 = QueryWow64Process();
    ASSERT_EQ(wow64 != FALSE, PrefixIsWin64());
    Set(L"", L"only32", REG_DWORD, Bytes({0x32, 0, 0, 0}), KEY_WOW64_32KEY);
    Set(L"sub", L"deeper", REG_DWORD, Bytes({0x33, 0, 0, 0}), KEY_WOW64_32KEY);
    std::wstring native = Export(RegistryViewFlag(wow64, 0));
    std::wstring view32 = Export(RegistryViewFlag(wow64, 1));
    std::wstring expected32 = header + L"[" + fullName + L"]\r\n\"only32\"=dword:00000032\r\n\r\n" +
                              L"[" + fullName + L"\\sub]\r\n\"deeper\"=dword:00000033\r\n\r\n";
    EXPECT_EQ(Narrow(view32), Narrow(expected32));
    if (wow64) {
        EXPECT_EQ(Narrow(native), Narrow(header));
        // And a key of the 64-bit view alone is seen by the native row only.
        RemoveFixtures();
        Set(L"", L"only64", REG_DWORD, Bytes({0x64, 0, 0, 0}), KEY_WOW64_64KEY);
        EXPECT_EQ(Narrow(Export(RegistryViewFlag(wow64, 0))),
                  Narrow(header + L"[" + fullName + L"]\r\n\"only64\"=dword:00000064\r\n\r\n"));
        EXPECT_EQ(Narrow(Export(RegistryViewFlag(wow64, 1))), Narrow(header));
    } else {
        EXPECT_EQ(Narrow(native), Narrow(view32));
    }
}

// Runs one of the platform's exporters, which writes its export to path, and
// gives the file's bytes, byte-order mark included.
std::string PlatformExportBytes(const std::wstring& commandLine, const std::wstring& path) {
    ProcessResult run = RunCommand(commandLine);
    EXPECT_TRUE(run.started);
    std::string bytes = ReadFileBytes(path);
    EXPECT_GT(bytes.size(), 2u) << "exit " << run.exitCode << ": " << run.output;
    return bytes;
}

// The platform's own editor, run from the Windows directory so that it is the
// native one and reads the native view.
std::wstring EditorExport(const std::wstring& keyName, const std::wstring& path) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::string bytes = PlatformExportBytes(
        L"\"" + std::wstring(windows) + L"\\regedit.exe\" /e \"" + path + L"\" \"" + keyName + L"\"",
        path);
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xff\xfe") != 0)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

// The platform's command-line exporter, told to read the 64-bit view, which
// is the native one on either kind of prefix.
std::string RegExport64(const std::wstring& keyName, const std::wstring& path) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return PlatformExportBytes(L"\"" + std::wstring(system) + L"\\reg.exe\" export \"" + keyName +
                                   L"\" \"" + path + L"\" /reg:64 /y",
                               path);
}

// HKLM\SYSTEM has one view only, so the editor, whichever its bitness, reads
// the same key as the export.
class EditorCrossCheck : public RegistryExport {
protected:
    std::wstring FixtureRoot() const override { return L"SYSTEM\\RegexportTests"; }
};

TEST_F(EditorCrossCheck, MatchesTheEditorsOwnExportForCommonTypes) {
    std::string bin;
    for (int i = 0; i < 200; ++i)
        bin.push_back(static_cast<char>(255 - i));
    Set(L"", L"", REG_SZ, Utf16(std::wstring(L"default", 8)));
    Set(L"", L"binary", REG_BINARY, bin);
    Set(L"", L"binary empty", REG_BINARY, "");
    Set(L"", L"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}));
    Set(L"", L"dword max", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff}));
    Set(L"", L"expand", REG_EXPAND_SZ, Utf16(std::wstring(L"%SystemRoot%\\system32", 22)));
    Set(L"", L"multi", REG_MULTI_SZ, Utf16(std::wstring(L"one\0two\0\0", 9)));
    Set(L"", L"na\\me \"quoted\"", REG_SZ, Utf16(std::wstring(L"C:\\dir \"x\"", 11)));
    Set(L"", L"none", REG_NONE, Bytes({0, 0}));
    Set(L"", L"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    Set(L"", L"string", REG_SZ, Utf16(std::wstring(L"plain text", 11)));
    Set(L"", L"string empty", REG_SZ, Utf16(std::wstring(L"", 1)));
    std::string longName(100, 'n');
    Set(L"", Widen(longName).c_str(), REG_BINARY, bin.substr(0, 40));
    CreateKey(L"empty");
    Set(L"empty\\child", L"v", REG_SZ, Utf16(std::wstring(L"w", 2)));
    Set(L"second", L"v", REG_DWORD, Bytes({0, 0, 0, 0}));

    std::wstring dir = MakeTempDir(L"regexport_editor");
    std::wstring theirs = EditorExport(fullName, dir + L"\\editor.reg");
    RemoveTree(dir);
    ASSERT_FALSE(theirs.empty()) << "the editor wrote no export";
    std::vector<std::wstring> ourLines = SplitLines(Export());
    std::vector<std::wstring> theirLines = SplitLines(theirs);
    for (size_t i = 0; i < ourLines.size() && i < theirLines.size(); ++i)
        EXPECT_EQ(Narrow(ourLines[i]), Narrow(theirLines[i])) << "line " << i + 1;
    EXPECT_EQ(ourLines.size(), theirLines.size());
}

// Points the temporary directory of this process elsewhere for one test.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::wstring& path) {
        Save(L"TMP", savedTmp, hadTmp);
        Save(L"TEMP", savedTemp, hadTemp);
        SetEnvironmentVariableW(L"TMP", path.c_str());
        SetEnvironmentVariableW(L"TEMP", path.c_str());
    }
    ~TemporaryDirectory() {
        SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp.c_str() : nullptr);
        SetEnvironmentVariableW(L"TEMP", hadTemp ? savedTemp.c_str() : nullptr);
    }

private:
    static void Save(const wchar_t* name, std::wstring& value, bool& had) {
        wchar_t buffer[32768];
        DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
        had = length > 0 && length < 32768;
        value = had ? buffer : L"";
    }
    std::wstring savedTmp, savedTemp;
    bool hadTmp = false, hadTemp = false;
};

size_t FilesIn(const std::wstring& dir) {
    return FolderEntries(dir).size();
}

// Files left in this run's private temporary folder (none when it has none).
size_t FilesInPrivateFolder() {
    const std::wstring folder = PrivateTemporaryFolderPath();
    return folder.empty() ? 0 : FilesIn(folder);
}

TEST_F(RegistryExport, FailedAddLeavesNoTemporaryFile) {
    Set(L"", L"v", REG_DWORD, Bytes({1, 0, 0, 0}));
    privatetemp::WindowsTempWatch watch;
    ArchiveHandle* saved = packageArchive;
    packageArchive = nullptr;  // no archive: the add fails
    EXPECT_EQ(AddRegistryExport(key.c_str(), L"reg\\test.re_", 0), 0);
    EXPECT_EQ(AddRegistryExport(L"SOFTWARE\\RegexportTests\\Missing", L"reg\\missing.re_", 1), 0);
    packageArchive = saved;
    EXPECT_TRUE(privatetemp::IsPrivateFolderPath(PrivateTemporaryFolderPath()));
    EXPECT_EQ(FilesInPrivateFolder(), 0u);
    EXPECT_EQ(watch.RemoveAndCompare(), "");
}

TEST_F(RegistryExport, NoPrivateFolderAddsNothing) {
    Set(L"", L"v", REG_DWORD, Bytes({1, 0, 0, 0}));
    privatetemp::WindowsTempWatch watch;
    std::wstring dir = MakeTempDir(L"regexport_nofolder");
    packageArchive = CreateArchive((dir + L"\\nofolder.zip").c_str());
    ASSERT_NE(packageArchive, nullptr);
    RemovePrivateTemporaryFolder();  // the next add tries to make one
    {
        privatetemp::WindowsTempReplacedByFile noTemp;
        ASSERT_TRUE(noTemp.Replaced());
        EXPECT_EQ(AddRegistryExport(key.c_str(), L"reg\\test.re_", 0), 0);
        EXPECT_TRUE(PrivateTemporaryFolderPath().empty());
        RemovePrivateTemporaryFolder();
    }
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
    // The archive is its end records alone: no entry was begun.
    EXPECT_EQ(ReadFileBytes(dir + L"\\nofolder.zip").size(), 22u);
    RemoveTree(dir);
    ASSERT_TRUE(privatetemp::IsFolder(privatetemp::WindowsTemp())) << "the Windows Temp is back";
    EXPECT_EQ(watch.RemoveAndCompare(), "");
}

struct ExportRow {
    std::wstring subkey;
    std::wstring entryName;
    int use32bitView;
    // Whose export the entry must equal: the platform's exporter, or else our
    // own builder (for the rows whose view or shape the platform cannot show).
    bool platformReference = false;
};

// A service as the Services tree holds them, with the types found there.
const std::wstring serviceFixture = L"SYSTEM\\CurrentControlSet\\Services\\RegexportFixture";

// A string value's bytes with its terminating NUL.
std::string Sz(const std::wstring& text) { return Utf16(text + std::wstring(1, L'\0')); }

void SetServiceFixture() {
    const std::wstring image = L"%SystemRoot%\\System32\\drivers\\regexport fixture service.sys";
    const struct {
        std::wstring sub;
        const wchar_t* name;
        DWORD type;
        std::string data;
    } values[] = {
        {L"", L"", REG_SZ, Sz(L"fixture")},
        {L"", L"Description", REG_SZ, Sz(L"A \"quoted\" C:\\path")},
        {L"", L"DependOnService", REG_MULTI_SZ, Utf16(std::wstring(L"RpcSs\0Tcpip\0\0", 13))},
        {L"", L"ErrorControl", REG_DWORD, Bytes({1, 0, 0, 0})},
        {L"", L"FailureActions", REG_BINARY, std::string(20, '\x03')},
        {L"", L"ImagePath", REG_EXPAND_SZ, Sz(image)},
        {L"", L"Start", REG_DWORD, Bytes({4, 0, 0, 0})},  // disabled: never started
        {L"", L"Type", REG_DWORD, Bytes({0x10, 0, 0, 0})},
        {L"Parameters", L"ServiceDll", REG_EXPAND_SZ, Sz(image)},
        {L"Security", L"Security", REG_BINARY, std::string(160, '\x01')},
    };
    for (const auto& value : values) {
        std::wstring path = value.sub.empty() ? serviceFixture : serviceFixture + L"\\" + value.sub;
        ASSERT_TRUE(RegSetRaw(HKEY_LOCAL_MACHINE, path, value.name, value.type, value.data.data(),
                              static_cast<DWORD>(value.data.size()), KEY_WOW64_64KEY))
            << Narrow(path);
    }
    HKEY empty = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (serviceFixture + L"\\Enum").c_str(), 0, nullptr,
                              0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &empty, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(empty);
}

// Rows go through a real archive; the host-side check reads it back with
// another ZIP reader and compares every entry with the file written here.
TEST_F(RegistryExport, RowsLandInTheArchiveAsTheirExports) {
    BOOL wow64 = QueryWow64Process();
    Set(L"", L"", REG_SZ, Utf16(std::wstring(L"archived", 9)));
    Set(L"", L"dword", REG_DWORD, Bytes({1, 0, 0, 0}));
    Set(L"", L"binary", REG_BINARY, std::string(90, '\x7e'));
    Set(L"deeper", L"multi", REG_MULTI_SZ, Utf16(std::wstring(L"a\0b\0\0", 5)));
    Set(L"view", L"only32", REG_DWORD, Bytes({0x32, 0, 0, 0}), KEY_WOW64_32KEY);
    const std::vector<ExportRow> rows = {
        {key, L"reg\\fixture.re_", 0},
        {fixtureRoot + L"\\Missing", L"reg\\missing.re_", 0},
        {key + L"\\view", L"reg\\view.re_", 0},
        {key + L"\\view", L"reg\\view32.re_", 1},
        {L"SYSTEM\\CurrentControlSet\\Services", L"reg\\services.re_", 0, true},
    };
    RegRemoveTree(HKEY_LOCAL_MACHINE, serviceFixture, KEY_WOW64_64KEY);
    ASSERT_NO_FATAL_FAILURE(SetServiceFixture());

    std::wstring prefix = PrefixIsWin64() ? L"win64" : L"win32";
    std::wstring dir = ArtifactsDir(L"regexport");
    std::wstring expectedDir = dir + L"\\expected-" + prefix;
    RemoveTree(expectedDir);
    CreateDirectoryW(expectedDir.c_str(), nullptr);
    privatetemp::WindowsTempWatch watch;
    std::wstring archivePath = dir + L"\\exports-" + prefix + L".zip";
    packageArchive = CreateArchive(archivePath.c_str());
    ASSERT_NE(packageArchive, nullptr);

    for (const ExportRow& row : rows) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        EXPECT_EQ(AddRegistryExport(row.subkey.c_str(), row.entryName.c_str(), row.use32bitView), 1)
            << Narrow(row.entryName);
        double milliseconds = MillisecondsSince(start);
        EXPECT_EQ(FilesInPrivateFolder(), 0u) << Narrow(row.entryName);
        std::wstring text =
            BuildRegistryExport(row.subkey.c_str(), RegistryViewFlag(wow64, row.use32bitView));
        std::wstring baseName = row.entryName.substr(row.entryName.find(L'\\') + 1);
        std::wstring expectedPath = expectedDir + L"\\" + baseName;
        if (row.platformReference)
            ASSERT_GT(RegExport64(L"HKEY_LOCAL_MACHINE\\" + row.subkey, expectedPath).size(), 82u);
        else
            ASSERT_TRUE(WriteFileBytes(expectedPath, FileBytesOf(text)));
        printf("%s: %u bytes, added in %.1f ms\n", Narrow(row.entryName).c_str(),
               static_cast<unsigned>(2 + 2 * text.size()), milliseconds);
    }
    // An add the archive refuses (its name is too long) leaves no file behind either.
    std::wstring longName = L"reg\\" + std::wstring(300, L'n') + L".re_";
    EXPECT_EQ(AddRegistryExport(key.c_str(), longName.c_str(), 0), 0);
    EXPECT_EQ(FilesInPrivateFolder(), 0u);

    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
    EXPECT_EQ(watch.RemoveAndCompare(), "");
    RegRemoveTree(HKEY_LOCAL_MACHINE, serviceFixture, KEY_WOW64_64KEY);
}

// Every name the user's temporary folder could give a "zrpk_" file was taken
// beforehand by planted_names.py (the regexport_planted fixture): forged
// exports, second links of a forged file, and symbolic links to a file outside. With
// TMP and TEMP pointing there the exports still land as themselves, and the
// planted folder and what it leads to are left exactly as they were.
TEST_F(RegistryExport, NamesPlantedInTheUserTemporaryFolderPlayNoPart) {
    LARGE_INTEGER testStart;
    QueryPerformanceCounter(&testStart);
    const std::wstring prefix = PrefixIsWin64() ? L"win64" : L"win32";
    const std::wstring dir = ArtifactsDir(L"regexport");
    const std::wstring planted = dir + L"\\planted-" + prefix;
    const std::wstring userTemp = planted + L"\\temp";
    const std::wstring outside = planted + L"\\outside.txt";
    const privatetemp::Entries before = privatetemp::EntriesOf(userTemp);
    // zrp0000.tmp to zrpffff.tmp, and zrp0.tmp to zrpfff.tmp as Wine writes them.
    ASSERT_EQ(before.size(), 0x10000u + 0x1000u) << "the regexport_planted fixture plants " << Narrow(userTemp);
    const std::string outsideBytes = ReadFileBytes(outside);
    ASSERT_FALSE(outsideBytes.empty());

    // A few held open with full sharing, as another process of the user might.
    struct Held {
        const wchar_t* name;
        HANDLE handle = INVALID_HANDLE_VALUE;
        std::string bytes;
    };
    std::vector<Held> held;
    for (const wchar_t* name : {L"zrp0000.tmp", L"zrp0001.tmp", L"zrp0002.tmp", L"zrpffff.tmp", L"zrp1.tmp"}) {
        held.emplace_back();
        held.back().name = name;
    }
    auto readHandle = [](HANDLE handle) {
        std::string bytes;
        char buffer[4096];
        DWORD got = 0;
        SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
        while (ReadFile(handle, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            bytes.append(buffer, got);
        return bytes;
    };
    for (Held& file : held) {
        file.handle = CreateFileW((userTemp + L"\\" + file.name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        ASSERT_NE(file.handle, INVALID_HANDLE_VALUE) << Narrow(file.name);
        file.bytes = readHandle(file.handle);
        ASSERT_FALSE(file.bytes.empty()) << Narrow(file.name);
    }

    Set(L"", L"planted", REG_SZ, Utf16(std::wstring(L"the real export", 16)));
    Set(L"", L"dword", REG_DWORD, Bytes({0x0d, 0xf0, 0xad, 0x0b}));
    const std::vector<ExportRow> rows = {
        {key, L"reg\\fixture.re_", 0},
        {L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server", L"reg\\termsrv.re_", 0},
        {L"SOFTWARE\\Microsoft\\Rpc", L"reg\\msrpc.re_", 0},
    };
    const std::wstring expectedDir = dir + L"\\planted-expected-" + prefix;
    RemoveTree(expectedDir);
    CreateDirectoryW(expectedDir.c_str(), nullptr);
    privatetemp::WindowsTempWatch watch;
    packageArchive = CreateArchive((dir + L"\\planted-exports-" + prefix + L".zip").c_str());
    ASSERT_NE(packageArchive, nullptr);
    LARGE_INTEGER exportStart;
    QueryPerformanceCounter(&exportStart);
    {
        TemporaryDirectory temporary(userTemp);
        for (const ExportRow& row : rows) {
            EXPECT_EQ(AddRegistryExport(row.subkey.c_str(), row.entryName.c_str(), row.use32bitView), 1)
                << Narrow(row.entryName);
            EXPECT_EQ(FilesInPrivateFolder(), 0u) << Narrow(row.entryName);
            std::wstring text =
                BuildRegistryExport(row.subkey.c_str(), RegistryViewFlag(QueryWow64Process(), row.use32bitView));
            std::wstring baseName = row.entryName.substr(row.entryName.find(L'\\') + 1);
            ASSERT_TRUE(WriteFileBytes(expectedDir + L"\\" + baseName, FileBytesOf(text)));
        }
    }
    const double exportMilliseconds = MillisecondsSince(exportStart);
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;

    for (Held& file : held) {
        EXPECT_EQ(readHandle(file.handle), file.bytes) << Narrow(file.name) << " through the held handle";
        EXPECT_EQ(ReadFileBytes(userTemp + L"\\" + file.name), file.bytes) << Narrow(file.name);
        CloseHandle(file.handle);
    }
    EXPECT_EQ(ReadFileBytes(outside), outsideBytes);
    // Names, sizes, attributes and write times: nothing added, removed or rewritten.
    const privatetemp::Entries after = privatetemp::EntriesOf(userTemp);
    size_t changed = 0;
    std::string firstChanged;
    for (const auto& entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end() || !(found->second == entry.second)) {
            if (changed++ == 0)
                firstChanged = Narrow(entry.first);
        }
    }
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(changed, 0u) << "first changed or gone: " << firstChanged;
    EXPECT_EQ(watch.RemoveAndCompare(), "");
    printf("planted names: %u rows exported in %.1f ms, whole test %.1f ms\n",
           static_cast<unsigned>(rows.size()), exportMilliseconds, MillisecondsSince(testStart));
}

TEST_F(RegistryExport, TextTooLargeToHoldAddsNoEntryAndNoFile) {
    Set(L"", L"large", REG_BINARY, std::string(1048576, '\x01'));
    std::wstring temporaryFiles = MakeTempDir(L"regexport_large");
    std::wstring archivePath = temporaryFiles + L"\\large.zip";
    packageArchive = CreateArchive(archivePath.c_str());
    ASSERT_NE(packageArchive, nullptr);
    privatetemp::WindowsTempWatch watch;
    FailAllocationsOver(4 * 1048576);
    int added = AddRegistryExport(key.c_str(), L"reg\\large.re_", 0);
    FailAllocationsOver(0);
    EXPECT_EQ(added, 0);
    EXPECT_EQ(FilesInPrivateFolder(), 0u);
    EXPECT_EQ(FilesIn(temporaryFiles), 1u) << "only the archive itself";
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
    RemoveTree(temporaryFiles);
    EXPECT_EQ(watch.RemoveAndCompare(), "");
}

TEST_F(RegistryExport, AllocatesNothingPerValue) {
    auto allocationsFor = [&](int values) {
        RemoveFixtures();
        for (int i = 0; i < values; ++i) {
            wchar_t name[32];
            swprintf(name, 32, L"value %05d \\\"", i);
            if (i % 3 == 0)
                Set(L"", name, REG_SZ, Utf16(std::wstring(L"some \"text\" \\ here", 19)));
            else if (i % 3 == 1)
                Set(L"", name, REG_DWORD, Bytes({1, 2, 3, 4}));
            else
                Set(L"", name, REG_BINARY, std::string(100, '\x42'));
        }
        size_t before = AllocationCount();
        std::wstring text = Export();
        size_t used = AllocationCount() - before;
        EXPECT_GT(text.size(), static_cast<size_t>(values) * 20);
        return used;
    };
    size_t few = allocationsFor(10);
    size_t many = allocationsFor(3000);
    // The text grows by doubling: a handful more allocations, not thousands.
    EXPECT_LT(many, few + 40) << "10 values: " << few << ", 3000 values: " << many;
}

// A tree the size of a real Windows Services key (about 1200 keys and 4800
// values), since the test prefix's own one is small.
TEST_F(RegistryExport, ServiceSizedTreeWellUnderASecond) {
    auto setAll = [&](const std::wstring& sub,
                      const std::vector<std::pair<std::wstring, std::pair<DWORD, std::string>>>& values) {
        HKEY handle = nullptr;
        std::wstring path = key + L"\\" + sub;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                  KEY_WRITE | NativeView(), nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        for (const auto& value : values)
            RegSetValueExW(handle, value.first.c_str(), 0, value.second.first,
                           reinterpret_cast<const BYTE*>(value.second.second.data()),
                           static_cast<DWORD>(value.second.second.size()));
        RegCloseKey(handle);
    };
    for (int i = 0; i < 400; ++i) {
        wchar_t service[32];
        swprintf(service, 32, L"Service%03d", i);
        std::wstring image = L"\\SystemRoot\\System32\\drivers\\" + std::wstring(service) + L".sys";
        setAll(service, {{L"Description", {REG_SZ, Utf16(std::wstring(L"A service of a realistic size, "
                                                                    L"with a sentence of text.", 56))}},
                         {L"DisplayName", {REG_SZ, Utf16(std::wstring(service) + std::wstring(1, L'\0'))}},
                         {L"ErrorControl", {REG_DWORD, Bytes({1, 0, 0, 0})}},
                         {L"FailureActions", {REG_BINARY, std::string(20, '\x03')}},
                         {L"ImagePath", {REG_EXPAND_SZ, Utf16(image + std::wstring(1, L'\0'))}},
                         {L"DependOnService", {REG_MULTI_SZ, Utf16(std::wstring(L"RpcSs\0Tcpip\0\0", 13))}},
                         {L"Start", {REG_DWORD, Bytes({3, 0, 0, 0})}},
                         {L"Type", {REG_DWORD, Bytes({1, 0, 0, 0})}}});
        setAll(std::wstring(service) + L"\\Parameters",
               {{L"ServiceDll", {REG_EXPAND_SZ, Utf16(image + std::wstring(1, L'\0'))}},
                {L"ServiceMain", {REG_SZ, Utf16(std::wstring(L"ServiceMain", 12))}}});
        setAll(std::wstring(service) + L"\\Security", {{L"Security", {REG_BINARY, std::string(160, '\x01')}}});
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    std::wstring text = Export();
    double milliseconds = MillisecondsSince(start);
    printf("service-sized tree: %.1f ms, %u bytes\n", milliseconds,
           static_cast<unsigned>(2 + 2 * text.size()));
    EXPECT_GT(text.size(), 500000u);
    // A loose bound, for a busy machine: it catches work that grows faster
    // than the tree, not the last few milliseconds.
    EXPECT_LT(milliseconds, 3000.0);
}

TEST(RegistryExportSpeed, ServicesTreeWellUnderASecond) {
    const wchar_t* services = L"SYSTEM\\CurrentControlSet\\Services";
    std::wstring dir = MakeTempDir(L"regexport_speed");
    std::wstring path = dir + L"\\services.reg";
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    std::wstring text = BuildRegistryExport(services, NativeView());
    WriteExportFile(path.c_str(), text);
    double milliseconds = MillisecondsSince(start);
    size_t bytes = ReadFileBytes(path).size();
    RemoveTree(dir);
    size_t sections = 0;
    for (size_t at = 0; (at = text.find(L"\r\n[HKEY_", at)) != std::wstring::npos; ++at)
        ++sections;
    printf("services export: %.1f ms, %u bytes, %u keys\n", milliseconds,
           static_cast<unsigned>(bytes), static_cast<unsigned>(sections));
    RecordProperty("milliseconds", static_cast<int>(milliseconds));
    RecordProperty("bytes", static_cast<int>(bytes));
    EXPECT_GT(sections, 20u);
    EXPECT_EQ(bytes, 2 + 2 * text.size());
    EXPECT_LT(milliseconds, 1000.0);
}

}  // namespace
