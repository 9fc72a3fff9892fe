// The ZIP container through its public operations: headers as bytes, the
// name and extension rules, rejected adds, and lost output. Every archive
// that should be readable gets a manifest, and the host-side verifier reads
// it back with readers that are not ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <optional>

#include "archive_test_support.h"
#include "crc32.h"
#include "deflate.h"
#include "heap_tracker.h"
#include "test_support.h"

using namespace ziptest;

namespace {

ArchiveResult AddMemory(ArchiveHandle* archive, const wchar_t* name, const std::string& bytes) {
    return AddArchiveEntry(archive, name, bytes.data(), static_cast<uint32_t>(bytes.size()),
                           SOURCE_MEMORY);
}

ArchiveResult AddFile(ArchiveHandle* archive, const wchar_t* name, const std::wstring& path) {
    return AddArchiveEntry(archive, name, path.c_str(), 0, SOURCE_FILE);
}

ParsedArchive ParseFile(const std::wstring& path) {
    return ParseArchive(testsupport::ReadFileBytes(path));
}

uint64_t OutputSize(ArchiveHandle* archive) {
    LARGE_INTEGER size = {};
    GetFileSizeEx(archive->writer->outputFile, &size);
    return static_cast<uint64_t>(size.QuadPart);
}

uint32_t OutputPosition(ArchiveHandle* archive) {
    return SetFilePointer(archive->writer->outputFile, 0, nullptr, FILE_CURRENT);
}

std::string EntryBytes(const ParsedArchive& archive, size_t index) {
    return archive.local[index].data;
}

// Every local header follows the previous entry's data, and the directory
// follows the last one.
void ExpectEntriesBackToBack(const ParsedArchive& archive) {
    uint32_t offset = 0;
    for (size_t i = 0; i < archive.central.size(); ++i) {
        const CentralHeader& central = archive.central[i];
        EXPECT_EQ(offset, central.localHeaderOffset) << "entry " << i;
        offset += 30 + static_cast<uint32_t>(central.name.size()) + 17 + central.compressedSize;
    }
    EXPECT_EQ(offset, archive.end.directoryOffset);
}

std::wstring NameOfLength(size_t length) {
    std::wstring name = L"long\\";
    while (name.size() < length)
        name += L'n';
    return name;
}

}  // namespace

TEST(ZipArchive, EmptyArchiveIsTheEndRecordAlone) {
    std::wstring path = ArchivePath(L"empty.zip");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, std::string(1000, 'x')));  // truncated by the create
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    EXPECT_EQ(HANDLE_KIND_WRITER, archive->kind);
    EXPECT_EQ(ARC_OK, lastArchiveResult);
    EXPECT_EQ(ARC_OK, CloseArchive(archive));
    EXPECT_EQ(ARC_OK, lastArchiveResult);
    std::string expected("PK\x05\x06", 4);
    expected += std::string(18, '\0');
    EXPECT_EQ(expected, testsupport::ReadFileBytes(path));
    WriteManifest(path, {});
}

TEST(ZipArchive, CreateFailsWhereNoFileCanBeMade) {
    lastArchiveResult = ARC_OK;
    EXPECT_EQ(nullptr, CreateArchive(L"Z:\\no-such-folder-for-zip-tests\\package.zrpk"));
    EXPECT_EQ(ARC_OPEN_FAILED, lastArchiveResult);
}

