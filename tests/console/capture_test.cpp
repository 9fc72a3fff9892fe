// Console capture with the stand-in lister, and the temporary entry files of
// the event-log backups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"
#include "dk_test_util.h"
#include "shared_helpers.h"
#include "standins/lister_output.h"
#include "test_support.h"
#include "ziparchive.h"

using testsupport::BuiltProgram;

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

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
    EXPECT_TRUE(SameText(testsupport::Widen(output), SystemDirectory()))
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

// A temporary folder of the test's own, so files left behind can be counted.
struct PrivateTempFolder {
    std::wstring saved;
    std::wstring dir;
    PrivateTempFolder() {
        wchar_t old[MAX_PATH] = {};
        GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
        saved = old;
        dir = testsupport::MakeTempDir(L"dk_tmp");
        SetEnvironmentVariableW(L"TMP", dir.c_str());
        SetEnvironmentVariableW(L"TEMP", dir.c_str());
    }
    ~PrivateTempFolder() {
        SetEnvironmentVariableW(L"TMP", saved.c_str());
        SetEnvironmentVariableW(L"TEMP", saved.c_str());
        testsupport::RemoveTree(dir);
    }
    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                names.push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
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

struct Seen {
    std::wstring path;
    bool existedBefore = true;
};

}  // namespace

TEST(TemporaryEntryFile, ReservedZrpkNameWrittenAddedAndDeleted) {
    PrivateTempFolder temp;
    OpenArchive archive(L"temporary-entry.zip");
    ASSERT_NE(nullptr, packageArchive);
    Seen seen;
    int added = AddTemporaryEntryFile(L"log\\written.bin", [&](const wchar_t* path) {
        seen.path = path;
        seen.existedBefore = testsupport::FileExists(path);
        testsupport::WriteFileBytes(path, "event log bytes");
    });
    EXPECT_EQ(1, added);
    EXPECT_FALSE(seen.existedBefore) << "the reserved name is free for the writer";
    // The system keeps the first three characters of the "zrpk_" prefix.
    EXPECT_EQ(temp.dir + L"\\zrp", seen.path.substr(0, temp.dir.size() + 4));
    EXPECT_EQ(L".tmp", seen.path.substr(seen.path.size() - 4));
    EXPECT_TRUE(temp.Files().empty());
}

TEST(TemporaryEntryFile, NothingIsLeftWhenTheAddOrTheWriterFails) {
    PrivateTempFolder temp;
    {
        // No archive: the add fails after the file was written.
        packageArchive = nullptr;
        EXPECT_EQ(0, AddTemporaryEntryFile(L"log\\lost.bin", [](const wchar_t* path) {
                      testsupport::WriteFileBytes(path, "x");
                  }));
        EXPECT_TRUE(temp.Files().empty());
    }
    {
        OpenArchive archive(L"temporary-entry-unwritten.zip");
        lastArchiveResult = 0x12345;
        EXPECT_EQ(0, AddTemporaryEntryFileIfWritten(L"log\\half.bin", [](const wchar_t* path) {
                      testsupport::WriteFileBytes(path, "partial");
                      return false;
                  }));
        EXPECT_EQ(0x12345u, lastArchiveResult) << "a failed writer adds nothing";
        EXPECT_TRUE(temp.Files().empty());
    }
}

TEST(TemporaryEntryFile, TemporaryFolderTooLongForItsBufferAddsNothing) {
    PrivateTempFolder temp;
    std::wstring tooLong = L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(60, L'b');
    SetEnvironmentVariableW(L"TMP", tooLong.c_str());
    SetEnvironmentVariableW(L"TEMP", tooLong.c_str());
    bool called = false;
    EXPECT_EQ(0, AddTemporaryEntryFile(L"log\\x.bin", [&](const wchar_t*) { called = true; }));
    EXPECT_FALSE(called);
}

TEST(EventLogBackup, WineWritesNoBackupSoNothingIsAddedAndNothingLeft) {
    // Wine's backup call succeeds without writing a file: the add is refused.
    PrivateTempFolder temp;
    OpenArchive archive(L"event-logs.zip");
    ASSERT_NE(nullptr, packageArchive);
    EXPECT_EQ(0, AddEventLogBackup(L"log\\system.evt", L"System"));
    EXPECT_EQ(0, AddEventLogBackup(L"log\\application.evt", L"Application "));
    EXPECT_TRUE(temp.Files().empty());
}
