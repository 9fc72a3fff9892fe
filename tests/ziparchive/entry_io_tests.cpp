// The writer's input, output and metadata: times, attributes, the program
// test, reading a source with its count and CRC, and the output guards. The
// program runs with TZ=CET-1 (one hour east of UTC, no daylight-saving time);
// the summer-time case switches the runtime library to a zone that has one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "archive_test_support.h"
#include "crc32.h"
#include "test_support.h"

using namespace ziptest;

namespace {

const int64_t HOUR = 3600;

FILETIME WallTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME fields = {};
    fields.wYear = year;
    fields.wMonth = month;
    fields.wDay = day;
    fields.wHour = hour;
    fields.wMinute = minute;
    fields.wSecond = second;
    FILETIME time = {};
    SystemTimeToFileTime(&fields, &time);
    return time;
}

std::unique_ptr<ArchiveWriter> NewWriter() {
    return std::unique_ptr<ArchiveWriter>(new ArchiveWriter());
}

HANDLE OpenForQuery(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

struct DiskFacts {
    ArchiveResult result = ARC_OK;
    uint32_t attributes = 0;
    uint32_t size = 0;
    int32_t times[3] = {};  // access, modify, create
    uint32_t dosStamp = 0;
};

DiskFacts QueryPath(const std::wstring& path) {
    DiskFacts facts;
    HANDLE file = OpenForQuery(path);
    if (file == INVALID_HANDLE_VALUE) {
        facts.result = 0xFFFFFFFF;
        return facts;
    }
    facts.result = queryDiskFile(file, &facts.attributes, &facts.size, facts.times, &facts.dosStamp);
    CloseHandle(file);
    return facts;
}

// Whether queryDiskFile read the file's bytes: each read positions the file
// from its beginning and leaves it moved, so a position still at the marker
// means nothing was read.
bool QueryMovesThePosition(const std::wstring& path) {
    HANDLE file = OpenForQuery(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const LONG marker = 1;
    SetFilePointer(file, marker, nullptr, FILE_BEGIN);
    uint32_t attributes = 0;
    queryDiskFile(file, &attributes, nullptr, nullptr, nullptr);
    LONG position = static_cast<LONG>(SetFilePointer(file, 0, nullptr, FILE_CURRENT));
    CloseHandle(file);
    return position != marker;
}

// A file that starts like a program: "MZ", the new-header offset at 60 and a
// four-byte signature there, padded to the given size.
std::string ProgramLike(uint32_t headerOffset, const char (&signature)[5], uint32_t size) {
    std::string bytes(size, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    // A file shorter than the header-offset field has none.
    for (uint32_t i = 0; i < 4 && 60 + i < size; ++i)
        bytes[60 + i] = static_cast<char>(headerOffset >> (8 * i));
    for (int i = 0; i < 4 && headerOffset + i < size; ++i)
        bytes[headerOffset + i] = signature[i];
    return bytes;
}

// Points the runtime library's local time at another zone for one scope.
class RuntimeTimeZone {
public:
    explicit RuntimeTimeZone(const std::string& setting) {
        const char* current = getenv("TZ");
        saved_ = current != nullptr ? current : "";
        Apply(setting);
    }
    ~RuntimeTimeZone() { Apply(saved_); }
    RuntimeTimeZone(const RuntimeTimeZone&) = delete;
    RuntimeTimeZone& operator=(const RuntimeTimeZone&) = delete;

private:
    static void Apply(const std::string& setting) {
        _putenv(("TZ=" + setting).c_str());
        _tzset();
    }
    std::string saved_;
};

// What the runtime library makes of a wall time when it decides itself
// whether summer time applies.
int32_t AsTheZoneDecides(const FILETIME& wall) {
    SYSTEMTIME fields;
    FileTimeToSystemTime(&wall, &fields);
    struct tm calendar = {};
    calendar.tm_year = fields.wYear - 1900;
    calendar.tm_mon = fields.wMonth - 1;
    calendar.tm_mday = fields.wDay;
    calendar.tm_hour = fields.wHour;
    calendar.tm_min = fields.wMinute;
    calendar.tm_sec = fields.wSecond;
    calendar.tm_isdst = -1;
    return static_cast<int32_t>(_mktime32(&calendar));
}

}  // namespace

TEST(UnixTime, WallTimeIsConvertedAsStandardTimeWithClampedDates) {
    struct Case {
        const char* label;
        FILETIME wall;
        int32_t expected;
    } cases[] = {
        {"the epoch in a zone one hour east", WallTime(1970, 1, 1, 1, 0, 0), 0},
        {"wall time before the epoch once the offset applies", WallTime(1970, 1, 1, 0, 30, 0), -1},
        {"before 1970: the date becomes 1970-01-01", WallTime(1969, 7, 20, 14, 30, 5),
         static_cast<int32_t>(13 * HOUR + 30 * 60 + 5)},
        {"from 2038 on: the date becomes 2037-12-31", WallTime(2050, 6, 1, 8, 0, 0), 2145855600},
        {"last second before the clamp", WallTime(2037, 12, 31, 23, 59, 59), 2145913199},
        {"clamped to midnight 1970 lies before the epoch here", WallTime(1601, 1, 1, 0, 0, 0), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, fileTimeToUnixTime(c.wall)) << c.label;

    FILETIME unconvertible = {0, 0x80000000};
    EXPECT_EQ(-1, fileTimeToUnixTime(unconvertible));
}

TEST(UnixTime, SummerTimeCountsAsStandardTime) {
    // Central European time with summer time: 12:00 on 1 July is 10:00 UTC in
    // the zone's own reckoning, but the archive counts it as 11:00 UTC.
    RuntimeTimeZone zone("CET-1CEST");
    FILETIME july = WallTime(2026, 7, 1, 12, 0, 0);
    ASSERT_EQ(1782900000, AsTheZoneDecides(july)) << "the zone keeps no summer time";
    EXPECT_EQ(1782903600, fileTimeToUnixTime(july));
}

TEST(DosStamp, HoldsTheWallTimeAndStaysInItsRange) {
    EXPECT_EQ(0x2A4328A3u, dosStampOf(WallTime(2001, 2, 3, 5, 5, 6)));
    EXPECT_EQ(0x00210000u, dosStampOf(WallTime(1979, 12, 31, 23, 59, 59)));
    EXPECT_EQ(0x00210000u, dosStampOf(WallTime(1980, 1, 1, 0, 0, 0)));
    EXPECT_EQ(0xFF9FBF7Du, dosStampOf(WallTime(2107, 12, 31, 23, 59, 58)));
    EXPECT_EQ(0xFF9FBF7Du, dosStampOf(WallTime(2150, 1, 1, 0, 0, 0)));
}

TEST(ExternalAttributes, CarryTheDosBitsAndAUnixMode) {
    struct Case {
        uint32_t fileAttributes;
        bool executable;
        uint32_t expected;
    } cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, false, 0x81800020},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, false, 0x81000021},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false, 0x81000023},
        {FILE_ATTRIBUTE_SYSTEM, true, 0x81C00004},
        {FILE_ATTRIBUTE_DIRECTORY, false, 0x41800010},
        {FILE_ATTRIBUTE_NORMAL, false, 0x81800000},
        // Bits outside 0x37 (normal, temporary, compressed, ...) are not carried.
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_COMPRESSED, false, 0x81800020},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, externalAttributesOf(c.fileAttributes, c.executable))
            << std::hex << c.fileAttributes;
}