TEST(ZipArchive, HeadersOfStoredAndDeflatedEntries) {
    std::wstring path = ArchivePath(L"headers.zip");
    std::string osText = "Windows 7 Professional\r\nBuild 7601\r\n";
    std::string digits = "123456789";
    std::string packed = NoiseBytes(3000, 1);
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"info\\osversion.txt", osText));
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"check\\digits.gz", digits));
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"nested\\inner.ZIP", packed));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));

    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(3u, parsed.central.size());
    EXPECT_EQ(3u, parsed.end.entriesOnDisk);
    EXPECT_EQ(0u, parsed.end.commentLength);
    struct Expected {
        const char* name;
        uint16_t method, flags;
        const std::string& bytes;
    } expected[] = {
        {"info/osversion.txt", METHOD_DEFLATED, 2, osText},
        {"check/digits.gz", METHOD_STORED, 0, digits},
        {"nested/inner.ZIP", METHOD_STORED, 0, packed},
    };
    uint32_t directorySize = 0;
    for (size_t i = 0; i < 3; ++i) {
        const CentralHeader& central = parsed.central[i];
        const LocalHeader& local = parsed.local[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(expected[i].name, central.name);
        EXPECT_EQ(central.name, local.name);
        EXPECT_EQ(0x0B17, central.versionMadeBy);
        EXPECT_EQ(20, central.versionNeeded);
        EXPECT_EQ(20, local.versionNeeded);
        EXPECT_EQ(expected[i].method, central.method);
        EXPECT_EQ(expected[i].method, local.method);
        EXPECT_EQ(expected[i].flags, central.flags);
        EXPECT_EQ(expected[i].flags, local.flags);  // bit 3 is gone after the rewrite
        EXPECT_EQ(updateCrc32(0, expected[i].bytes.data(), static_cast<uint32_t>(expected[i].bytes.size())),
                  central.crc);
        EXPECT_EQ(central.crc, local.crc);
        EXPECT_EQ(expected[i].bytes.size(), central.uncompressedSize);
        EXPECT_EQ(central.uncompressedSize, local.uncompressedSize);
        EXPECT_EQ(central.compressedSize, local.compressedSize);
        if (expected[i].method == METHOD_STORED) {
            EXPECT_EQ(expected[i].bytes, EntryBytes(parsed, i));
        }
        EXPECT_EQ(central.time, local.time);
        EXPECT_EQ(central.date, local.date);
        EXPECT_EQ(0u, central.commentLength);
        EXPECT_EQ(0u, central.diskNumberStart);
        EXPECT_EQ(0u, central.internalAttributes);
        EXPECT_EQ(0x80000000u, central.externalAttributes);
        // Extended timestamps: three times locally, the modification time centrally.
        ASSERT_EQ(17u, local.extra.size());
        ASSERT_EQ(9u, central.extra.size());
        EXPECT_EQ(std::string("UT\x0D\x00\x07", 5), local.extra.substr(0, 5));
        EXPECT_EQ(std::string("UT\x05\x00\x07", 5), central.extra.substr(0, 5));
        EXPECT_EQ(local.extra.substr(5, 4), central.extra.substr(5, 4));
        directorySize += 46 + static_cast<uint32_t>(central.name.size()) + 9;
    }
    EXPECT_EQ(18u, parsed.central[0].name.size());
    EXPECT_EQ(0xCBF43926u, parsed.central[1].crc);
    EXPECT_EQ(directorySize, parsed.end.directorySize);
    ExpectEntriesBackToBack(parsed);
    WriteManifest(path, {{"info/osversion.txt", osText, METHOD_DEFLATED, true, 0x80000000},
                         {"check/digits.gz", digits, METHOD_STORED, true, 0x80000000},
                         {"nested/inner.ZIP", packed, METHOD_STORED, true, 0x80000000}});
}

TEST(ZipArchive, MemoryEntriesTakeTheCurrentTime) {
    std::wstring path = ArchivePath(L"clock.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    int32_t before = static_cast<int32_t>(std::time(nullptr));
    SYSTEMTIME local = {};
    GetLocalTime(&local);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"info\\zrpk.txt", "id\r\n"));
    int32_t after = static_cast<int32_t>(std::time(nullptr));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));
    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    const LocalHeader& header = parsed.local[0];
    int32_t modify = static_cast<int32_t>(Read32(header.extra, 5));
    EXPECT_GE(modify, before);  // exact here: the zone has no daylight-saving time
    EXPECT_LE(modify, after);
    EXPECT_EQ(Read32(header.extra, 5), Read32(header.extra, 9));
    EXPECT_EQ(Read32(header.extra, 5), Read32(header.extra, 13));
    EXPECT_EQ(local.wYear - 1980, header.date >> 9);
    EXPECT_EQ(local.wMonth, (header.date >> 5) & 15);
    EXPECT_EQ(local.wDay, header.date & 31);
    EXPECT_EQ(local.wHour, header.time >> 11);
    WriteManifest(path, {{"info/zrpk.txt", "id\r\n"}});
}

