// The walk, the version lookup, the digest and whole listing lines on real files.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "listing.h"
#include "product_version.h"
#include "test_support.h"

namespace {

using testsupport::WriteFileBytes;

std::vector<std::wstring> SplitColumns(const std::wstring& line) {
    std::vector<std::wstring> columns;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find(L'\t', start);
        columns.push_back(line.substr(start, tab == std::wstring::npos ? tab : tab - start));
        if (tab == std::wstring::npos)
            return columns;
        start = tab + 1;
    }
}

std::string Digest(const std::wstring& path) {
    std::unique_ptr<char, decltype(&free)> text(Md5OfFile(path.c_str()), &free);
    return text ? std::string(text.get()) : std::string("(none)");
}

bool MakeDir(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

// Paths of the records below root, in list order, with root and its backslash cut off.
std::vector<std::wstring> RelativePaths(const std::list<DirEntryRecord>& records, const std::wstring& root) {
    std::vector<std::wstring> paths;
    for (const DirEntryRecord& record : records) {
        std::wstring path = FullPath(record);
        paths.push_back(path.compare(0, root.size() + 1, root + L"\\") == 0 ? path.substr(root.size() + 1)
                                                                         : L"?" + path);
    }
    return paths;
}

std::wstring UtcColumn(const FILETIME& time) {
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc))
        return L"(unconvertible)";
    return FormatCreationTime(&utc);
}

const DirEntryRecord* FindRecord(const std::list<DirEntryRecord>& records, const std::wstring& path) {
    for (const DirEntryRecord& record : records)
        if (FullPath(record) == path)
            return &record;
    return nullptr;
}

class ListingFiles : public ::testing::Test {
protected:
    void SetUp() override { root_ = testsupport::MakeTempDir(L"listing"); }
    void TearDown() override { testsupport::RemoveTree(root_); }
    std::wstring Path(const std::wstring& relative) const { return root_ + L"\\" + relative; }
    void File(const std::wstring& relative, const std::string& bytes = "x") {
        ASSERT_TRUE(WriteFileBytes(Path(relative), bytes)) << testsupport::Narrow(relative);
    }
    void Dir(const std::wstring& relative) { ASSERT_TRUE(MakeDir(Path(relative))); }
    // Makes the entries in order: a name ending in a backslash is a folder, others files.
    void Tree(std::initializer_list<std::wstring> entries) {
        for (const std::wstring& entry : entries) {
            if (!entry.empty() && entry.back() == L'\\')
                Dir(entry.substr(0, entry.size() - 1));
            else
                File(entry);
        }
    }
    std::vector<std::wstring> Walked(const wchar_t* pattern, bool* opened = nullptr) {
        std::list<DirEntryRecord> records;
        bool result = WalkDirectory(root_, records, pattern);
        if (opened)
            *opened = result;
        return RelativePaths(records, root_);
    }
    std::wstring root_;
};

TEST_F(ListingFiles, WalkIsPreOrderAndThePatternHoldsOnTheTopLevelOnly) {
    Tree({L"tw1.txt", L"TWupper.dat", L"other.txt", L"twdir\\", L"twdir\\inner.txt",
          L"twdir\\not_tw.txt", L"twdir\\sub\\", L"twdir\\sub\\deep.txt", L"twdir\\empty\\",
          L"otherdir\\", L"otherdir\\tw_inside.txt"});

    std::list<DirEntryRecord> records;
    ASSERT_TRUE(WalkDirectory(root_, records, L"tw*.*"));
    std::vector<std::wstring> paths = RelativePaths(records, root_);

    std::set<std::wstring> expected = {L"tw1.txt",         L"TWupper.dat",      L"twdir",
                                       L"twdir\\inner.txt", L"twdir\\not_tw.txt", L"twdir\\sub",
                                       L"twdir\\sub\\deep.txt", L"twdir\\empty"};
    EXPECT_EQ(expected, std::set<std::wstring>(paths.begin(), paths.end()));
    EXPECT_EQ(expected.size(), paths.size()) << "no name twice, no . or ..";

    // Pre-order: every directory is followed at once by its whole subtree.
    for (size_t i = 0; i < paths.size(); ++i) {
        size_t cut = paths[i].find_last_of(L'\\');
        if (cut == std::wstring::npos)
            continue;
        std::wstring parent = paths[i].substr(0, cut);
        auto at = std::find(paths.begin(), paths.end(), parent);
        ASSERT_NE(paths.end(), at) << testsupport::Narrow(paths[i]);
        size_t parentIndex = static_cast<size_t>(at - paths.begin());
        EXPECT_LT(parentIndex, i);
        for (size_t between = parentIndex + 1; between < i; ++between)
            EXPECT_EQ(0u, paths[between].rfind(parent + L"\\", 0))
                << testsupport::Narrow(paths[between]) << " inside " << testsupport::Narrow(parent);
    }
    // parentDir is the searched directory itself.
    for (const DirEntryRecord& record : records) {
        std::wstring path = FullPath(record);
        EXPECT_EQ(path.substr(0, path.find_last_of(L'\\')), record.parentDir);
    }
}

