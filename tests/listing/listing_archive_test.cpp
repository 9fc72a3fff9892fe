// Listings and per-user copies written into real archives; check_listing_archives.py
// reads them back on the host and compares them with the files themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "listing.h"
#include "test_support.h"
#include "user_files.h"
#include "user_places.h"
#include "ziparchive.h"

namespace {

using testsupport::Narrow;
using testsupport::OwnPrimaryToken;
using testsupport::ThreadImpersonates;
using testsupport::WriteFileBytes;

// <artifacts>\listings\<prefix name>, emptied for this run.
std::wstring PrefixArtifacts() {
    std::string prefix = getenv("WINE_TEST_PREFIX") ? getenv("WINE_TEST_PREFIX") : "unknown";
    std::wstring name = testsupport::Widen(prefix.substr(prefix.find_last_of('/') + 1));
    std::wstring dir = testsupport::ArtifactsDir(L"listings\\" + name);
    testsupport::RemoveTree(dir);
    return testsupport::ArtifactsDir(L"listings\\" + name);
}

class ArchiveUnderTest {
public:
    explicit ArchiveUnderTest(const std::wstring& path) { packageArchive = CreateArchive(path.c_str()); }
    ~ArchiveUnderTest() {
        if (packageArchive != nullptr)
            CloseArchive(packageArchive);
        packageArchive = nullptr;
    }
    bool Open() const { return packageArchive != nullptr; }
    ArchiveResult Close() {
        ArchiveResult result = CloseArchive(packageArchive);
        packageArchive = nullptr;
        return result;
    }
};

void MakeTree(const std::wstring& root, std::initializer_list<std::pair<std::wstring, std::string>> entries) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (const auto& entry : entries) {
        std::wstring path = root + L"\\" + entry.first;
        if (path.back() == L'\\')
            ASSERT_TRUE(CreateDirectoryW(path.substr(0, path.size() - 1).c_str(), nullptr)) << Narrow(path);
        else
            ASSERT_TRUE(WriteFileBytes(path, entry.second)) << Narrow(path);
    }
}

// Stand-ins for the calls that take on the user's identity: they count and
// trace each call, run the test's hook with its number (from 1), and really
// impersonate and revert, so that what runs in between runs as a client.
struct RightsStandIns {
    std::string trace;  // "I" per impersonation, "R" per revert
    int impersonations = 0;
    int reverts = 0;
    bool failImpersonation = false;
    std::function<void(int)> atImpersonate;  // before the impersonation
    std::function<void(int)> atRevert;       // after the revert
};
RightsStandIns standIns;

HANDLE NoShellUser() {
    return nullptr;
}

BOOL WINAPI StandInImpersonate(HANDLE token) {
    standIns.trace += 'I';
    ++standIns.impersonations;
    if (standIns.atImpersonate)
        standIns.atImpersonate(standIns.impersonations);
    return !standIns.failImpersonation && ImpersonateLoggedOnUser(token);
}

BOOL WINAPI StandInRevert() {
    standIns.trace += 'R';
    ++standIns.reverts;
    BOOL reverted = RevertToSelf();
    if (standIns.atRevert)
        standIns.atRevert(standIns.reverts);
    return reverted;
}

void UseStandIns(HANDLE (*shellUserToken)() = OwnPrimaryToken) {
    userRightsCalls = UserRightsCalls{shellUserToken, StandInImpersonate, StandInRevert};
}

// Someone holds the file open without sharing its deletion: the open of the copy step.
bool HeldOpen(const std::wstring& path) {
    HANDLE probe = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(probe);
    return false;
}