TEST(ExecutableTest, RecognisesProgramHeadersOnly) {
    struct Case {
        const char* label;
        std::string bytes;
        bool executable;
    } cases[] = {
        {"PE header inside the file", ProgramLike(64, "PE\0\0", 117), true},
        {"NE header", ProgramLike(64, "NE\0\0", 117), true},
        {"LE header", ProgramLike(64, "LE\0\0", 117), true},
        {"MZ again at the offset", ProgramLike(64, "MZ\0\0", 117), true},
        {"offset + 52 reaches the size", ProgramLike(64, "PE\0\0", 116), false},
        {"unknown signature", ProgramLike(64, "PX\0\0", 117), false},
        {"signature not followed by two zeros", ProgramLike(64, "PE\0X", 117), false},
        {"offset far outside the file", ProgramLike(0xFFFFFFF0, "PE\0\0", 200), false},
        {"no MZ at the start", "XZ" + ProgramLike(64, "PE\0\0", 117).substr(2), false},
        {"header at 0: 0 + 52 lies past a file of 41 bytes", ProgramLike(0, "MZ\0\0", 41), false},
    };
    for (const Case& c : cases) {
        const std::string& b = c.bytes;
        uint8_t start[2] = {static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1])};
        uint32_t offset = b.size() >= 64 ? Read32(b, 60) : 0;
        uint8_t header[4] = {};
        for (int i = 0; i < 4 && offset < b.size() - i; ++i)
            header[i] = static_cast<uint8_t>(b[offset + i]);
        EXPECT_EQ(c.executable, looksExecutable(start, offset, header, static_cast<uint32_t>(b.size())))
            << c.label;
    }
}

