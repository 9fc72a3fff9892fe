// Pure pieces of the directory listings: columns, lines, full paths and their order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "listing_format.h"
#include "user_files.h"

namespace {

DirEntryRecord Record(const std::wstring& parentDir, const std::wstring& name, DWORD attributes = 0) {
    DirEntryRecord record = {};
    record.parentDir = parentDir;
    wcsncpy(record.findData.cFileName, name.c_str(), MAX_PATH - 1);
    record.findData.dwFileAttributes = attributes;
    return record;
}

std::vector<std::wstring> SortedPaths(std::list<DirEntryRecord> records) {
    SortByFullPath(records);
    std::vector<std::wstring> paths;
    for (const DirEntryRecord& record : records)
        paths.push_back(FullPath(record));
    return paths;
}

TEST(AttributeColumn, ShowsEachBitAtItsPosition) {
    struct Case {
        DWORD attributes;
        const wchar_t* column;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, L"-AA--"},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, L"D--HS"},
        {FILE_ATTRIBUTE_ARCHIVE, L"--A--"},
        {FILE_ATTRIBUTE_READONLY, L"-A---"},
        {0, L"-----"},
        {FILE_ATTRIBUTE_NORMAL, L"-----"},
        {0x37, L"DAAHS"},
        // Bits the column does not show leave it untouched.
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED, L"D----"},
        {0xFFFFFFFF, L"DAAHS"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.column, FormatAttributes(c.attributes)) << std::hex << c.attributes;
}