// Paths below root of the files the walk finds, in its order, with forward slashes.
std::vector<std::string> WalkedFiles(const std::wstring& root) {
    std::list<DirEntryRecord> records;
    WalkDirectory(root, records, L"*.*");
    std::vector<std::string> files;
    for (const DirEntryRecord& record : records) {
        if (record.findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string relative = Narrow(FullPath(record).substr(root.size() + 1));
        for (char& c : relative)
            if (c == '\\')
                c = '/';
        files.push_back(relative);
    }
    return files;
}

bool WriteLines(const std::wstring& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return WriteFileBytes(path, text);
}

// What an administrator's file outside the user's folder holds; the host check
// looks for it in every entry.
const char kSecret[] = "secret of the administrators";

class ListingArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = PrefixArtifacts(); }
    void TearDown() override {
        userRightsCalls = SYSTEM_USER_RIGHTS_CALLS;
        standIns = RightsStandIns();
        EXPECT_FALSE(ThreadImpersonates());
    }
    // A copy of the per-user folder into its own archive, <stem>.zip.
    static void CopyInto(const std::wstring& stem, const std::wstring& root) {
        ArchiveUnderTest archive(dir_ + L"\\" + stem + L".zip");
        ASSERT_TRUE(archive.Open());
        EXPECT_TRUE(AddDirectoryFiles(root.c_str()));
        EXPECT_EQ(ARC_OK, archive.Close());
    }
    // An ordinary folder holding, besides its own files, a Unix link to a file
    // outside and a hard link to another; the walk's order goes to <stem>-walk.txt.
    static void MakeFolderWithLinkedFiles(const std::wstring& stem) {
        std::wstring outside = dir_ + L"\\" + stem + L"-outside";
        std::wstring root = dir_ + L"\\" + stem;
        MakeTree(outside, {{L"secret.txt", kSecret}, {L"hard-secret.txt", kSecret}});
        MakeTree(root, {{L"one.txt", "the first of the user's files"},
                        {L"two.bin", std::string("\0\1\2\xfe\xff binary", 12)},
                        {L"sub\\", ""},
                        {L"sub\\three.txt", "below a folder"}});
        ASSERT_TRUE(testsupport::MakeUnixSymlink(root + L"\\flink.txt",
                                                 testsupport::UnixPath(outside + L"\\secret.txt")));
        ASSERT_TRUE(CreateHardLinkW((root + L"\\sub\\hard.txt").c_str(),
                                    (outside + L"\\hard-secret.txt").c_str(), nullptr));
        ASSERT_TRUE(WriteLines(dir_ + L"\\" + stem + L"-walk.txt", WalkedFiles(root)));
    }
    static std::wstring dir_;
};
std::wstring ListingArchives::dir_;