TEST(ZipArchive, ExtensionDecidesBetweenStoredAndDeflated) {
    struct Case {
        const char* name;
        CompressionMethod method;
    } cases[] = {
        {"a.zip", METHOD_STORED},      {"a.ZIP", METHOD_STORED},        {"a.Z", METHOD_STORED},
        {"a.z", METHOD_STORED},        {"a.tgz", METHOD_STORED},        {"a.Gz", METHOD_STORED},
        {"a.zoo", METHOD_STORED},      {"a.arc", METHOD_STORED},        {"a.lzh", METHOD_STORED},
        {"a.ARJ", METHOD_STORED},      {".zip", METHOD_STORED},         {"dir/x.y.gz", METHOD_STORED},
        {"a.zipx", METHOD_DEFLATED},   {"a.tar", METHOD_DEFLATED},      {"a.zip/readme", METHOD_DEFLATED},
        {"archive.zip.txt", METHOD_DEFLATED}, {"noextension", METHOD_DEFLATED}, {"a.zip.", METHOD_DEFLATED},
        {"a.g", METHOD_DEFLATED},      {"a.gzz", METHOD_DEFLATED},      {"reg/termsrv.re_", METHOD_DEFLATED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.method, methodForName(c.name)) << c.name;
}

TEST(ZipArchive, NameLimits) {
    std::wstring path = ArchivePath(L"names.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    ArchiveWriter& writer = *archive->writer;

    ASSERT_EQ(ARC_OK, AddMemory(archive, NameOfLength(259).c_str(), "longest"));
    uint32_t end = writer.bytesWritten;

    EXPECT_EQ(ARC_BAD_ARGUMENT, AddMemory(archive, NameOfLength(260).c_str(), "too long"));
    EXPECT_EQ(ARC_BAD_ARGUMENT, lastArchiveResult);
    EXPECT_EQ(ARC_BAD_ARGUMENT, AddMemory(archive, NameOfLength(517).c_str(), "converted, too long"));
    EXPECT_EQ(ARC_BAD_ARGUMENT, AddMemory(archive, L"", "no name"));
    EXPECT_EQ(ARC_BAD_ARGUMENT, lastArchiveResult);

    // A name the conversion cannot hold leaves the last result alone.
    std::wstring missing = testsupport::MakeTempDir(L"zip_names") + L"\\missing.txt";
    EXPECT_EQ(ARC_OPEN_FAILED, AddFile(archive, L"missing.txt", missing));
    EXPECT_EQ(ARC_BAD_ARGUMENT, AddMemory(archive, NameOfLength(518).c_str(), "not convertible"));
    EXPECT_EQ(ARC_BAD_ARGUMENT, AddArchiveEntry(archive, nullptr, "x", 1, SOURCE_MEMORY));
    EXPECT_EQ(ARC_OPEN_FAILED, lastArchiveResult);

    EXPECT_EQ(end, writer.bytesWritten);
    EXPECT_EQ(end, OutputSize(archive));
    // No other checks: leading slashes and parent parts are stored as given.
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"\\..\\up.txt", "up"));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));

    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(2u, parsed.central.size());
    std::string longest = testsupport::Narrow(NameOfLength(259));
    longest[4] = '/';
    EXPECT_EQ(longest, parsed.central[0].name);
    EXPECT_EQ("/../up.txt", parsed.central[1].name);
    ExpectEntriesBackToBack(parsed);
    WriteManifest(path, {{longest, "longest"}, {"/../up.txt", "up"}});
}

TEST(ZipArchive, NamesAreStoredInTheAnsiCodePage) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "the expected bytes are those of code page 1252, this prefix has " << GetACP();
    std::wstring path = ArchivePath(L"ansi-names.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"files\\caf\u00e9.txt", "menu"));
    // A character the code page lacks becomes its default character, not a failure.
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"files\\\u4e2d.txt", "middle"));
    // The fullwidth backslash maps to a plain one by best fit, and so parts the name.
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"files\\a\uff3cb.txt", "wide"));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));
    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(3u, parsed.central.size());
    EXPECT_EQ("files/caf\xE9.txt", parsed.central[0].name);
    EXPECT_EQ("files/?.txt", parsed.central[1].name);
    EXPECT_EQ("files/a/b.txt", parsed.central[2].name);
    WriteManifest(path, {{"files/caf\xE9.txt", "menu"}, {"files/?.txt", "middle"}, {"files/a/b.txt", "wide"}});
}