TEST(SizeColumn, RightAlignedInTwelveFromBothHalves) {
    struct Case {
        DWORD high, low;
        const wchar_t* column;
    };
    const Case cases[] = {
        {0, 0, L"           0"},
        {0, 1234, L"        1234"},
        {0, 0xFFFFFFFF, L"  4294967295"},
        {1, 0, L"  4294967296"},
        {1, 0x40000000, L"  5368709120"},
        {0xE8, 0xD4A50FFF, L"999999999999"},            // twelve digits: no space
        {0xE8, 0xD4A51000, L"1000000000000"},           // thirteen: written whole
        {0xFFFFFFFF, 0xFFFFFFFF, L"18446744073709551615"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.column, FormatSize(c.high, c.low)) << c.high << ":" << c.low;
}

TEST(CreationTimeColumn, DateAndMinuteWithTwoDigitFields) {
    struct Case {
        SYSTEMTIME time;
        const wchar_t* column;
    };
    const Case cases[] = {
        {{2021, 3, 5, 5, 7, 4, 59, 999}, L"2021-03-05 07:04"},
        {{1601, 1, 1, 1, 0, 0, 0, 0}, L"1601-01-01 00:00"},
        {{1999, 12, 0, 31, 23, 59, 59, 0}, L"1999-12-31 23:59"},
        {{30827, 12, 0, 31, 23, 59, 0, 0}, L"30827-12-31 23:59"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.column, FormatCreationTime(&c.time));
    EXPECT_EQ(L"0000-00-00 00:00", FormatCreationTime(nullptr));
}

TEST(VersionColumn, FourWordsLeftAlignedInSixteen) {
    struct Case {
        FileVersion version;
        const wchar_t* column;
    };
    const Case cases[] = {
        {{true, {10, 0, 19041, 1}}, L"10.0.19041.1    "},
        {{true, {1, 2, 3, 4}}, L"1.2.3.4         "},
        {{false, {9, 9, 9, 9}}, L"0.0.0.0         "},
        {{true, {0, 0, 0, 0}}, L"0.0.0.0         "},
        {{true, {1000, 2000, 3000, 40000}}, L"1000.2000.3000.40000"},
        {{true, {65535, 65535, 65535, 65535}}, L"65535.65535.65535.65535"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.column, FormatFileVersion(c.version));
}

TEST(ListingLine, SixColumnsJoinedByTabs) {
    ListingLineFacts file;
    file.attributes = FILE_ATTRIBUTE_ARCHIVE;
    file.sizeLow = 166150;
    file.creationKnown = true;
    file.creationUtc = {2021, 3, 5, 5, 7, 4, 59, 0};
    file.version = {true, {10, 0, 19041, 1}};
    file.digest = "900150983CD24FB0D6963F7D28E17F72";
    file.path = L"C:\\windows\\twain_32.dll";
    EXPECT_EQ(L"--A--\t      166150\t2021-03-05 07:04\t10.0.19041.1    \t"
              L"900150983CD24FB0D6963F7D28E17F72\tC:\\windows\\twain_32.dll",
              FormatListingFields(file));

    ListingLineFacts directory;
    directory.attributes = FILE_ATTRIBUTE_DIRECTORY;
    directory.creationKnown = false;
    directory.path = L"C:\\windows\\twain_32";
    EXPECT_EQ(L"D----\t           0\t0000-00-00 00:00\t0.0.0.0         \t"
              L"00000000000000000000000000000000\tC:\\windows\\twain_32",
              FormatListingFields(directory));
}

TEST(FullPathOfRecord, ParentBackslashName) {
    EXPECT_EQ(L"C:\\windows\\twain_32.dll", FullPath(Record(L"C:\\windows", L"twain_32.dll")));
    EXPECT_EQ(L"C:\\x", FullPath(Record(L"C:", L"x")));
    EXPECT_EQ(L"\\x", FullPath(Record(L"", L"x")));
}

TEST(TrailingBackslash, OnlyOneIsRemoved) {
    EXPECT_EQ(L"C:\\windows", WithoutTrailingBackslash(L"C:\\windows\\"));
    EXPECT_EQ(L"C:\\windows", WithoutTrailingBackslash(L"C:\\windows"));
    EXPECT_EQ(L"C:\\windows\\", WithoutTrailingBackslash(L"C:\\windows\\\\"));
    EXPECT_EQ(L"C:", WithoutTrailingBackslash(L"C:\\"));
    EXPECT_EQ(L"", WithoutTrailingBackslash(L"\\"));
    EXPECT_EQ(L"", WithoutTrailingBackslash(L""));
}

TEST(PathOrder, BackslashSortsAfterDotAndBeforeLetters) {
    // Walk order as a directory listing would give it: contents right after their folder.
    std::list<DirEntryRecord> walked = {
        Record(L"C:\\windows", L"twain_32a"),
        Record(L"C:\\windows", L"twain_32", FILE_ATTRIBUTE_DIRECTORY),
        Record(L"C:\\windows\\twain_32", L"a.ds"),
        Record(L"C:\\windows", L"twain_32.dll"),
        Record(L"C:\\windows", L"twain.dll"),
        Record(L"C:\\windows", L"Twunk_16.exe"),
    };
    std::vector<std::wstring> expected = {
        L"C:\\windows\\Twunk_16.exe",  // capital T (0x54) before small t (0x74)
        L"C:\\windows\\twain.dll",
        L"C:\\windows\\twain_32",
        L"C:\\windows\\twain_32.dll",
        L"C:\\windows\\twain_32\\a.ds",
        L"C:\\windows\\twain_32a",
    };
    EXPECT_EQ(expected, SortedPaths(walked));
}

TEST(PathOrder, OrdinalOnUnsignedUnits) {
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
    };
    const Case inOrder[] = {
        {L"a", L"ab"},                   // a prefix comes first
        {L"", L"a"},
        {L"A", L"a"},
        {L"Z", L"a"},
        {L"z", L"\u00e9"},               // no locale: e-acute after every ASCII letter
        {L"\u7fff", L"\u8000"},          // units compare unsigned
        {L"a", L"\uff01"},
        {L"x.y", L"x\\y"},
        {L"x\\y", L"x_y"},
        {L"x9", L"x\\"},
    };
    for (const Case& c : inOrder) {
        EXPECT_TRUE(PathPrecedes(c.first, c.second));
        EXPECT_FALSE(PathPrecedes(c.second, c.first));
    }
    EXPECT_FALSE(PathPrecedes(L"same", L"same"));
}

TEST(PathOrder, EqualPathsKeepWalkOrder) {
    std::list<DirEntryRecord> records = {
        Record(L"d", L"b", 1), Record(L"d", L"a", 2), Record(L"d", L"b", 3), Record(L"d", L"a", 4),
        Record(L"d", L"b", 5),
    };
    SortByFullPath(records);
    std::vector<DWORD> order;
    for (const DirEntryRecord& record : records)
        order.push_back(record.findData.dwFileAttributes);
    EXPECT_EQ((std::vector<DWORD>{2, 4, 1, 3, 5}), order);
}

TEST(PathOrder, SameAsComparingFreshPathsOnEveryStep) {
    // Random trees with names close to each other, so that prefixes, separators and
    // case decide; the result must match a stable sort that builds both paths anew
    // for every comparison.
    std::mt19937 random(20261210);
    const wchar_t alphabet[] = L"aAbB._\\9\u00e9";
    auto randomName = [&](size_t maxLength) {
        std::wstring name;
        size_t length = 1 + random() % maxLength;
        for (size_t i = 0; i < length; ++i)
            name += alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)];
        return name;
    };
    for (int round = 0; round < 20; ++round) {
        std::list<DirEntryRecord> records;
        for (int i = 0; i < 500; ++i)
            records.push_back(Record(L"C:\\" + randomName(3), randomName(4), static_cast<DWORD>(i)));
        std::list<DirEntryRecord> reference = records;
        reference.sort([](const DirEntryRecord& left, const DirEntryRecord& right) {
            return PathPrecedes(FullPath(left), FullPath(right));
        });
        SortByFullPath(records);
        ASSERT_EQ(reference.size(), records.size());
        auto expected = reference.begin();
        for (const DirEntryRecord& record : records) {
            ASSERT_EQ(FullPath(*expected), FullPath(record));
            ASSERT_EQ(expected->findData.dwFileAttributes, record.findData.dwFileAttributes);
            ++expected;
        }
    }
}

