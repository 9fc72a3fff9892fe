// Console capture with the stand-in lister, and the temporary entry files of
// the event-log backups, in the run's private folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "console_capture.h"
#include "dk_test_util.h"
#include "private_temp_checks.h"
#include "shared_helpers.h"
#include "standins/lister_output.h"
#include "test_support.h"
#include "ziparchive.h"

using testsupport::BuiltProgram;

namespace {

std::string CaptureLister(const wchar_t* mode, const std::string& start = std::string()) {
    SetEnvironmentVariableW(L"DK_LISTER_MODE", mode);
    std::string output = start;
    std::wstring command = L"\"" + BuiltProgram(L"dk_fake_lister.exe") + L"\" --all";
    CaptureCommandOutput(command.c_str(), output);
    SetEnvironmentVariableW(L"DK_LISTER_MODE", nullptr);
    return output;
}

}  // namespace

TEST(CaptureCommandOutput, KeepsStdoutAndStderrInterleavedByteForByte) {
    std::string expected = ChattyListerCapture();
    ASSERT_GT(expected.size(), 2u * 4096u);
    std::string output = CaptureLister(L"chatty");
    EXPECT_EQ(expected.size(), output.size());
    EXPECT_TRUE(output == expected);
}

TEST(CaptureCommandOutput, AppendsToWhatTheCallerHas) {
    EXPECT_EQ("before|" + ChattyListerCapture(), CaptureLister(L"chatty", "before|"));
}

TEST(CaptureCommandOutput, NothingWrittenLeavesTheOutputEmpty) {
    EXPECT_EQ("", CaptureLister(L"silent"));
}

TEST(CaptureCommandOutput, ProgramThatCannotStartIsNotWaitedFor) {
    std::string output = "kept";
    DWORD start = GetTickCount();
    CaptureCommandOutput(L"\"C:\\no such folder\\qevdslister.exe\" --all", output);
    CaptureCommandOutput(nullptr, output);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ("kept", output);
}

TEST(CaptureCommandOutput, CommandLineThatDoesNotFitIsRefused) {
    // 1023 characters fit the command buffer, 1024 do not.
    SetEnvironmentVariableW(L"DK_LISTER_MODE", L"chatty");
    std::wstring program = L"\"" + BuiltProgram(L"dk_fake_lister.exe") + L"\" ";
    std::wstring fits = program + std::wstring(1023 - program.size(), L'a');
    std::string output;
    CaptureCommandOutput(fits.c_str(), output);
    EXPECT_EQ(ChattyListerCapture(), output);
    output.clear();
    CaptureCommandOutput((fits + L"a").c_str(), output);
    EXPECT_EQ("", output);
    SetEnvironmentVariableW(L"DK_LISTER_MODE", nullptr);
}

TEST(CaptureCommandOutput, ChildStartsInTheSystemDirectoryNotInOurs) {
    // Where this program was started (often the user's Downloads) is no
    // place for the child to look for its DLLs or files.
    wchar_t saved[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    std::wstring elsewhere = testsupport::MakeTempDir(L"dk_cwd");
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.c_str()));
    std::string output = CaptureLister(L"where");
    SetCurrentDirectoryW(saved);
    testsupport::RemoveTree(elsewhere);
    EXPECT_TRUE(privatetemp::SameText(testsupport::Widen(output), SystemDirectory()))
        << "the child started in " << output << ", not in " << testsupport::Narrow(SystemDirectory());
}

TEST(CaptureCommandOutput, NetstatOfTheSystemDirectory) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::string output;
    CaptureCommandOutput((L"\"" + std::wstring(system) + L"\\netstat.exe\" -an").c_str(), output);
    EXPECT_FALSE(output.empty());
}

// --- temporary entry files ------------------------------------------------------