// Runs on its own, in a prefix of its own started under a Japanese locale
// (tests/ziparchive/CMakeLists.txt): code page 932, where 0x5C is also the
// second byte of many characters.
TEST(ZipArchiveCodePage932, SecondBytesOfCharactersAreNotSlashes) {
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8, in a prefix of its own";
    struct Case {
        const wchar_t* name;
        std::string stored;
        std::string bytes;
    } cases[] = {
        {L"files\\\u8868.txt", "files/\x95\x5C.txt", "table"},        // 表 is 95 5C
        {L"files\\\u30BD", "files/\x83\x5C", "so"},                     // ソ is 83 5C
        {L"files\\\u30BD\\in.txt", "files/\x83\x5C/in.txt", "inside"},
        {L"info\\osversion.txt", "info/osversion.txt", "plain"},
    };
    std::wstring path = ArchivePath(L"cp932-names.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    std::vector<ExpectedEntry> manifest;
    for (const Case& c : cases) {
        ASSERT_EQ(ARC_OK, AddMemory(archive, c.name, c.bytes));
        manifest.push_back({c.stored, c.bytes});
    }
    ASSERT_EQ(ARC_OK, CloseArchive(archive));
    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(4u, parsed.central.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cases[i].stored, parsed.central[i].name);
        EXPECT_EQ(cases[i].stored, parsed.local[i].name);
        EXPECT_NE('/', parsed.central[i].name.back()) << "a folder entry drops its data";
    }
    WriteManifest(path, manifest);
}

TEST(ZipArchive, RejectedAddsWriteNothingAndTheNextAddTakesTheirPlace) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_rejected");
    std::wstring path = ArchivePath(L"rejected.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    ArchiveWriter& writer = *archive->writer;
    ArchiveHandle wrongKind = {1, archive->writer};
    std::string first = TextBytes(700);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"first.txt", first));

    struct Case {
        const char* label;
        ArchiveHandle* handle;
        const void* source;
        uint32_t length;
        EntrySourceKind kind;
        ArchiveResult expected;
    } cases[] = {
        {"no handle", nullptr, "x", 1, SOURCE_MEMORY, ARC_BAD_ARGUMENT},
        {"wrong handle kind", &wrongKind, "x", 1, SOURCE_MEMORY, ARC_WRONG_HANDLE},
        {"memory without data", archive, nullptr, 5, SOURCE_MEMORY, ARC_BAD_ARGUMENT},
        {"memory of length 0", archive, "x", 0, SOURCE_MEMORY, ARC_BAD_ARGUMENT},
        {"file without a path", archive, nullptr, 0, SOURCE_FILE, ARC_BAD_ARGUMENT},
        {"kind 1", archive, "x", 1, static_cast<EntrySourceKind>(1), ARC_BAD_ARGUMENT},
        {"kind 5", archive, "x", 1, static_cast<EntrySourceKind>(5), ARC_BAD_ARGUMENT},
        {"open file without a handle", archive, INVALID_HANDLE_VALUE, 0, SOURCE_OPEN_FILE, ARC_BAD_ARGUMENT},
        {"open file of a null handle", archive, nullptr, 0, SOURCE_OPEN_FILE, ARC_BAD_ARGUMENT},
        {"file that does not exist", archive, L"Z:\\no\\such\\file.txt", 0, SOURCE_FILE, ARC_OPEN_FAILED},
        {"a folder", archive, dir.c_str(), 0, SOURCE_FILE, ARC_OPEN_FAILED},
    };
    uint32_t end = writer.bytesWritten;
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, AddArchiveEntry(c.handle, L"rejected.txt", c.source, c.length, c.kind))
            << c.label;
        EXPECT_EQ(c.expected, lastArchiveResult) << c.label;
        EXPECT_EQ(end, writer.bytesWritten) << c.label;
        EXPECT_EQ(end, OutputSize(archive)) << c.label;
        EXPECT_EQ(end, OutputPosition(archive)) << c.label;
    }
    EXPECT_EQ(ARC_BAD_ARGUMENT, CloseArchive(nullptr));
    EXPECT_EQ(ARC_WRONG_HANDLE, CloseArchive(&wrongKind));

    std::string second = TextBytes(300);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"same.txt", second));
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"same.txt", first));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));

    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(3u, parsed.central.size());
    EXPECT_EQ(end, parsed.central[1].localHeaderOffset);
    EXPECT_EQ("same.txt", parsed.central[1].name);
    EXPECT_EQ("same.txt", parsed.central[2].name);
    ExpectEntriesBackToBack(parsed);
    WriteManifest(path, {{"first.txt", first}, {"same.txt", second}, {"same.txt", first}});
    testsupport::RemoveTree(dir);
}

