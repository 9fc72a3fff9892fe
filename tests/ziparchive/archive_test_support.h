// Helpers of the archive writer's tests: a small reader of the archive's
// headers, the manifests that the host-side verifier checks archives
// against, and a stand-in for WriteFile that runs out of room.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace ziptest {

struct LocalHeader {
    uint32_t offset = 0;
    uint16_t versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    std::string name;
    std::string extra;
    std::string data;
};

struct CentralHeader {
    uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint16_t commentLength = 0, diskNumberStart = 0, internalAttributes = 0;
    uint32_t externalAttributes = 0, localHeaderOffset = 0;
    std::string name;
    std::string extra;
};

struct EndRecord {
    uint16_t entriesOnDisk = 0, totalEntries = 0, commentLength = 0;
    uint32_t directorySize = 0, directoryOffset = 0;
};

// What a reader finds through the end record; ok is false when the file does
// not end in an end record or a header lies outside the file.
struct ParsedArchive {
    bool ok = false;
    std::string problem;
    EndRecord end;
    std::vector<CentralHeader> central;
    std::vector<LocalHeader> local;  // one per central header, in the same order
};

ParsedArchive ParseArchive(const std::string& bytes);
uint32_t Read32(const std::string& bytes, size_t at);
uint16_t Read16(const std::string& bytes, size_t at);

// The file the tests put their archives in (TEST_ARTIFACTS\ziparchive).
std::wstring ArchivePath(const std::wstring& fileName);

// What the host-side verifier expects in an archive, entry by entry.
struct ExpectedEntry {
    std::string name;   // as stored, with slashes
    std::string bytes;  // the entry's data before compression
    uint16_t method = METHOD_DEFLATED;
    bool checkAttributes = false;
    uint32_t attributes = 0;
};

// Writes <archive>.manifest and the expected contents beside the archive.
void WriteManifest(const std::wstring& archivePath, const std::vector<ExpectedEntry>& entries);

// A WriteFile stand-in that lets `budget` bytes through and then runs out of
// room: the write that crosses the budget comes out short (or fails outright),
// and so does every write after it, until the hook is removed.
struct FailingOutput {
    enum Mode { ShortWrite, FailedWrite };
    // Installs the stand-in for the life of this object.
    FailingOutput(uint64_t budget, Mode mode);
    ~FailingOutput();
    // WriteFile calls so far, and those of them that came out short or failed.
    uint32_t writeCalls() const;
    uint32_t refusedWrites() const;
    FailingOutput(const FailingOutput&) = delete;
    FailingOutput& operator=(const FailingOutput&) = delete;
};

// A WriteFile stand-in that reports every byte as written and writes none.
struct DiscardingOutput {
    DiscardingOutput();
    ~DiscardingOutput();
    DiscardingOutput(const DiscardingOutput&) = delete;
    DiscardingOutput& operator=(const DiscardingOutput&) = delete;
};

// Makes the compressor latch an error, as its own consistency checks do, in
// every deflated entry added while this object lives; all of the entry's
// compressed bytes still reach the file.
struct FailingCompressor {
    FailingCompressor();
    ~FailingCompressor();
    FailingCompressor(const FailingCompressor&) = delete;
    FailingCompressor& operator=(const FailingCompressor&) = delete;
};

// Bytes that deflate poorly (a fixed pseudo-random sequence) and text that
// deflates well.
std::string NoiseBytes(size_t count, uint32_t seed);
std::string TextBytes(size_t count);

}  // namespace ziptest