TEST_F(ListingArchives, ListingsAreAddedAsUtf16TextAndEmptyOnesAreNot) {
    std::wstring tree = dir_ + L"\\tree";
    std::string probe = testsupport::ReadFileBytes(testsupport::BuiltProgram(L"listing_version_probe.exe"));
    ASSERT_FALSE(probe.empty());
    MakeTree(tree, {{L"twain_32a", "after the folder's contents"},
                    {L"twain_32\\", ""},
                    {L"twain_32\\a.ds", "abc"},
                    {L"twain_32.dll", std::string("\0\1\2binary\xff", 10)},
                    {L"Twunk_16.exe", probe},
                    {L"empty.txt", ""},
                    {L"hidden.txt", "hidden"}});
    SetFileAttributesW((tree + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);

    wchar_t windows[MAX_PATH] = {}, systemWindows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemWindowsDirectoryW(systemWindows, MAX_PATH);

    ArchiveUnderTest archive(dir_ + L"\\listings.zip");
    ASSERT_TRUE(archive.Open());
    EXPECT_TRUE(AddDirectoryListing(L"dir\\twain_32-sys.txt", systemWindows, L"tw*.*"));
    EXPECT_TRUE(AddDirectoryListing(L"dir\\twain_32-usr.txt", windows, L"tw*.*"));
    EXPECT_TRUE(AddDirectoryListing(L"dir\\fixture.txt", tree.c_str(), L"*.*"));
    EXPECT_FALSE(AddDirectoryListing(L"dir\\missing.txt", (tree + L"\\missing").c_str(), L"*.*"));
    EXPECT_EQ(ARC_BAD_ARGUMENT, lastArchiveResult) << "an empty listing is refused by the archive";
    EXPECT_FALSE(AddDirectoryListing(L"dir\\nomatch.txt", tree.c_str(), L"zz*.*"));
    // The fixture's text as the listing builds it, for a byte-for-byte comparison.
    std::list<DirEntryRecord> records;
    WalkDirectory(tree, records, L"*.*");
    SortByFullPath(records);
    std::wstring text = BuildListingText(records);
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\fixture-expected.bin",
                               std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
    EXPECT_EQ(ARC_OK, archive.Close());
}

TEST_F(ListingArchives, PerUserFilesAreCopiedBelowFiles) {
    std::wstring root = dir_ + L"\\userfiles";
    MakeTree(root, {{L"a.dat", std::string("\0\x01\x02\xfe\xff data\r\n", 12)},
                    {L"logs\\", ""},
                    {L"logs\\b.log", std::string(100000, 'b') + "end"},
                    {L"empty\\", ""},
                    {L"x\\", ""},
                    {L"x\\y\\", ""},
                    {L"x\\y\\z\\", ""},
                    {L"x\\y\\z\\deep.txt", "deep"},
                    {L"locked.dat", "nobody may read this"},
                    {L"zero.txt", ""},
                    {L"\u0436.txt", "outside the code page"},
                    {L"\u00e9.txt", "inside the code page"}});
    // A name below the root that needs 260 units after "files" is left out.
    std::wstring longDir = L"long\\";
    MakeTree(root, {{longDir, ""}});
    std::wstring longName = longDir + std::wstring(254 - longDir.size(), L'n');
    bool madeLong = WriteFileBytes(root + L"\\" + longName, "too long");
    std::wstring fitting = longDir + std::wstring(253 - longDir.size(), L'f');
    bool madeFitting = WriteFileBytes(root + L"\\" + fitting, "fits");
    EXPECT_EQ(259u, (L"files\\" + fitting).size());
    printf("long names made: %d %d\n", madeLong, madeFitting);

    HANDLE lock = CreateFileW((root + L"\\locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    {
        ArchiveUnderTest archive(dir_ + L"\\files.zip");
        ASSERT_TRUE(archive.Open());
        EXPECT_TRUE(AddDirectoryFiles(root.c_str()));
        // A missing folder adds nothing, and the archive goes on taking entries.
        EXPECT_TRUE(AddDirectoryFiles((root + L"\\missing").c_str()));
        const char marker[] = "after the copies";
        EXPECT_EQ(ARC_OK, AddArchiveEntry(packageArchive, L"info\\marker.txt", marker, sizeof(marker) - 1,
                                          SOURCE_MEMORY));
        EXPECT_EQ(ARC_OK, archive.Close());
    }
    {
        ArchiveUnderTest archive(dir_ + L"\\files-trailing.zip");
        ASSERT_TRUE(archive.Open());
        EXPECT_TRUE(AddDirectoryFiles((root + L"\\").c_str()));
        EXPECT_EQ(ARC_OK, archive.Close());
    }
    CloseHandle(lock);
    {
        ArchiveUnderTest archive(dir_ + L"\\files-none.zip");
        ASSERT_TRUE(archive.Open());
        EXPECT_TRUE(AddDirectoryFiles((root + L"\\missing").c_str()));
        EXPECT_TRUE(AddDirectoryFiles((root + L"\\empty").c_str()));
        EXPECT_EQ(ARC_OK, archive.Close());
    }
}

// A per-user folder as a user could plant it: two links back into the tree, a
// link to a folder and one to a file outside it. The walk lists the links and
// enters none, and the copies take only the real files, under Wine too; before,
// the loops made the walk endless (the suite's time-out ends it).
TEST_F(ListingArchives, LinksAreListedButNeverFollowedOrCopied) {
    std::wstring outside = dir_ + L"\\outside";
    std::wstring root = dir_ + L"\\linked";
    MakeTree(outside, {{L"secret.txt", "only for administrators"}, {L"deeper\\", ""},
                       {L"deeper\\more.txt", "also outside"}});
    MakeTree(root, {{L"real.txt", "a real file"}, {L"sub\\", ""}, {L"sub\\inner.txt", "inner"}});
    ASSERT_TRUE(testsupport::MakeUnixSymlink(root + L"\\loop", "."));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(root + L"\\sub\\again", ".."));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(root + L"\\out", testsupport::UnixPath(outside)));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(root + L"\\pw.txt", testsupport::UnixPath(outside + L"\\secret.txt")));

    DWORD start = GetTickCount();
    std::list<DirEntryRecord> records;
    WalkDirectory(root, records, L"*.*");
    std::map<std::wstring, DWORD> seen;
    for (const DirEntryRecord& record : records)
        seen[FullPath(record).substr(root.size() + 1)] = record.findData.dwFileAttributes;
    std::vector<std::wstring> names;
    for (const auto& entry : seen)
        names.push_back(entry.first);
    EXPECT_EQ((std::vector<std::wstring>{L"loop", L"out", L"pw.txt", L"real.txt", L"sub", L"sub\\again",
                                         L"sub\\inner.txt"}),
              names);
    for (const wchar_t* link : {L"loop", L"out", L"sub\\again"})
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
                  seen[link] & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            << Narrow(link);
    // Wine 8 shows the link to a file as a plain file; the copy still leaves it
    // out, since the file it opens lies outside the folder.

    ArchiveUnderTest archive(dir_ + L"\\links.zip");
    ASSERT_TRUE(archive.Open());
    EXPECT_TRUE(AddDirectoryListing(L"dir\\links.txt", root.c_str(), L"*.*"));
    EXPECT_TRUE(AddDirectoryFiles(root.c_str()));
    EXPECT_EQ(ARC_OK, archive.Close());
    EXPECT_LT(GetTickCount() - start, 20000u);
}