TEST(ZipArchive, FileSourcesAreCopiedWholeAndReleased) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_files");
    struct Source {
        const wchar_t* file;
        const wchar_t* entry;
        const char* stored;
        std::string bytes;
        uint16_t method;
    } sources[] = {
        {L"empty.txt", L"files\\empty.txt", "files/empty.txt", "", METHOD_DEFLATED},
        {L"empty.gz", L"files\\empty.gz", "files/empty.gz", "", METHOD_STORED},
        {L"blob.zip", L"files\\blob.zip", "files/blob.zip", NoiseBytes(100000, 2), METHOD_STORED},
        {L"big.txt", L"files\\big.txt", "files/big.txt", TextBytes(300000), METHOD_DEFLATED},
        {L"noise.bin", L"files\\noise.bin", "files/noise.bin", NoiseBytes(70000, 3), METHOD_DEFLATED},
    };
    std::wstring path = ArchivePath(L"files.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    std::vector<ExpectedEntry> manifest;
    for (const Source& s : sources) {
        std::wstring source = dir + L"\\" + s.file;
        ASSERT_TRUE(testsupport::WriteFileBytes(source, s.bytes));
        uint32_t attributes = externalAttributesOf(GetFileAttributesW(source.c_str()), false);
        ASSERT_EQ(ARC_OK, AddFile(archive, s.entry, source)) << s.stored;
        // The add closed the source again, so the caller can delete it at once.
        EXPECT_TRUE(DeleteFileW(source.c_str())) << s.stored;
        manifest.push_back({s.stored, s.bytes, s.method, true, attributes});
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string program = testsupport::ReadFileBytes(self);
    ASSERT_EQ(ARC_OK, AddFile(archive, L"bin\\tool.exe", self));
    manifest.push_back({"bin/tool.exe", program, METHOD_DEFLATED, false, 0});
    ASSERT_EQ(ARC_OK, CloseArchive(archive));

    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(6u, parsed.central.size());
    for (int i : {0, 1}) {
        EXPECT_EQ(0u, parsed.central[i].uncompressedSize);
        EXPECT_EQ(0u, parsed.central[i].crc);
    }
    EXPECT_EQ(0u, parsed.central[1].compressedSize);
    EXPECT_EQ(sources[2].bytes, EntryBytes(parsed, 2));  // stored across seven chunks
    EXPECT_EQ(0u, parsed.central[3].externalAttributes & 0x00400000);
    EXPECT_EQ(0x81C00000u, parsed.central[5].externalAttributes & 0xFFFF0000u);
    ExpectEntriesBackToBack(parsed);
    WriteManifest(path, manifest);
    testsupport::RemoveTree(dir);
}

// The caller's open handle: read from its start whatever its position, with
// the file's own attributes, and left open for the caller, so that the bytes
// added are those of the file the caller opened and checked.
TEST(ZipArchive, OpenFileSourcesAreReadFromTheStartAndLeftOpen) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_handles");
    std::wstring source = dir + L"\\checked.txt";
    std::string bytes = TextBytes(20000);
    ASSERT_TRUE(testsupport::WriteFileBytes(source, bytes));
    HANDLE file = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFilePointer(file, 5000, nullptr, FILE_BEGIN);
    uint32_t attributes = externalAttributesOf(GetFileAttributesW(source.c_str()), false);

    std::wstring path = ArchivePath(L"open-files.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    ASSERT_EQ(ARC_OK, AddArchiveEntry(archive, L"files\\first.txt", file, 0, SOURCE_OPEN_FILE));
    ASSERT_EQ(ARC_OK, AddArchiveEntry(archive, L"files\\again.txt", file, 0, SOURCE_OPEN_FILE));
    // Still the caller's: its sharing still keeps writers out.
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));

    ParsedArchive parsed = ParseFile(path);
    ASSERT_TRUE(parsed.ok) << parsed.problem;
    ASSERT_EQ(2u, parsed.central.size());
    for (int i : {0, 1}) {
        EXPECT_EQ(bytes.size(), parsed.central[i].uncompressedSize) << i;
        EXPECT_EQ(attributes, parsed.central[i].externalAttributes) << i;
    }
    WriteManifest(path, {{"files/first.txt", bytes, METHOD_DEFLATED, true, attributes},
                         {"files/again.txt", bytes, METHOD_DEFLATED, true, attributes}});
    testsupport::RemoveTree(dir);
}