TEST(QueryDiskFile, FindsTheExecuteBitOnProgramsOnly) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_exec");
    struct Case {
        const wchar_t* name;
        std::string bytes;
        bool executable;
        bool read;  // whether the test reads the file's bytes at all
    } cases[] = {
        {L"program.bin", ProgramLike(64, "PE\0\0", 117), true, true},
        // 40 bytes are never a program, nor even read; since the offset + 52
        // rule refuses them as well, only the untouched position shows it.
        {L"tiny.exe", ProgramLike(0, "MZ\0\0", 40), false, false},
        {L"smallest read.exe", ProgramLike(0, "MZ\0\0", 41), false, true},
        {L"short.bin", ProgramLike(64, "PE\0\0", 116), false, true},
        {L"text.exe", TextBytes(5000), false, true},
    };
    for (const Case& c : cases) {
        std::wstring path = dir + L"\\" + c.name;
        ASSERT_TRUE(testsupport::WriteFileBytes(path, c.bytes));
        DiskFacts facts = QueryPath(path);
        ASSERT_EQ(ARC_OK, facts.result);
        EXPECT_EQ(c.executable, (facts.attributes & 0x00400000) != 0) << testsupport::Narrow(c.name);
        EXPECT_EQ(c.bytes.size(), facts.size);
        EXPECT_EQ(c.read, QueryMovesThePosition(path)) << testsupport::Narrow(c.name);
    }
    // A real Windows program: this test itself.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DiskFacts program = QueryPath(self);
    ASSERT_EQ(ARC_OK, program.result);
    EXPECT_EQ(0x81C00000u, program.attributes & 0xFFFF0000u);

    DiskFacts folder = QueryPath(dir);
    ASSERT_EQ(ARC_OK, folder.result);
    EXPECT_EQ(0x41800010u, folder.attributes & ~static_cast<uint32_t>(FILE_ATTRIBUTE_ARCHIVE));
    testsupport::RemoveTree(dir);
}

TEST(QueryDiskFile, ReadOnlyAndHiddenFilesKeepTheirDosBits) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_attr");
    std::wstring path = dir + L"\\locked.txt";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, "locked"));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                     FILE_ATTRIBUTE_ARCHIVE));
    DiskFacts facts = QueryPath(path);
    ASSERT_EQ(ARC_OK, facts.result);
    EXPECT_EQ(0x81000023u, facts.attributes);  // no owner-write bit
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    testsupport::RemoveTree(dir);
}

