// The package file: opened with the shell user's rights through the seam, and
// refused without a change to anything when the name leads elsewhere.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dk_test_util.h"
#include "package_file.h"
#include "test_support.h"
#include "user_places.h"

using namespace testsupport;

namespace {

// What the stand-ins saw of the package at the identity changes.
struct Seen {
    int impersonations = 0;
    int reverts = 0;
    bool existedAtImpersonate = false;
    bool heldExclusivelyAtRevert = false;
    bool impersonatingAtRevert = false;
};
Seen seen;
std::wstring watchedPackage;
BOOL impersonationSucceeds = TRUE;

HANDLE NoShellUser() {
    return nullptr;
}

BOOL WINAPI WatchingImpersonate(HANDLE token) {
    ++seen.impersonations;
    seen.existedAtImpersonate = GetFileAttributesW(watchedPackage.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!impersonationSucceeds) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ImpersonateLoggedOnUser(token);
}

BOOL WINAPI WatchingRevert() {
    ++seen.reverts;
    seen.impersonatingAtRevert = ThreadImpersonates();
    HANDLE probe = CreateFileW(watchedPackage.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    seen.heldExclusivelyAtRevert = probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    return RevertToSelf();
}

LONGLONG FileSize(HANDLE file) {
    LARGE_INTEGER size = {};
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

struct PackageFile : ::testing::Test {
    std::wstring root = MakeTempDir(L"package-file");
    std::wstring desktop = root + L"\\Desktop";
    std::wstring package = desktop + L"\\Morquaine-QEVSCAN.zrpk";
    std::wstring outside = root + L"\\outside.dat";
    UserRightsCalls saved = userRightsCalls;

    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(desktop.c_str(), nullptr));
        watchedPackage = package;
        seen = Seen();
        impersonationSucceeds = TRUE;
    }
    void TearDown() override {
        userRightsCalls = saved;
        RemoveTree(root);  // links are removed themselves
    }
    HANDLE Open(const std::wstring& path) {
        UserRights user;
        return OpenPackageFile(user, desktop.c_str(), path.c_str());
    }
};

}  // namespace

TEST_F(PackageFile, IsCreatedAndOpenedWhileTheShellUserIsTakenOn) {
    userRightsCalls = {OwnPrimaryToken, WatchingImpersonate, WatchingRevert};
    HANDLE file = Open(package);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(1, seen.impersonations);
    EXPECT_EQ(1, seen.reverts);
    EXPECT_FALSE(seen.existedAtImpersonate) << "created before the identity was taken on";
    EXPECT_TRUE(seen.impersonatingAtRevert);
    EXPECT_TRUE(seen.heldExclusivelyAtRevert) << "opened, unshared, within the impersonation";
    EXPECT_FALSE(ThreadImpersonates()) << "the program's own identity is back";
    EXPECT_EQ(0, FileSize(file));
    CloseHandle(file);
    EXPECT_TRUE(FileExists(package));
}

TEST_F(PackageFile, FailedImpersonationCreatesNothing) {
    userRightsCalls = {OwnPrimaryToken, WatchingImpersonate, WatchingRevert};
    impersonationSucceeds = FALSE;
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(package));
    EXPECT_EQ(1, seen.impersonations);
    EXPECT_EQ(0, seen.reverts);
    EXPECT_FALSE(FileExists(package));
}

TEST_F(PackageFile, WithoutAShellUserItIsOpenedAsTheProgram) {
    userRightsCalls = {NoShellUser, WatchingImpersonate, WatchingRevert};
    HANDLE file = Open(package);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(0, seen.impersonations);
    EXPECT_EQ(0, seen.reverts);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// Also without a shell user: the checks are the same either way.
TEST_F(PackageFile, OnlyAPlainFileAtTheDesktopsOwnNameIsTaken) {
    userRightsCalls = {NoShellUser, WatchingImpersonate, WatchingRevert};
    const std::string outsideBytes = "not the user's\r\n";
    const std::wstring missing = root + L"\\missing.dat";
    const std::wstring otherFolder = root + L"\\Other";
    enum Fixture { OLD_PACKAGE, SYMLINK, HARD_LINK, DANGLING_SYMLINK, FOLDER, OTHER_FOLDER };
    const struct {
        const char* name;
        Fixture fixture;
        bool taken;
    } cases[] = {
        {"package of an earlier run", OLD_PACKAGE, true},
        {"symbolic link to an outside file", SYMLINK, false},
        {"hard link to an outside file", HARD_LINK, false},
        {"symbolic link to a missing file", DANGLING_SYMLINK, false},
        {"folder at the name", FOLDER, false},
        {"name in a folder that is not the Desktop", OTHER_FOLDER, false},
    };
    for (const auto& c : cases) {
        DeleteFileW(missing.c_str());  // one case's fault is not the next one's
        ASSERT_TRUE(WriteBackdatedFile(outside, outsideBytes));
        FILETIME before = LastWriteTime(outside);
        std::wstring path = package;
        switch (c.fixture) {
        case OLD_PACKAGE: ASSERT_TRUE(WriteFileBytes(package, std::string(5000, 'o'))); break;
        case SYMLINK: ASSERT_TRUE(MakeUnixSymlink(package, UnixPath(outside))); break;
        case HARD_LINK: ASSERT_TRUE(CreateHardLinkW(package.c_str(), outside.c_str(), nullptr)); break;
        case DANGLING_SYMLINK:
            // Made while its target is there: the helper waits until the link leads somewhere.
            ASSERT_TRUE(WriteFileBytes(missing, "soon gone"));
            ASSERT_TRUE(MakeUnixSymlink(package, UnixPath(missing)));
            ASSERT_TRUE(DeleteFileW(missing.c_str()));
            break;
        case FOLDER: ASSERT_TRUE(CreateDirectoryW(package.c_str(), nullptr)); break;
        case OTHER_FOLDER:
            ASSERT_TRUE(CreateDirectoryW(otherFolder.c_str(), nullptr));
            path = otherFolder + L"\\Morquaine-QEVSCAN.zrpk";
            break;
        }
        HANDLE file = Open(path);
        if (c.taken) {
            EXPECT_NE(INVALID_HANDLE_VALUE, file) << c.name;
            EXPECT_EQ(0, FileSize(file)) << c.name << ": emptied";
        } else {
            EXPECT_EQ(INVALID_HANDLE_VALUE, file) << c.name;
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        // Compared quietly: a package written through the link would fill the log.
        std::string outsideNow = ReadFileBytes(outside);
        EXPECT_TRUE(outsideNow == outsideBytes) << c.name << ": outside file now " << outsideNow.size() << " bytes";
        FILETIME after = LastWriteTime(outside);
        EXPECT_EQ(0, CompareFileTime(&before, &after)) << c.name;
        EXPECT_FALSE(FileExists(missing)) << c.name << ": created through the link";
        if (c.fixture == OTHER_FOLDER) {
            EXPECT_FALSE(FileExists(path)) << c.name << ": the file this open made is gone again";
        }
        if (c.fixture == FOLDER)
            RemoveDirectoryW(package.c_str());
        else if (c.fixture != OTHER_FOLDER)
            RemoveUnixSymlink(package);  // the name itself, never what it leads to
    }
}