TEST(PathOrder, EmptyAndSingleLists) {
    std::list<DirEntryRecord> none;
    SortByFullPath(none);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(std::vector<std::wstring>{L"d\\x"}, SortedPaths({Record(L"d", L"x")}));
}

TEST(FilesEntryName, PathBelowTheRootBehindFiles) {
    const std::wstring root = L"C:\\users\\me\\AppData\\Local\\Morquaine\\QEV-SCAN";
    struct Case {
        std::wstring fullPath;
        const wchar_t* name;
    };
    const Case cases[] = {
        {root + L"\\a.dat", L"files\\a.dat"},
        {root + L"\\logs\\b.log", L"files\\logs\\b.log"},
        {root + L"\\x\\y\\z\\deep.txt", L"files\\x\\y\\z\\deep.txt"},
    };
    for (const Case& c : cases) {
        std::wstring name;
        ASSERT_TRUE(MakeFilesEntryName(c.fullPath, root.size(), &name));
        EXPECT_EQ(c.name, name);
    }
}

TEST(FilesEntryName, AtMost259Units) {
    const std::wstring root = L"C:\\r";
    // "files" + "\" + name: 6 units of frame.
    std::wstring longest = root + L"\\" + std::wstring(253, L'n');
    std::wstring name = L"unchanged";
    ASSERT_TRUE(MakeFilesEntryName(longest, root.size(), &name));
    EXPECT_EQ(259u, name.size());

    std::wstring tooLong = longest + L"n";
    name = L"unchanged";
    EXPECT_FALSE(MakeFilesEntryName(tooLong, root.size(), &name));
    EXPECT_EQ(L"unchanged", name);

    EXPECT_FALSE(MakeFilesEntryName(L"C:\\", 10, &name));
}

}  // namespace