TEST(QueryDiskFile, TimesAreTheFileTimesAsWallClock) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_time");
    struct Case {
        const char* label;
        SYSTEMTIME utc;
        int32_t unixTime;
        uint32_t dosStamp;
    } cases[] = {
        {"2001", {2001, 2, 0, 3, 4, 5, 6, 0}, 981173106, 0x2A4328A3},
        {"before 1980: earliest DOS stamp", {1975, 6, 0, 1, 12, 0, 0, 0}, 170856000, 0x00210000},
        {"before 1970: the date is clamped, the hour kept", {1965, 3, 0, 4, 10, 0, 0, 0},
         static_cast<int32_t>(10 * HOUR), 0x00210000},
    };
    for (const Case& c : cases) {
        std::wstring path = dir + L"\\dated.txt";
        ASSERT_TRUE(testsupport::WriteFileBytes(path, "dated"));
        FILETIME written = {};
        SystemTimeToFileTime(&c.utc, &written);
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
        CloseHandle(file);
        DiskFacts facts = QueryPath(path);
        ASSERT_EQ(ARC_OK, facts.result);
        // (Wine keeps no access time of its own here, so only the last write is checked.)
        EXPECT_EQ(c.unixTime, facts.times[1]) << c.label;
        EXPECT_EQ(c.dosStamp, facts.dosStamp) << c.label;
    }
    testsupport::RemoveTree(dir);
}

TEST(QueryDiskFile, RefusesHandlesThatAreNoDiskFile) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    uint32_t attributes = 0;
    EXPECT_EQ(ARC_NO_HANDLE, queryDiskFile(readEnd, &attributes, nullptr, nullptr, nullptr));
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
}

TEST(EntryInput, MemorySourceIsCountedAndChecksummedAcrossReads) {
    auto writer = NewWriter();
    const char digits[] = "123456789";
    clearInput(*writer);
    writer->memorySource = reinterpret_cast<const uint8_t*>(digits);
    writer->memoryLength = 9;
    writer->declaredSize = 9;
    uint8_t buffer[IO_BUFFER_SIZE];
    EXPECT_EQ(4u, readInput(*writer, buffer, 4));
    EXPECT_EQ(5u, readInput(*writer, buffer, IO_BUFFER_SIZE));
    EXPECT_EQ(0u, readInput(*writer, buffer, IO_BUFFER_SIZE));
    EXPECT_EQ(9u, writer->bytesRead);
    EXPECT_EQ(0xCBF43926u, writer->runningCrc);
    EXPECT_EQ(ARC_OK, closeInput(*writer));
    EXPECT_EQ(9, writer->declaredSize);
    EXPECT_EQ(ARC_OK, writer->outputError);
}

TEST(EntryInput, FileThatShrinksAfterTheSizeQueryEndsAtTheBytesRead) {
    std::wstring dir = testsupport::MakeTempDir(L"zip_shrink");
    std::wstring path = dir + L"\\shrinks.txt";
    std::string bytes = TextBytes(100);
    ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes));
    auto writer = NewWriter();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(ARC_OK, attachInput(*writer, file, 0));
    writer->ownsInput = true;
    EXPECT_EQ(100, writer->declaredSize);
    EXPECT_EQ(0x81800000u, writer->entryAttributes & 0xFFFF0000u);

    HANDLE cutter = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    SetFilePointer(cutter, 40, nullptr, FILE_BEGIN);
    SetEndOfFile(cutter);
    CloseHandle(cutter);

    uint8_t buffer[IO_BUFFER_SIZE];
    uint32_t total = 0;
    while (uint32_t count = readInput(*writer, buffer, IO_BUFFER_SIZE))
        total += count;
    EXPECT_EQ(40u, total);
    EXPECT_EQ(ARC_SIZE_MISMATCH, closeInput(*writer));
    EXPECT_EQ(40, writer->declaredSize);
    EXPECT_EQ(updateCrc32(0, bytes.data(), 40), writer->runningCrc);
    EXPECT_EQ(nullptr, writer->inputFile);
    testsupport::RemoveTree(dir);
}

