// Listings and per-user copies written into real archives; check_listing_archives.py
// reads them back on the host and compares them with the files themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "listing.h"
#include "test_support.h"
#include "user_files.h"
#include "ziparchive.h"

namespace {

using testsupport::Narrow;
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

class ListingArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = PrefixArtifacts(); }
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

}  // namespace