TEST_F(ListingFiles, StarDotStarMatchesNamesWithoutDot) {
    Tree({L"noext", L"plain\\", L"plain\\inner"});
    bool opened = false;
    std::vector<std::wstring> paths = Walked(L"*.*", &opened);
    EXPECT_TRUE(opened);
    std::set<std::wstring> expected = {L"noext", L"plain", L"plain\\inner"};
    EXPECT_EQ(expected, std::set<std::wstring>(paths.begin(), paths.end()));
}

TEST_F(ListingFiles, TrailingBackslashGivesSingleBackslashesOnEveryLevel) {
    Tree({L"a\\", L"a\\b\\", L"a\\b\\c.txt", L"top.txt"});
    std::list<DirEntryRecord> trailing;
    ASSERT_TRUE(WalkDirectory(root_ + L"\\", trailing, L"*.*"));
    EXPECT_EQ(Walked(L"*.*"), RelativePaths(trailing, root_));
    for (const DirEntryRecord& record : trailing)
        EXPECT_EQ(std::wstring::npos, FullPath(record).find(L"\\\\")) << testsupport::Narrow(FullPath(record));
}

TEST_F(ListingFiles, NothingIsAppendedWhenTheTopSearchFails) {
    File(L"only.txt");
    std::list<DirEntryRecord> records(1);
    EXPECT_FALSE(WalkDirectory(Path(L"missing"), records, L"*.*"));
    EXPECT_FALSE(WalkDirectory(root_, records, L"tw*.*"));
    EXPECT_FALSE(WalkDirectory(root_, records, nullptr));
    EXPECT_EQ(1u, records.size());
}

