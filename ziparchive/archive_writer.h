// Inside of the archive writer: the writer's state, the entry records and the
// operations that the container code, the entry input/output layer and the
// compressor glue share. Callers outside ziparchive/ use ziparchive.h only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ziparchive.h"

struct DeflateContext;

typedef uint16_t CompressionMethod;
const CompressionMethod METHOD_STORED = 0;
const CompressionMethod METHOD_DEFLATED = 8;

const uint16_t FLAG_DEFLATE_MAXIMUM = 0x0002;
const uint16_t FLAG_DATA_DESCRIPTOR = 0x0008;

const uint16_t VERSION_MADE_BY = 0x0B17;
const uint16_t VERSION_NEEDED = 20;

// What the header writers return when a piece of a header came out short.
const uint32_t HEADER_WRITE_SHORT = 10;

const uint32_t IO_BUFFER_SIZE = 16384;
const uint32_t STORED_NAME_FIELD = 260;  // so a stored name has at most 259 bytes
const uint32_t NAME_CONVERSION_LIMIT = 518;
const uint32_t NAME_CONVERSION_BUFFER = 520;
// Every character takes at least one byte in the code page, so a UTF-16 name
// longer than this cannot be converted within NAME_CONVERSION_LIMIT.
const uint32_t WIDE_NAME_BUFFER = 2 * NAME_CONVERSION_LIMIT;

const uint32_t LOCAL_HEADER_SIZE = 30;
const uint32_t CENTRAL_HEADER_SIZE = 46;
const uint32_t END_RECORD_SIZE = 22;
const uint32_t LOCAL_EXTRA_SIZE = 17;
const uint32_t CENTRAL_EXTRA_SIZE = 9;

const uint32_t MEMORY_ENTRY_ATTRIBUTES = 0x80000000;

const int STORED_EXTENSION_COUNT = 8;
extern const char* const STORED_EXTENSIONS[STORED_EXTENSION_COUNT];

struct ArchiveEntry {
    uint16_t versionMadeBy;
    uint16_t versionNeeded;
    uint16_t flags;
    CompressionMethod method;
    uint32_t dosTime;  // time in the low 16 bits, date in the high 16 bits
    uint32_t crc;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
    uint32_t nameLength;
    uint32_t localExtraLength;
    uint32_t centralExtraLength;
    uint16_t diskNumberStart;
    uint16_t internalAttributes;
    uint16_t localFlags;
    uint32_t externalAttributes;
    uint32_t localHeaderOffset;
    const uint8_t* localExtra;  // lives in addEntry's frame only
    uint8_t* centralExtra;      // heap copy, owned by the stored record
    char storedName[STORED_NAME_FIELD];
    ArchiveEntry* next;
};

// Records of the successful adds, in add order.
struct EntryList {
    ArchiveEntry* first;
    ArchiveEntry* last;
};

struct ArchiveWriter {
    HANDLE outputFile;
    uint32_t initialOffset;
    ArchiveResult outputError;  // latched; nothing clears it
    // Writes that failed or came out short since the archive was created.
    // Any of them means the file lost bytes, so the close cannot succeed.
    uint32_t failedWrites;
    // Entries whose compressor reported an error: the package lacks their
    // data, so the close cannot succeed either.
    uint32_t failedCompressions;
    uint32_t bytesWritten;
    bool canSeek;
    EntryList entries;
    // The entry being added.
    uint32_t entryAttributes;
    int32_t accessTime;
    int32_t modifyTime;
    int32_t createTime;
    uint32_t entryDosTime;  // date in the high 16 bits, time in the low 16 bits
    int32_t declaredSize;   // -1 when not known before reading
    uint32_t bytesRead;
    uint32_t runningCrc;
    HANDLE inputFile;
    bool ownsInput;
    const uint8_t* memorySource;
    uint32_t memoryLength;
    uint32_t memoryPosition;
    uint32_t compressedSize;
    // Whole counts of the current entry's input and data output: the 32-bit
    // fields above wrap at 4 GiB, and such an entry cannot be recorded.
    uint64_t inputBytesRead;
    uint64_t dataBytesWritten;
    // Some of the current entry's compressed data was lost; the rest of it is
    // not offered to the disk, since the add fails anyway.
    bool dataOutputLost;
    uint8_t ioBuffer[IO_BUFFER_SIZE];
    // Made by the first deflated entry and kept until the close: a context
    // per entry would cost more than compressing most entries.
    DeflateContext* deflateContext;
};