// The per-user folder itself a link to a folder elsewhere, as the link, through
// the trailing backslash that names what it points to, or as a link above it:
// nothing at all is copied, so nothing from elsewhere.
TEST_F(ListingArchives, PerUserFolderReachedThroughALinkGivesNoFiles) {
    std::wstring elsewhere = dir_ + L"\\elsewhere";
    MakeTree(elsewhere, {{L"secret.txt", kSecret}, {L"inner\\", ""}, {L"inner\\more.txt", kSecret}});
    ASSERT_TRUE(testsupport::MakeUnixSymlink(dir_ + L"\\root-link", testsupport::UnixPath(elsewhere)));
    ASSERT_TRUE(testsupport::FileExists(dir_ + L"\\root-link\\inner\\more.txt")) << "the link leads elsewhere";
    const struct {
        const wchar_t* stem;
        const wchar_t* root;
    } cases[] = {{L"root-link", L"root-link"},
                 {L"root-link-trailing", L"root-link\\"},
                 {L"root-below-link", L"root-link\\inner"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.stem));
        CopyInto(c.stem, dir_ + L"\\" + c.root);
    }
}

// Inside an ordinary folder, a link to a file outside and a hard link to
// another are left out; the folder's own files are copied, with their bytes,
// in walk order. The folder named in other letters is the same folder.
TEST_F(ListingArchives, LinkedFilesInsideThePerUserFolderAreNotCopied) {
    ASSERT_NO_FATAL_FAILURE(MakeFolderWithLinkedFiles(L"linked-files"));
    BY_HANDLE_FILE_INFORMATION information = {};
    HANDLE hard = CreateFileW((dir_ + L"\\linked-files\\sub\\hard.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hard);
    EXPECT_TRUE(GetFileInformationByHandle(hard, &information));
    CloseHandle(hard);
    EXPECT_EQ(2u, information.nNumberOfLinks) << "the fixture's hard link";
    CopyInto(L"linked-files", dir_ + L"\\linked-files");
    CopyInto(L"linked-files-case", dir_ + L"\\LINKED-Files");
}

// Without a shell user of this account nothing is impersonated, and the files
// are still checked by the handle that is read.
TEST_F(ListingArchives, WithoutAShellUserTheFilesAreCopiedAsTheProgramAndStillChecked) {
    UseStandIns(NoShellUser);
    ASSERT_NO_FATAL_FAILURE(MakeFolderWithLinkedFiles(L"no-shell-user"));
    CopyInto(L"no-shell-user", dir_ + L"\\no-shell-user");
    EXPECT_EQ("", standIns.trace);
}

// The walk, and then each file's open, run with the user's rights, and nothing
// else: a file made at the first impersonation is walked and copied, one made
// at the first revert is not; a file is open at the revert after its open
// and not at the impersonation before it, one pair of calls per open.
TEST_F(ListingArchives, WalkAndEachOpenRunWithTheUsersRights) {
    std::wstring root = dir_ + L"\\rights";
    MakeTree(root, {{L"f1.txt", "first"}, {L"f2.txt", "second"}, {L"sub\\", ""}, {L"sub\\f3.txt", "third"}});
    std::vector<std::string> opened;
    std::vector<std::string> problems;
    auto heldFiles = [&] {
        std::vector<std::string> held;
        for (const std::string& file : WalkedFiles(root))
            if (HeldOpen(root + L"\\" + testsupport::Widen(file)))
                held.push_back(file);
        return held;
    };
    UseStandIns();
    standIns.atImpersonate = [&](int call) {
        if (call == 1 && !WriteFileBytes(root + L"\\early.txt", "made before the walk"))
            problems.push_back("early.txt not made");
        if (!heldFiles().empty())
            problems.push_back("a file open before impersonation " + std::to_string(call));
    };
    standIns.atRevert = [&](int call) {
        if (call == 1) {
            if (!WriteFileBytes(root + L"\\late.txt", "made after the walk"))
                problems.push_back("late.txt not made");
            return;
        }
        std::vector<std::string> held = heldFiles();
        if (held.size() == 1)
            opened.push_back(held[0]);
        else
            problems.push_back(std::to_string(held.size()) + " files open at revert " + std::to_string(call));
    };
    CopyInto(L"rights", root);
    EXPECT_EQ(std::vector<std::string>(), problems);
    std::vector<std::string> sortedOpened = opened;
    std::sort(sortedOpened.begin(), sortedOpened.end());
    EXPECT_EQ((std::vector<std::string>{"early.txt", "f1.txt", "f2.txt", "sub/f3.txt"}), sortedOpened);
    EXPECT_EQ(int(1 + opened.size()), standIns.impersonations);
    EXPECT_EQ(standIns.impersonations, standIns.reverts);
    EXPECT_EQ("IRIRIRIRIR", standIns.trace);
    ASSERT_TRUE(WriteLines(dir_ + L"\\rights-opened.txt", opened));
}

// When the user's identity cannot be taken on, the folder is not even walked.
TEST_F(ListingArchives, FailedImpersonationWalksAndCopiesNothing) {
    std::wstring root = dir_ + L"\\refused";
    MakeTree(root, {{L"f1.txt", "first"}, {L"sub\\", ""}, {L"sub\\f2.txt", "second"}});
    UseStandIns();
    standIns.failImpersonation = true;
    CopyInto(L"refused", root);
    EXPECT_EQ("I", standIns.trace);
}

// A file swapped for a link to a file outside between the walk and its open is
// refused; one swapped right after its open and check is copied with the bytes
// of the file that was checked, since that very handle is read.
TEST_F(ListingArchives, FilesSwappedForLinksAreNotFollowed) {
    std::wstring root = dir_ + L"\\swap";
    std::wstring outside = dir_ + L"\\swap-outside";
    MakeTree(outside, {{L"secret.txt", kSecret}});
    MakeTree(root, {{L"after-open.txt", "checked before the swap"}, {L"before-open.txt", "plain at the walk"}});
    std::string secret = testsupport::UnixPath(outside + L"\\secret.txt");
    ASSERT_TRUE(testsupport::MakeUnixSymlink(outside + L"\\link-a", secret));
    ASSERT_TRUE(testsupport::MakeUnixSymlink(outside + L"\\link-b", secret));
    int swaps = 0;
    UseStandIns();
    standIns.atRevert = [&](int call) {
        if (call == 1 && testsupport::MoveUnixEntry(outside + L"\\link-b", root + L"\\before-open.txt"))
            ++swaps;
        if (call > 1 && HeldOpen(root + L"\\after-open.txt") &&
            testsupport::MoveUnixEntry(outside + L"\\link-a", root + L"\\after-open.txt"))
            ++swaps;
    };
    CopyInto(L"swap", root);
    EXPECT_EQ(2, swaps);
    // The swaps took: both names now give the secret.
    EXPECT_EQ(kSecret, testsupport::ReadFileBytes(root + L"\\before-open.txt"));
    EXPECT_EQ(kSecret, testsupport::ReadFileBytes(root + L"\\after-open.txt"));
}

}  // namespace
