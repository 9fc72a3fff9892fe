#include "archive_test_support.h"

#include "deflate.h"
#include "test_support.h"

namespace ziptest {

uint16_t Read16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t Read32(const std::string& bytes, size_t at) {
    return Read16(bytes, at) | static_cast<uint32_t>(Read16(bytes, at + 2)) << 16;
}

namespace {

bool ParseLocal(const std::string& bytes, uint32_t offset, LocalHeader& local, std::string& problem) {
    if (static_cast<uint64_t>(offset) + 30 > bytes.size() || Read32(bytes, offset) != 0x04034B50) {
        problem = "no local header at " + std::to_string(offset);
        return false;
    }
    local.offset = offset;
    local.versionNeeded = Read16(bytes, offset + 4);
    local.flags = Read16(bytes, offset + 6);
    local.method = Read16(bytes, offset + 8);
    local.time = Read16(bytes, offset + 10);
    local.date = Read16(bytes, offset + 12);
    local.crc = Read32(bytes, offset + 14);
    local.compressedSize = Read32(bytes, offset + 18);
    local.uncompressedSize = Read32(bytes, offset + 22);
    uint16_t nameLength = Read16(bytes, offset + 26);
    uint16_t extraLength = Read16(bytes, offset + 28);
    uint64_t dataStart = static_cast<uint64_t>(offset) + 30 + nameLength + extraLength;
    if (dataStart + local.compressedSize > bytes.size()) {
        problem = "local entry at " + std::to_string(offset) + " runs past the file";
        return false;
    }
    local.name = bytes.substr(offset + 30, nameLength);
    local.extra = bytes.substr(offset + 30 + nameLength, extraLength);
    local.data = bytes.substr(static_cast<size_t>(dataStart), local.compressedSize);
    return true;
}

}  // namespace

ParsedArchive ParseArchive(const std::string& bytes) {
    ParsedArchive archive;
    if (bytes.size() < 22 || Read32(bytes, bytes.size() - 22) != 0x06054B50) {
        archive.problem = "the file does not end in an end record";
        return archive;
    }
    size_t endAt = bytes.size() - 22;
    archive.end.entriesOnDisk = Read16(bytes, endAt + 8);
    archive.end.totalEntries = Read16(bytes, endAt + 10);
    archive.end.directorySize = Read32(bytes, endAt + 12);
    archive.end.directoryOffset = Read32(bytes, endAt + 16);
    archive.end.commentLength = Read16(bytes, endAt + 20);
    size_t at = archive.end.directoryOffset;
    for (uint32_t i = 0; i < archive.end.totalEntries; ++i) {
        if (at + 46 > endAt || Read32(bytes, at) != 0x02014B50) {
            archive.problem = "no central header at " + std::to_string(at);
            return archive;
        }
        CentralHeader central;
        central.versionMadeBy = Read16(bytes, at + 4);
        central.versionNeeded = Read16(bytes, at + 6);
        central.flags = Read16(bytes, at + 8);
        central.method = Read16(bytes, at + 10);
        central.time = Read16(bytes, at + 12);
        central.date = Read16(bytes, at + 14);
        central.crc = Read32(bytes, at + 16);
        central.compressedSize = Read32(bytes, at + 20);
        central.uncompressedSize = Read32(bytes, at + 24);
        uint16_t nameLength = Read16(bytes, at + 28);
        uint16_t extraLength = Read16(bytes, at + 30);
        central.commentLength = Read16(bytes, at + 32);
        central.diskNumberStart = Read16(bytes, at + 34);
        central.internalAttributes = Read16(bytes, at + 36);
        central.externalAttributes = Read32(bytes, at + 38);
        central.localHeaderOffset = Read32(bytes, at + 42);
        central.name = bytes.substr(at + 46, nameLength);
        central.extra = bytes.substr(at + 46 + nameLength, extraLength);
        at += 46 + nameLength + extraLength + central.commentLength;
        LocalHeader local;
        if (!ParseLocal(bytes, central.localHeaderOffset, local, archive.problem))
            return archive;
        archive.central.push_back(central);
        archive.local.push_back(local);
    }
    archive.ok = true;
    return archive;
}

std::wstring ArchivePath(const std::wstring& fileName) {
    return testsupport::ArtifactsDir(L"ziparchive") + L"\\" + fileName;
}

void WriteManifest(const std::wstring& archivePath, const std::vector<ExpectedEntry>& entries) {
    std::wstring contentDir = archivePath + L".expected";
    testsupport::RemoveTree(contentDir);
    CreateDirectoryW(contentDir.c_str(), nullptr);
    std::string manifest;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ExpectedEntry& entry = entries[i];
        std::string contentName = std::to_string(i) + ".bin";
        testsupport::WriteFileBytes(contentDir + L"\\" + testsupport::Widen(contentName), entry.bytes);
        char attributes[16] = "*";
        if (entry.checkAttributes)
            snprintf(attributes, sizeof(attributes), "%08X", entry.attributes);
        manifest += entry.name + "\t" + std::to_string(entry.method) + "\t" + attributes + "\t" +
                    contentName + "\n";
    }
    testsupport::WriteFileBytes(archivePath + L".manifest", manifest);
}