// --- Container (zip_writer.cpp) ---------------------------------------------
ArchiveResult addEntry(ArchiveWriter& writer, const char* name, const void* source,
                       uint32_t length, EntrySourceKind kind);
ArchiveResult writeCentralDirectory(ArchiveWriter& writer);
uint32_t writeLocalHeader(ArchiveWriter& writer, const ArchiveEntry& entry);
uint32_t writeCentralHeader(ArchiveWriter& writer, const ArchiveEntry& entry);
uint32_t writeEndRecord(ArchiveWriter& writer, uint32_t count, uint32_t size, uint32_t offset);
ArchiveResult deflateEntry(ArchiveWriter& writer, ArchiveEntry& entry);

// Pure formatting, so the layouts can be checked against tables.
CompressionMethod methodForName(const char* storedName);
void formatLocalHeader(const ArchiveEntry& entry, uint8_t (&out)[LOCAL_HEADER_SIZE]);
void formatCentralHeader(const ArchiveEntry& entry, uint8_t (&out)[CENTRAL_HEADER_SIZE]);
void formatEndRecord(uint32_t count, uint32_t size, uint32_t offset, uint8_t (&out)[END_RECORD_SIZE]);
void formatLocalExtra(int32_t modifyTime, int32_t accessTime, int32_t createTime,
                      uint8_t (&out)[LOCAL_EXTRA_SIZE]);
void formatCentralExtra(int32_t modifyTime, uint8_t (&out)[CENTRAL_EXTRA_SIZE]);

// --- Entry input, output and metadata (entry_io.cpp) ------------------------
int32_t fileTimeToUnixTime(const FILETIME& wallTime);
ArchiveResult queryDiskFile(HANDLE file, uint32_t* attributes, uint32_t* size, int32_t* times,
                            uint32_t* dosStamp);
void stampCurrentTime(ArchiveWriter& writer);
ArchiveResult attachInput(ArchiveWriter& writer, HANDLE file, uint32_t length);
void clearInput(ArchiveWriter& writer);
uint32_t readInput(ArchiveWriter& writer, uint8_t* buffer, uint32_t size);
ArchiveResult closeInput(ArchiveWriter& writer);
uint32_t writeOutput(ArchiveWriter& writer, const void* data, uint32_t length);
bool seekOutput(ArchiveWriter& writer, uint32_t position);
uint32_t deflateReadCallback(DeflateContext* context, uint8_t* buffer, uint32_t size);
void deflateFlushCallback(void* owner, uint8_t* buffer, uint32_t* fill);

// Pure parts of the metadata.
uint32_t externalAttributesOf(uint32_t fileAttributes, bool executable);
// Whether the first two bytes, the new-header offset stored at 60 and the four
// bytes found at that offset mark a program, for a file of the given size.
bool looksExecutable(const uint8_t (&start)[2], uint32_t headerOffset, const uint8_t (&header)[4],
                     uint32_t size);
// DOS stamp (date << 16 | time) of a wall time; clamped to the stamp's range.
uint32_t dosStampOf(const FILETIME& wallTime);

// Where archive bytes go: WriteFile, unless a test puts a failing stand-in here.
typedef BOOL(WINAPI* WriteFileFunction)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern WriteFileFunction archiveWriteFile;

// Test seam: called with each entry's compressor context just before it runs,
// so that a test can make the compressor fail. Null in the programs.
typedef void (*DeflateContextHook)(DeflateContext& context);
extern DeflateContextHook deflateContextHook;