namespace {

using privatetemp::EntriesOf;
using privatetemp::FolderOf;
using privatetemp::IsPrivateFolderPath;
using privatetemp::SameText;
using privatetemp::WindowsTempWatch;

// TMP and TEMP of this process point at a folder of the test's own, so that
// anything written to the user's temporary folder would show there.
struct UserTempFolder {
    std::wstring savedTmp, savedTemp;
    std::wstring dir;
    UserTempFolder() {
        savedTmp = Variable(L"TMP");
        savedTemp = Variable(L"TEMP");
        dir = testsupport::MakeTempDir(L"dk_tmp");
        PointAt(dir);
    }
    ~UserTempFolder() {
        SetEnvironmentVariableW(L"TMP", savedTmp.c_str());
        SetEnvironmentVariableW(L"TEMP", savedTemp.c_str());
        testsupport::RemoveTree(dir);
    }
    static void PointAt(const std::wstring& path) {
        SetEnvironmentVariableW(L"TMP", path.c_str());
        SetEnvironmentVariableW(L"TEMP", path.c_str());
    }
    static std::wstring Variable(const wchar_t* name) {
        wchar_t value[MAX_PATH] = {};
        DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
        return length < MAX_PATH ? value : L"";
    }
};

struct OpenArchive {
    std::wstring path;
    explicit OpenArchive(const wchar_t* name) {
        path = ArtifactFolder(L"units") + L"\\" + name;
        packageArchive = CreateArchive(path.c_str());
    }
    ~OpenArchive() {
        if (packageArchive)
            CloseArchive(packageArchive);
        packageArchive = nullptr;
    }
};

// What the writer was given, and what stood there when it got it.
struct Seen {
    std::wstring path;
    bool existedBefore = true;
    bool folderExisted = false;
};

Seen WriteBytesTo(const wchar_t* path, const std::string& bytes) {
    Seen seen;
    seen.path = path;
    seen.existedBefore = privatetemp::Exists(path);
    seen.folderExisted = privatetemp::IsFolder(FolderOf(path));
    testsupport::WriteFileBytes(path, bytes);
    return seen;
}

// The private folder holds nothing between the steps.
size_t FilesInPrivateFolder() {
    const std::wstring folder = PrivateTemporaryFolderPath();
    return folder.empty() ? 0 : EntriesOf(folder).size();
}

}  // namespace

TEST(TemporaryEntryFile, WriterGetsANewNameInThePrivateFolderAndNothingIsLeft) {
    UserTempFolder userTemp;
    WindowsTempWatch watch;
    OpenArchive archive(L"temporary-entry.zip");
    ASSERT_NE(nullptr, packageArchive);
    EXPECT_TRUE(PrivateTemporaryFolderPath().empty()) << "made on first use only";

    std::vector<Seen> seen;
    for (const wchar_t* entry : {L"log\\first.bin", L"log\\second.bin"}) {
        EXPECT_EQ(1, AddTemporaryEntryFile(entry, [&](const wchar_t* path) {
                      seen.push_back(WriteBytesTo(path, "event log bytes"));
                  }));
        EXPECT_EQ(0u, FilesInPrivateFolder()) << testsupport::Narrow(entry);
    }
    ASSERT_EQ(2u, seen.size());
    const std::wstring folder = FolderOf(seen[0].path);
    EXPECT_TRUE(IsPrivateFolderPath(folder)) << testsupport::Narrow(seen[0].path);
    EXPECT_TRUE(SameText(folder, PrivateTemporaryFolderPath()));
    for (const Seen& one : seen) {
        EXPECT_FALSE(one.existedBefore) << "the writer creates the file";
        EXPECT_TRUE(one.folderExisted);
        EXPECT_TRUE(SameText(folder, FolderOf(one.path))) << "one folder for the run";
        std::wstring name = one.path.substr(folder.size() + 1);
        EXPECT_TRUE(privatetemp::StartsWithText(name, L"zrpk_")) << testsupport::Narrow(name);
        EXPECT_EQ(L".tmp", name.substr(name.size() - 4));
    }
    EXPECT_NE(seen[0].path, seen[1].path);
    EXPECT_TRUE(EntriesOf(userTemp.dir).empty());

    EXPECT_EQ("", watch.RemoveAndCompare());
    // A later use makes a folder of another name.
    Seen later;
    EXPECT_EQ(1, AddTemporaryEntryFile(L"log\\third.bin", [&](const wchar_t* path) {
                  later = WriteBytesTo(path, "x");
              }));
    EXPECT_TRUE(IsPrivateFolderPath(FolderOf(later.path)));
    EXPECT_FALSE(SameText(folder, FolderOf(later.path)));
    EXPECT_EQ("", watch.RemoveAndCompare());
}

TEST(TemporaryEntryFile, NothingIsLeftWhenTheAddOrTheWriterFails) {
    WindowsTempWatch watch;
    {
        // No archive: the add fails after the file was written.
        packageArchive = nullptr;
        bool called = false;
        EXPECT_EQ(0, AddTemporaryEntryFile(L"log\\lost.bin", [&](const wchar_t* path) {
                      called = true;
                      testsupport::WriteFileBytes(path, "x");
                  }));
        EXPECT_TRUE(called);
        EXPECT_EQ(0u, FilesInPrivateFolder());
    }
    {
        OpenArchive archive(L"temporary-entry-unwritten.zip");
        lastArchiveResult = 0x12345;
        EXPECT_EQ(0, AddTemporaryEntryFileIfWritten(L"log\\half.bin", [](const wchar_t* path) {
                      testsupport::WriteFileBytes(path, "partial");
                      return false;
                  }));
        EXPECT_EQ(0x12345u, lastArchiveResult) << "a failed writer adds nothing";
        EXPECT_EQ(0u, FilesInPrivateFolder());
    }
    EXPECT_FALSE(PrivateTemporaryFolderPath().empty());
    EXPECT_EQ("", watch.RemoveAndCompare());
}