TEST_F(ListingFiles, HiddenSystemAndReadOnlyEntriesAreListedWithTheirColumns) {
    Dir(L"hs");
    File(L"hs\\inside.txt");
    File(L"ro.txt");
    File(L"plain.txt");
    ASSERT_TRUE(SetFileAttributesW(Path(L"hs").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(Path(L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(Path(L"plain.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
    std::list<DirEntryRecord> records;
    WalkDirectory(root_, records, L"*.*");
    std::map<std::wstring, std::wstring> attributeColumn;
    for (const DirEntryRecord& record : records)
        attributeColumn[FullPath(record)] = SplitColumns(FormatListingLine(record))[0];
    EXPECT_EQ(L"D--HS", attributeColumn[Path(L"hs")]);
    EXPECT_EQ(L"--A--", attributeColumn[Path(L"hs\\inside.txt")]);
    EXPECT_EQ(L"-AA--", attributeColumn[Path(L"ro.txt")]);
    EXPECT_EQ(L"--A--", attributeColumn[Path(L"plain.txt")]);
    SetFileAttributesW(Path(L"ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ListingFiles, DigestOfKnownContents) {
    struct Case {
        std::string content;
        const char* digest;
    };
    std::string allBytes;
    for (int round = 0; round < 4; ++round)
        for (int byte = 0; byte < 256; ++byte)
            allBytes += static_cast<char>(byte);
    const Case cases[] = {
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        {std::string(55, 'x'), "04364420E25C512FD958A70738AA8F72"},
        {std::string(56, 'x'), "668A72D5BA17F08E62DABCAFAD6DB14B"},
        {std::string(64, 'x'), "C1BB4F81D892B2D57947682AEB252456"},
        {std::string(4097, 'x'), "88751DD296563726278C2D57AB7549E4"},
        {allBytes, "B2EA9F7FCEA831A4A63B213F41A8855B"},
        {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring name = L"known" + std::to_wstring(index++) + L".bin";
        File(name, c.content);
        EXPECT_EQ(c.digest, Digest(Path(name))) << c.content.size() << " bytes";
    }
}

TEST_F(ListingFiles, NoDigestForEmptyFileDirectoryMissingFileOrOneHeldForWriting) {
    File(L"empty.txt", "");
    Dir(L"folder");
    File(L"held.txt", "abc");
    EXPECT_EQ("(none)", Digest(Path(L"empty.txt")));
    EXPECT_EQ("(none)", Digest(Path(L"folder")));
    EXPECT_EQ("(none)", Digest(Path(L"missing.txt")));

    HANDLE writer = CreateFileW(Path(L"held.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ("(none)", Digest(Path(L"held.txt")));
    CloseHandle(writer);

    // A reader that shares reading does not stand in the way.
    HANDLE reader = CreateFileW(Path(L"held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", Digest(Path(L"held.txt")));
    CloseHandle(reader);

    // The digest closes what it opened: the file can be taken exclusively afterwards.
    HANDLE exclusive = CreateFileW(Path(L"held.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive);
    CloseHandle(exclusive);
    EXPECT_TRUE(DeleteFileW(Path(L"held.txt").c_str()));
}

bool MakeSparseFile(const std::wstring& path, long long size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

TEST_F(ListingFiles, FilesTooLargeForOneViewShowTheirWholeSizeAndNoDigest) {
    ASSERT_TRUE(MakeSparseFile(Path(L"five.bin"), 5LL << 30));
    ASSERT_TRUE(MakeSparseFile(Path(L"three.bin"), 3LL << 30));
    std::list<DirEntryRecord> records;
    WalkDirectory(root_, records, L"*.*");
    SortByFullPath(records);
    ASSERT_EQ(2u, records.size());
    std::vector<std::wstring> five = SplitColumns(FormatListingLine(records.front()));
    std::vector<std::wstring> three = SplitColumns(FormatListingLine(records.back()));
    EXPECT_EQ(L"  5368709120", five[1]);
    EXPECT_EQ(L"00000000000000000000000000000000", five[4]);
    EXPECT_EQ(L"  3221225472", three[1]);
    EXPECT_EQ(L"00000000000000000000000000000000", three[4]);
}

TEST_F(ListingFiles, FileVersionOfOurOwnProgramsAndNoneForOtherFiles) {
    const WORD productVersion[] = {PRODUCT_VERSION_NUMBERS};
    struct Case {
        std::wstring path;
        FileVersion version;
    };
    File(L"text.txt", "not a program\r\n");
    Dir(L"folder");
    const Case cases[] = {
        {testsupport::BuiltProgram(L"addinwire.exe"),
         {true, {productVersion[0], productVersion[1], productVersion[2], productVersion[3]}}},
        {testsupport::BuiltProgram(L"listing_version_probe.exe"), {true, {10, 0, 19041, 1}}},
        {Path(L"text.txt"), {}},
        {Path(L"folder"), {}},
        {Path(L"missing.dll"), {}},
    };
    for (const Case& c : cases) {
        FileVersion got = LookupFileVersion(c.path.c_str());
        EXPECT_EQ(c.version.present, got.present) << testsupport::Narrow(c.path);
        EXPECT_EQ(FormatFileVersion(c.version), FormatFileVersion(got)) << testsupport::Narrow(c.path);
    }
    // A platform library has one too.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    FileVersion kernel = LookupFileVersion((std::wstring(system) + L"\\kernel32.dll").c_str());
    EXPECT_TRUE(kernel.present);
    EXPECT_GE(kernel.parts[0], 5);
}

TEST_F(ListingFiles, LineOfARealFile) {
    File(L"abc.txt", "abc");
    std::list<DirEntryRecord> records;
    WalkDirectory(root_, records, L"*.*");
    ASSERT_EQ(1u, records.size());
    std::wstring line = FormatListingLine(records.front());
    std::vector<std::wstring> expected = {L"--A--",
                                          L"           3",
                                          UtcColumn(records.front().findData.ftCreationTime),
                                          L"0.0.0.0         ",
                                          L"900150983CD24FB0D6963F7D28E17F72",
                                          Path(L"abc.txt")};
    EXPECT_EQ(expected, SplitColumns(line));
    EXPECT_EQ(std::wstring::npos, line.find_first_of(L"\r\n"));
}

TEST_F(ListingFiles, CreationTimeIsPrintedInUtcWhateverTheZone) {
    // The run sets a zone half an hour off any whole-hour zone, so local time shows.
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    ASSERT_NE(0, zone.Bias) << "the test expects TZ set to a zone other than UTC";

    File(L"dated.txt", "abc");
    std::list<DirEntryRecord> records;
    WalkDirectory(root_, records, L"*.*");
    ASSERT_EQ(1u, records.size());
    DirEntryRecord record = records.front();
    SYSTEMTIME utc = {2021, 3, 5, 5, 7, 4, 59, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &record.findData.ftCreationTime));
    FILETIME localFile;
    SYSTEMTIME local;
    FileTimeToLocalFileTime(&record.findData.ftCreationTime, &localFile);
    FileTimeToSystemTime(&localFile, &local);
    ASSERT_NE(L"2021-03-05 07:04", FormatCreationTime(&local));

    std::vector<std::wstring> columns = SplitColumns(FormatListingLine(record));
    EXPECT_EQ(L"2021-03-05 07:04", columns[2]);

    // A creation time beyond the conversion's range leaves the rest of the line as it was.
    record.findData.ftCreationTime.dwHighDateTime = 0xFFFFFFFF;
    record.findData.ftCreationTime.dwLowDateTime = 0xFFFFFFFF;
    std::vector<std::wstring> beyond = SplitColumns(FormatListingLine(record));
    EXPECT_EQ(L"0000-00-00 00:00", beyond[2]);
    columns[2] = beyond[2];
    EXPECT_EQ(columns, beyond);
}

TEST(TwainFolders, WindowsDirectoriesAreListedSortedWithVersionsAndDigests) {
    wchar_t windows[MAX_PATH] = {}, systemWindows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemWindowsDirectoryW(systemWindows, MAX_PATH);
    for (const std::wstring& directory : {std::wstring(windows), std::wstring(systemWindows)}) {
        std::list<DirEntryRecord> records;
        ASSERT_TRUE(WalkDirectory(directory, records, L"tw*.*"));
        SortByFullPath(records);
        std::vector<std::wstring> paths = RelativePaths(records, directory);

        // The known names of the prefix, in their sorted order: the folder twain_32
        // first, the file beside it next, then the folder's contents.
        std::vector<std::wstring> known = {L"twain.dll", L"twain_32", L"twain_32.dll"};
        std::vector<std::wstring> found;
        for (const std::wstring& path : paths)
            if (std::find(known.begin(), known.end(), path) != known.end())
                found.push_back(path);
        EXPECT_EQ(known, found);
        auto dll = std::find(paths.begin(), paths.end(), L"twain_32.dll");
        ASSERT_NE(paths.end(), dll);
        ASSERT_NE(paths.end(), dll + 1);
        EXPECT_EQ(0u, (dll + 1)->rfind(L"twain_32\\", 0)) << "contents of twain_32 follow twain_32.dll";
        EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end(), PathPrecedes));

        for (const DirEntryRecord& record : records) {
            std::wstring path = FullPath(record);
            std::vector<std::wstring> columns = SplitColumns(FormatListingLine(record));
            ASSERT_EQ(6u, columns.size());
            EXPECT_EQ(path, columns[5]);
            if (record.findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                EXPECT_EQ(L'D', columns[0][0]);
                EXPECT_EQ(L"0.0.0.0         ", columns[3]);
                EXPECT_EQ(L"00000000000000000000000000000000", columns[4]);
            } else {
                EXPECT_EQ(testsupport::Widen(Digest(path)), columns[4]) << testsupport::Narrow(path);
            }
        }
        // Wine's TWAIN files carry no version block; the column shows what the file has.
        const DirEntryRecord* twain32 = FindRecord(records, directory + L"\\twain_32.dll");
        ASSERT_NE(nullptr, twain32);
        std::vector<std::wstring> columns = SplitColumns(FormatListingLine(*twain32));
        EXPECT_EQ(FormatFileVersion(LookupFileVersion(FullPath(*twain32).c_str())), columns[3]);
        EXPECT_NE(L"00000000000000000000000000000000", columns[4]);
    }
}

TEST_F(ListingFiles, TenThousandFiles) {
    const int count = 10000;
    auto clock = [] { return std::chrono::steady_clock::now(); };
    auto ms = [](std::chrono::steady_clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    Dir(L"many");
    for (int i = 0; i < count; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"many\\f%05d_%c.txt", (i * 7919) % count, L"aB_."[i % 4]);
        File(name, std::to_string(i));
    }
    auto start = clock();
    std::list<DirEntryRecord> records;
    WalkDirectory(root_, records, L"*.*");
    auto walked = clock();
    std::list<DirEntryRecord> reference = records;
    SortByFullPath(records);
    auto sorted = clock();
    std::wstring text = BuildListingText(records);
    auto formatted = clock();
    // The same stable order with both paths built anew for each comparison.
    size_t comparisons = 0;
    auto naiveStart = clock();
    reference.sort([&comparisons](const DirEntryRecord& left, const DirEntryRecord& right) {
        ++comparisons;
        return PathPrecedes(FullPath(left), FullPath(right));
    });
    auto naiveEnd = clock();

    EXPECT_EQ(static_cast<size_t>(count) + 1, records.size());
    size_t lines = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2))
        ++lines;
    EXPECT_EQ(records.size(), lines);
    EXPECT_EQ(0u, text.compare(text.size() - 2, 2, L"\r\n"));
    auto expected = reference.begin();
    for (const DirEntryRecord& record : records)
        ASSERT_EQ(FullPath(*expected++), FullPath(record));
    printf("[ listing ] %d files: walk %lld ms, sort %lld ms (per-comparison paths: %lld ms, %u "
           "comparisons), lines with versions and digests %lld ms\n",
           count, static_cast<long long>(ms(walked - start)), static_cast<long long>(ms(sorted - walked)),
           static_cast<long long>(ms(naiveEnd - naiveStart)), static_cast<unsigned>(comparisons),
           static_cast<long long>(ms(formatted - sorted)));
}

}  // namespace