// An archive on a handle the caller opened: the archive closes it, on success
// and when it gets none.
TEST(ZipArchive, ArchiveOnAnOpenFileTakesTheHandleOver) {
    lastArchiveResult = ARC_OK;
    EXPECT_EQ(nullptr, CreateArchiveOnFile(INVALID_HANDLE_VALUE));
    EXPECT_EQ(ARC_OPEN_FAILED, lastArchiveResult);

    std::wstring path = ArchivePath(L"on-open-file.zip");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ArchiveHandle* archive = CreateArchiveOnFile(file);
    ASSERT_NE(nullptr, archive);
    EXPECT_EQ(ARC_OK, lastArchiveResult);
    ASSERT_EQ(ARC_OK, AddMemory(archive, L"info\\a.txt", "on a handle\r\n"));
    ASSERT_EQ(ARC_OK, CloseArchive(archive));
    // The close let go of the handle (opened without sharing), so the file can be opened again.
    HANDLE again = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, again);
    CloseHandle(again);
    WriteManifest(path, {{"info/a.txt", "on a handle\r\n", METHOD_DEFLATED, false, 0}});
}

TEST(ZipArchive, AnEntryLeavesNothingButItsRecordBehind) {
    std::wstring path = ArchivePath(L"many.zip");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    std::string text = TextBytes(100000);
    const int entries = 50;
    std::vector<std::wstring> names;
    for (int i = 0; i < entries; ++i)
        names.push_back(L"many\\" + std::to_wstring(i) + (i % 2 ? L".txt" : L".zip"));

    HeapUse before = CurrentHeapUse();
    for (const std::wstring& name : names)
        ASSERT_EQ(ARC_OK, AddMemory(archive, name.c_str(), text));
    HeapUse after = CurrentHeapUse();
    // Per add: the record and its central extra field; once, for the first
    // deflated add, the compressor's context, which the close frees.
    EXPECT_EQ(entries * (sizeof(ArchiveEntry) + CENTRAL_EXTRA_SIZE) + sizeof(DeflateContext),
              after.liveBytes - before.liveBytes);
    EXPECT_EQ(entries * 2 + 1, after.allocations - before.allocations);
    ASSERT_EQ(ARC_OK, CloseArchive(archive));
    EXPECT_EQ(before.liveBytes - sizeof(ArchiveHandle) - sizeof(ArchiveWriter), CurrentHeapUse().liveBytes);
    DeleteFileW(path.c_str());
}

// --- Lost output -----------------------------------------------------------

TEST(ZipArchiveLostOutput, ArchiveOnAFullDeviceIsNeverReportedAsWritten) {
    ArchiveHandle* archive = CreateArchive(L"Z:\\dev\\full");
    ASSERT_NE(nullptr, archive);
    EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, L"info\\zrpk.txt", "package id\r\n"));
    EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, L"pack\\stored.zip", "stored"));
    EXPECT_EQ(0u, archive->writer->bytesWritten);
    EXPECT_EQ(ARC_WRITE_FAILED, CloseArchive(archive));
    EXPECT_EQ(ARC_WRITE_FAILED, lastArchiveResult);

    // Even an archive without entries: its end record did not reach the disk.
    archive = CreateArchive(L"Z:\\dev\\full");
    ASSERT_NE(nullptr, archive);
    EXPECT_EQ(ARC_WRITE_FAILED, CloseArchive(archive));
}