// The file is read through a handle opened and checked by the helper: what the
// name leads to elsewhere is not added, and is left as it was. (No symbolic
// link here: Wine's DeleteFileW removes what a Unix link points to, not the link.)
TEST(TemporaryEntryFile, OnlyAPlainFileOfThePrivateFolderIsAdded) {
    UserTempFolder userTemp;
    WindowsTempWatch watch;
    OpenArchive archive(L"temporary-entry-checked.zip");
    ASSERT_NE(nullptr, packageArchive);
    const std::wstring outside = userTemp.dir + L"\\outside.txt";
    const std::string outsideBytes = "not ours to add";
    ASSERT_TRUE(testsupport::WriteFileBytes(outside, outsideBytes));
    const struct {
        const char* what;
        std::function<bool(const std::wstring& path)> make;
        int added;
    } cases[] = {
        {"a file written there", [](const std::wstring& path) { return testsupport::WriteFileBytes(path, "ok"); }, 1},
        {"a second link of a file elsewhere",
         [&](const std::wstring& path) { return CreateHardLinkW(path.c_str(), outside.c_str(), nullptr) != FALSE; },
         0},
    };
    for (const auto& row : cases) {
        bool made = false;
        EXPECT_EQ(row.added, AddTemporaryEntryFile(L"log\\checked.bin", [&](const wchar_t* path) {
                      made = row.make(path);
                  }))
            << row.what;
        EXPECT_TRUE(made) << row.what;
        EXPECT_EQ(0u, FilesInPrivateFolder()) << row.what;
        EXPECT_EQ(outsideBytes, testsupport::ReadFileBytes(outside)) << row.what;
    }
    EXPECT_EQ("", watch.RemoveAndCompare());
}

namespace {

// What the private folder's creation was given, read by the stand-in below.
struct GivenSecurity {
    int calls = 0;
    bool hasDescriptor = false;
    bool daclProtected = false;
    std::vector<std::string> allowed;  // "SID flags mask" of each entry, sorted
    std::string other;                 // entries that allow nothing or deny
};
GivenSecurity given;

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(value));
    return text;
}

void ReadGivenSecurity(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    given.hasDescriptor = descriptor != nullptr;
    if (descriptor == nullptr || !GetSecurityDescriptorControl(descriptor, &control, &revision))
        return;
    given.daclProtected = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        given.other = "no DACL";
        return;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            given.other += "entry of type " + std::to_string(header->AceType) + "; ";
            continue;
        }
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        wchar_t* sid = nullptr;
        std::string name = "?";
        if (ConvertSidToStringSidW(&ace->SidStart, &sid)) {
            name = testsupport::Narrow(sid);
            LocalFree(sid);
        }
        given.allowed.push_back(name + " " + Hex(header->AceFlags) + " " + Hex(ace->Mask));
    }
    std::sort(given.allowed.begin(), given.allowed.end());
}

BOOL WINAPI RecordingCreateFolder(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    ++given.calls;
    ReadGivenSecurity(security != nullptr ? security->lpSecurityDescriptor : nullptr);
    return CreateDirectoryW(path, security);
}

}  // namespace