namespace {

uint64_t outputBudget = 0;
FailingOutput::Mode outputMode = FailingOutput::ShortWrite;
uint32_t writeCallCount = 0;
uint32_t refusedWriteCount = 0;

BOOL WINAPI WriteWithinBudget(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    ++writeCallCount;
    if (length <= outputBudget) {
        outputBudget -= length;
        return WriteFile(file, data, length, written, overlapped);
    }
    ++refusedWriteCount;
    DWORD room = static_cast<DWORD>(outputBudget);
    outputBudget = 0;
    if (outputMode == FailingOutput::FailedWrite || room == 0) {
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, data, room, written, overlapped);
}

uint32_t ReadThenFailACheck(DeflateContext* context, uint8_t* buffer, uint32_t size) {
    latch(*context, "check failed (test)");
    return deflateReadCallback(context, buffer, size);
}

void MakeCompressorFail(DeflateContext& context) {
    context.readCallback = &ReadThenFailACheck;
}

BOOL WINAPI WriteNothing(HANDLE, LPCVOID, DWORD length, LPDWORD written, LPOVERLAPPED) {
    *written = length;
    return TRUE;
}

}  // namespace

FailingOutput::FailingOutput(uint64_t budget, Mode mode) {
    outputBudget = budget;
    outputMode = mode;
    writeCallCount = 0;
    refusedWriteCount = 0;
    archiveWriteFile = &WriteWithinBudget;
}

FailingOutput::~FailingOutput() {
    archiveWriteFile = &WriteFile;
}

uint32_t FailingOutput::writeCalls() const {
    return writeCallCount;
}

uint32_t FailingOutput::refusedWrites() const {
    return refusedWriteCount;
}

FailingCompressor::FailingCompressor() {
    deflateContextHook = &MakeCompressorFail;
}

FailingCompressor::~FailingCompressor() {
    deflateContextHook = nullptr;
}

DiscardingOutput::DiscardingOutput() {
    archiveWriteFile = &WriteNothing;
}

DiscardingOutput::~DiscardingOutput() {
    archiveWriteFile = &WriteFile;
}

std::string NoiseBytes(size_t count, uint32_t seed) {
    std::string bytes(count, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string TextBytes(size_t count) {
    static const char* const words[] = {"scanner", "session", "twain", "source", "remote",
                                        "client", "registry", "value", "HKEY_LOCAL_MACHINE", "\r\n"};
    std::string text;
    uint32_t state = 7;
    while (text.size() < count) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 10];
        text += ' ';
    }
    text.resize(count);
    return text;
}

}  // namespace ziptest