TEST(ZipArchiveLostOutput, FailedAddLeavesTheNextEntryWhereItBelongs) {
    // Entry B's name is 12 bytes: its first header spans 59 bytes (30 fixed,
    // 12 name, 17 extra), then its data.
    std::string stored = NoiseBytes(40000, 4);
    std::string text = TextBytes(400000);                // deflates to more than 20000 bytes
    std::string incompressible = NoiseBytes(200000, 5);  // goes out as stored blocks
    struct Case {
        const char* label;
        const wchar_t* name;
        const std::string& bytes;
        uint64_t budget;  // bytes of entry B that reach the file
        FailingOutput::Mode mode;
        bool compressorFails = false;
    } cases[] = {
        {"fixed part of the header", L"middle\\b.zip", stored, 10, FailingOutput::ShortWrite},
        {"name", L"middle\\b.zip", stored, 35, FailingOutput::ShortWrite},
        {"extra field", L"middle\\b.zip", stored, 50, FailingOutput::FailedWrite},
        {"stored data", L"middle\\b.zip", stored, 59 + 20000, FailingOutput::ShortWrite},
        {"stored data, write refused", L"middle\\b.zip", stored, 59 + 16384, FailingOutput::FailedWrite},
        {"deflated data", L"middle\\b.txt", text, 59 + 20000, FailingOutput::ShortWrite},
        {"deflated data, write refused", L"middle\\b.txt", text, 59 + 20000, FailingOutput::FailedWrite},
        {"deflate's stored blocks", L"middle\\b.bin", incompressible, 59 + 70000, FailingOutput::ShortWrite},
        {"rewritten header", L"middle\\b.zip", stored, 59 + 40000, FailingOutput::ShortWrite},
        // Every byte reaches the disk, but the stream cannot be trusted.
        {"compressor's own check", L"middle\\b.txt", text, ~0ull, FailingOutput::ShortWrite, true},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::wstring path = ArchivePath(L"lost-" + std::to_wstring(index++) + L".zip");
        std::string a = TextBytes(5000), cBytes = TextBytes(7000);
        ArchiveHandle* archive = CreateArchive(path.c_str());
        ASSERT_NE(nullptr, archive);
        ArchiveWriter& writer = *archive->writer;
        ASSERT_EQ(ARC_OK, AddMemory(archive, L"before\\a.txt", a));
        uint32_t end = writer.bytesWritten;
        {
            FailingOutput diskFull(c.budget, c.mode);
            std::optional<FailingCompressor> brokenCompressor;
            if (c.compressorFails)
                brokenCompressor.emplace();
            EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, c.name, c.bytes));
            EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, L"while\\full.txt", "still full"));
        }
        EXPECT_EQ(end, writer.bytesWritten);
        EXPECT_EQ(end, OutputPosition(archive));
        // Room again: the next entry overwrites what the failed one left.
        ASSERT_EQ(ARC_OK, AddMemory(archive, L"after\\c.txt", cBytes));
        EXPECT_EQ(ARC_WRITE_FAILED, CloseArchive(archive));
        EXPECT_EQ(ARC_WRITE_FAILED, lastArchiveResult);

        ParsedArchive parsed = ParseFile(path);
        ASSERT_TRUE(parsed.ok) << parsed.problem;
        ASSERT_EQ(2u, parsed.central.size());
        EXPECT_EQ("after/c.txt", parsed.central[1].name);
        EXPECT_EQ(end, parsed.central[1].localHeaderOffset);
        ExpectEntriesBackToBack(parsed);
        EXPECT_EQ(parsed.end.directoryOffset + parsed.end.directorySize + 22,
                  testsupport::ReadFileBytes(path).size());
        WriteManifest(path, {{"before/a.txt", a}, {"after/c.txt", cBytes}});
    }
}

TEST(ZipArchiveLostOutput, LostCompressedOutputIsOfferedToTheDiskOnce) {
    // The entry fails at the first lost buffer; offering the rest of its
    // stream to a full disk would cost a refused write per output word.
    std::string text = TextBytes(1000000);
    std::string incompressible = NoiseBytes(300000, 9);
    struct Case {
        const char* label;
        const wchar_t* name;
        const std::string& bytes;
        FailingOutput::Mode mode;
    } cases[] = {
        {"deflated data, short write", L"big.txt", text, FailingOutput::ShortWrite},
        {"deflated data, write refused", L"big.txt", text, FailingOutput::FailedWrite},
        {"deflate's stored blocks, write refused", L"big.bin", incompressible, FailingOutput::FailedWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::wstring path = ArchivePath(L"lost-once.zip");
        ArchiveHandle* archive = CreateArchive(path.c_str());
        ASSERT_NE(nullptr, archive);
        {
            FailingOutput diskFull(30 + 7 + 17 + 20000, c.mode);
            EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, c.name, c.bytes));
            EXPECT_EQ(1u, diskFull.refusedWrites());
            EXPECT_LT(diskFull.writeCalls(), 20u);
        }
        EXPECT_EQ(0u, archive->writer->bytesWritten);
        EXPECT_EQ(ARC_WRITE_FAILED, CloseArchive(archive));
        DeleteFileW(path.c_str());
    }
}