// Wine keeps a folder's security only in part, so it is read where the folder
// is made: protected from what the Windows Temp grants, full control for
// SYSTEM, Administrators and LOCAL SERVICE (the Event Log service), inherited
// by files and folders, and nothing for anyone else.
TEST(TemporaryEntryFile, ThePrivateFolderLetsInSystemAdministratorsAndTheEventLogAlone) {
    WindowsTempWatch watch;
    RemovePrivateTemporaryFolder();  // the next use makes one
    given = GivenSecurity();
    createPrivateFolderCall = RecordingCreateFolder;
    const std::wstring file = NewPrivateTemporaryFileName();
    createPrivateFolderCall = CreateDirectoryW;
    EXPECT_TRUE(IsPrivateFolderPath(FolderOf(file))) << testsupport::Narrow(file);
    EXPECT_EQ(1, given.calls);
    EXPECT_TRUE(given.hasDescriptor);
    EXPECT_TRUE(given.daclProtected);
    const std::string inherited = Hex(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    const std::string all = Hex(FILE_ALL_ACCESS);
    const std::vector<std::string> expected = {
        "S-1-5-18 " + inherited + " " + all,      // SYSTEM
        "S-1-5-19 " + inherited + " " + all,      // LOCAL SERVICE
        "S-1-5-32-544 " + inherited + " " + all,  // Administrators
    };
    EXPECT_EQ(expected, given.allowed);
    EXPECT_EQ("", given.other);
    EXPECT_EQ("", watch.RemoveAndCompare());
}

TEST(TemporaryEntryFile, WithoutAPrivateFolderNothingIsAddedAndNoWriterCalled) {
    WindowsTempWatch watch;
    RemovePrivateTemporaryFolder();  // the next use tries to make one
    {
        privatetemp::WindowsTempReplacedByFile noTemp;
        ASSERT_TRUE(noTemp.Replaced());
        OpenArchive archive(L"temporary-entry-no-folder.zip");
        ASSERT_NE(nullptr, packageArchive);
        int calls = 0;
        EXPECT_EQ(0, AddTemporaryEntryFile(L"log\\x.bin", [&](const wchar_t*) { ++calls; }));
        EXPECT_EQ(0, AddTemporaryEntryFileIfWritten(L"log\\y.bin", [&](const wchar_t*) {
                      ++calls;
                      return true;
                  }));
        EXPECT_EQ(0, AddEventLogBackup(L"log\\system.evt", L"System"));
        EXPECT_EQ(0, calls);
        EXPECT_TRUE(PrivateTemporaryFolderPath().empty());
        RemovePrivateTemporaryFolder();
    }
    ASSERT_TRUE(privatetemp::IsFolder(privatetemp::WindowsTemp())) << "the Windows Temp is back";
    EXPECT_EQ("", watch.RemoveAndCompare());
}

TEST(TemporaryEntryFile, WhereTheUserTemporaryFolderPointsPlaysNoPart) {
    UserTempFolder userTemp;
    WindowsTempWatch watch;
    OpenArchive archive(L"temporary-entry-user-temp.zip");
    ASSERT_NE(nullptr, packageArchive);
    const std::wstring aFile = userTemp.dir + L"\\a file";
    ASSERT_TRUE(testsupport::WriteFileBytes(aFile, "kept"));
    const privatetemp::Entries before = EntriesOf(userTemp.dir);
    const struct {
        const char* what;
        std::wstring path;
    } cases[] = {
        {"a folder of its own", userTemp.dir},
        {"too long for a path buffer", L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(60, L'b')},
        {"a folder that does not exist", userTemp.dir + L"\\missing"},
        {"a file", aFile},
    };
    for (const auto& row : cases) {
        UserTempFolder::PointAt(row.path);
        Seen seen;
        EXPECT_EQ(1, AddTemporaryEntryFile(L"log\\x.bin", [&](const wchar_t* path) {
                      seen = WriteBytesTo(path, "bytes");
                  }))
            << row.what;
        EXPECT_TRUE(IsPrivateFolderPath(FolderOf(seen.path))) << row.what;
        EXPECT_EQ(0u, FilesInPrivateFolder()) << row.what;
    }
    UserTempFolder::PointAt(userTemp.dir);
    EXPECT_TRUE(EntriesOf(userTemp.dir) == before);
    EXPECT_FALSE(privatetemp::Exists(userTemp.dir + L"\\missing"));
    EXPECT_EQ("", watch.RemoveAndCompare());
}

TEST(EventLogBackup, WineWritesNoBackupSoNothingIsAddedAndNothingLeft) {
    // Wine's backup call succeeds without writing a file: the add is refused.
    UserTempFolder userTemp;
    WindowsTempWatch watch;
    OpenArchive archive(L"event-logs.zip");
    ASSERT_NE(nullptr, packageArchive);
    EXPECT_EQ(0, AddEventLogBackup(L"log\\system.evt", L"System"));
    EXPECT_EQ(0, AddEventLogBackup(L"log\\application.evt", L"Application "));
    // The backups were named in the private folder, and left nothing there.
    EXPECT_TRUE(IsPrivateFolderPath(PrivateTemporaryFolderPath()));
    EXPECT_EQ(0u, FilesInPrivateFolder());
    EXPECT_TRUE(EntriesOf(userTemp.dir).empty());
    EXPECT_EQ("", watch.RemoveAndCompare());
}