TEST(EntryInput, HandlesThatAreNoDiskFileTakeTheClock) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    DWORD written = 0;
    WriteFile(writeEnd, "piped", 5, &written, nullptr);
    CloseHandle(writeEnd);
    auto writer = NewWriter();
    ASSERT_EQ(ARC_OK, attachInput(*writer, readEnd, 0));
    EXPECT_EQ(MEMORY_ENTRY_ATTRIBUTES, writer->entryAttributes);
    EXPECT_EQ(-1, writer->declaredSize);
    EXPECT_LE(std::abs(writer->modifyTime - static_cast<int32_t>(std::time(nullptr))), 5);
    uint8_t buffer[16];
    EXPECT_EQ(5u, readInput(*writer, buffer, sizeof(buffer)));
    EXPECT_EQ(ARC_OK, closeInput(*writer));  // size was not known, so no mismatch
    CloseHandle(readEnd);

    EXPECT_EQ(ARC_BAD_ARGUMENT, attachInput(*writer, nullptr, 0));
    EXPECT_EQ(ARC_BAD_ARGUMENT, attachInput(*writer, INVALID_HANDLE_VALUE, 0));
}

TEST(EntryOutput, MissingInputOrOutputLatchesAnError) {
    auto writer = NewWriter();
    uint8_t buffer[16];
    clearInput(*writer);
    EXPECT_EQ(0u, readInput(*writer, buffer, sizeof(buffer)));
    EXPECT_EQ(ARC_NO_HANDLE, writer->outputError);

    writer = NewWriter();
    EXPECT_EQ(0u, writeOutput(*writer, "x", 1));
    EXPECT_EQ(ARC_NO_HANDLE, writer->outputError);

    writer = NewWriter();
    writer->canSeek = false;
    EXPECT_FALSE(seekOutput(*writer, 0));
    EXPECT_EQ(ARC_NOT_SEEKABLE, writer->outputError);
}

TEST(EntryOutput, FlushCallbackHandsOverTheBufferAndKeepsItOnFailure) {
    std::wstring path = ArchivePath(L"flush-scratch.bin");
    auto writer = NewWriter();
    writer->outputFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer->outputFile);
    uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint32_t fill = 0;
    {
        FailingOutput nothingAllowed(0, FailingOutput::FailedWrite);
        deflateFlushCallback(writer.get(), buffer, &fill);  // nothing to write: no write at all
        EXPECT_EQ(0u, writer->failedWrites);
        fill = 8;
        deflateFlushCallback(writer.get(), buffer, &fill);
        EXPECT_EQ(8u, fill);
        EXPECT_EQ(1u, writer->failedWrites);
        // The entry is lost already: the rest of its stream is dropped unwritten.
        deflateFlushCallback(writer.get(), buffer, &fill);
        EXPECT_EQ(0u, fill);
        EXPECT_EQ(1u, nothingAllowed.writeCalls());
    }
    writer->dataOutputLost = false;  // as for the next entry
    fill = 8;
    deflateFlushCallback(writer.get(), buffer, &fill);
    EXPECT_EQ(0u, fill);
    {
        FailingOutput halfAllowed(3, FailingOutput::ShortWrite);
        fill = 8;
        deflateFlushCallback(writer.get(), buffer, &fill);
        EXPECT_EQ(0u, fill);  // taken, as the compressor expects, but counted as lost
        EXPECT_EQ(2u, writer->failedWrites);
        EXPECT_TRUE(writer->dataOutputLost);
    }
    CloseHandle(writer->outputFile);
    EXPECT_EQ(11u, testsupport::ReadFileBytes(path).size());
    DeleteFileW(path.c_str());
}