TEST(ZipArchiveLostOutput, ShortCentralDirectoryOrEndRecordFailsTheClose) {
    for (bool inEndRecord : {false, true}) {
        SCOPED_TRACE(inEndRecord ? "end record" : "central header");
        std::wstring path = ArchivePath(inEndRecord ? L"short-end.zip" : L"short-central.zip");
        ArchiveHandle* archive = CreateArchive(path.c_str());
        ASSERT_NE(nullptr, archive);
        ASSERT_EQ(ARC_OK, AddMemory(archive, L"one.txt", TextBytes(100)));
        ASSERT_EQ(ARC_OK, AddMemory(archive, L"two.txt", TextBytes(200)));
        uint32_t directoryStart = archive->writer->bytesWritten;
        uint64_t budget = inEndRecord ? 2 * (46 + 7 + 9) + 5 : 20;
        {
            FailingOutput diskFull(budget, FailingOutput::ShortWrite);
            EXPECT_EQ(ARC_WRITE_FAILED, CloseArchive(archive));
        }
        std::string bytes = testsupport::ReadFileBytes(path);
        EXPECT_EQ(directoryStart + budget, bytes.size());
        EXPECT_FALSE(ParseArchive(bytes).ok);
    }
}

TEST(ZipArchiveLostOutput, OutputThatCannotBeRepositionedRefusesLaterAdds) {
    std::wstring path = ArchivePath(L"unseekable.bin");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    archive->writer->canSeek = false;
    EXPECT_EQ(ARC_NOT_SEEKABLE, AddMemory(archive, L"a.txt", "a"));
    EXPECT_EQ(ARC_EARLIER_ERROR, AddMemory(archive, L"b.txt", "b"));
    EXPECT_EQ(ARC_NOT_SEEKABLE, CloseArchive(archive));
}

TEST(ZipArchiveLostOutput, SourceOfFourGiBOrMoreIsRefused) {
    // The 32-bit sizes would wrap and label the entry with the wrong length.
    // Stored, the copy also ends beyond 4 GiB; deflated, the data is small
    // and only the size of the source can refuse the entry.
    std::wstring source = ArchivePath(L"four-gib-source.bin");
    HANDLE file = CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 10;  // a sparse file: nothing is written
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    std::wstring path = ArchivePath(L"four-gib.bin");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    {
        DiscardingOutput nothingReachesTheDisk;
        for (const wchar_t* name : {L"big.zip", L"big.txt"}) {
            EXPECT_EQ(ARC_WRITE_FAILED, AddArchiveEntry(archive, name, source.c_str(), 0, SOURCE_FILE))
                << testsupport::Narrow(name);
            EXPECT_EQ(0u, archive->writer->bytesWritten);
        }
        EXPECT_EQ(ARC_OK, AddMemory(archive, L"small.zip", NoiseBytes(100, 8)));
        archive->writer->bytesWritten = 0;
        seekOutput(*archive->writer, 0);
        CloseArchive(archive);
    }
    DeleteFileW(path.c_str());
    DeleteFileW(source.c_str());
}

TEST(ZipArchiveLostOutput, EntryBeyondFourGiBIsRefused) {
    std::wstring path = ArchivePath(L"huge-offset.bin");
    ArchiveHandle* archive = CreateArchive(path.c_str());
    ASSERT_NE(nullptr, archive);
    {
        DiscardingOutput nothingReachesTheDisk;
        archive->writer->bytesWritten = 0xFFFFFF00u;
        EXPECT_EQ(ARC_WRITE_FAILED, AddMemory(archive, L"over.zip", NoiseBytes(1000, 6)));
        EXPECT_EQ(0xFFFFFF00u, archive->writer->bytesWritten);
        EXPECT_EQ(ARC_OK, AddMemory(archive, L"fits.zip", NoiseBytes(100, 7)));
        // Back to the start, so that the close leaves an empty file, not a sparse giant.
        archive->writer->bytesWritten = 0;
        seekOutput(*archive->writer, 0);
        CloseArchive(archive);
    }
    DeleteFileW(path.c_str());
}
