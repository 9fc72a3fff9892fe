// The ZIP container: creating the archive, adding one entry at a time (local
// header, data, then the local header again with the final CRC and sizes) and
// closing it with the central directory and the end record.
#include <cstring>
#include <new>

#include "archive_writer.h"
#include "deflate.h"

static_assert(IO_BUFFER_SIZE == DEFLATE_OUTPUT_SIZE, "the compressor writes into the writer's ioBuffer");

ArchiveHandle* packageArchive = nullptr;
ArchiveResult lastArchiveResult = ARC_OK;
DeflateContextHook deflateContextHook = nullptr;

const char* const STORED_EXTENSIONS[STORED_EXTENSION_COUNT] = {
    ".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};

namespace {

const uint16_t EXTENDED_TIMESTAMP_ID = 0x5455;
const uint8_t TIMESTAMP_FLAGS = 7;  // modification, access and creation time

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (asciiLower(*a) != asciiLower(*b))
            return false;
    return *a == *b;
}

// Every write goes through this: a piece is good only when all of it went out.
bool writeWhole(ArchiveWriter& writer, const void* data, uint32_t length) {
    if (length == 0)
        return true;
    return writeOutput(writer, data, length) == length;
}

uint32_t localHeaderSpan(const ArchiveEntry& entry) {
    return LOCAL_HEADER_SIZE + entry.nameLength + entry.localExtraLength;
}

uint32_t centralHeaderSpan(const ArchiveEntry& entry) {
    return CENTRAL_HEADER_SIZE + entry.nameLength + entry.centralExtraLength;
}

void freeEntries(ArchiveWriter& writer) {
    ArchiveEntry* entry = writer.entries.first;
    while (entry != nullptr) {
        ArchiveEntry* next = entry->next;
        delete[] entry->centralExtra;
        delete entry;
        entry = next;
    }
    writer.entries.first = nullptr;
    writer.entries.last = nullptr;
}

// Backslashes become slashes while the name is still UTF-16, so that no byte
// inside a double-byte character (where 0x5C is a common second byte) is
// touched; false when the name is too long to be converted at all.
bool slashWideName(const wchar_t* name, wchar_t (&out)[WIDE_NAME_BUFFER]) {
    size_t i = 0;
    for (; name[i] != L'\0'; ++i) {
        if (i + 1 >= WIDE_NAME_BUFFER)
            return false;
        out[i] = name[i] == L'\\' ? L'/' : name[i];
    }
    out[i] = L'\0';
    return true;
}

// A backslash can still arrive as a single byte (a best-fit mapping such as
// the fullwidth backslash); it becomes a slash as well. The second byte of a
// double-byte character is left alone.
void slashAnsiName(char* name, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < length)
            ++i;
        else if (name[i] == '\\')
            name[i] = '/';
    }
}

// Takes the archive back to where the entry began, so that the next entry or
// the central directory overwrites whatever the failed add left in the file.
ArchiveResult abandonEntry(ArchiveWriter& writer, const ArchiveEntry& entry, ArchiveResult result) {
    writer.bytesWritten = entry.localHeaderOffset - writer.initialOffset;
    seekOutput(writer, writer.bytesWritten);
    return result;
}

ArchiveResult setUpFileSource(ArchiveWriter& writer, const wchar_t* path) {
    clearInput(writer);
    if (path == nullptr)
        return ARC_BAD_ARGUMENT;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ARC_OPEN_FAILED;
    ArchiveResult result = attachInput(writer, file, 0);
    if (result != ARC_OK) {
        CloseHandle(file);
        return result;
    }
    writer.ownsInput = true;
    return ARC_OK;
}

ArchiveResult setUpOpenFileSource(ArchiveWriter& writer, HANDLE file) {
    clearInput(writer);
    // The caller's handle: read, but neither closed nor reopened here.
    return attachInput(writer, file, 0);
}

ArchiveResult setUpMemorySource(ArchiveWriter& writer, const void* source, uint32_t length) {
    clearInput(writer);
    writer.memorySource = static_cast<const uint8_t*>(source);
    writer.memoryLength = length;
    writer.memoryPosition = 0;
    if (source == nullptr || length == 0) {
        writer.memorySource = nullptr;
        return ARC_BAD_ARGUMENT;
    }
    writer.entryAttributes = MEMORY_ENTRY_ATTRIBUTES;
    writer.declaredSize = static_cast<int32_t>(length);
    stampCurrentTime(writer);
    return ARC_OK;
}

ArchiveResult setUpSource(ArchiveWriter& writer, const void* source, uint32_t length,
                          EntrySourceKind kind) {
    switch (kind) {
    case SOURCE_FILE:
        return setUpFileSource(writer, static_cast<const wchar_t*>(source));
    case SOURCE_MEMORY:
        return setUpMemorySource(writer, source, length);
    case SOURCE_OPEN_FILE:
        return setUpOpenFileSource(writer, const_cast<HANDLE>(source));
    default:
        return ARC_BAD_ARGUMENT;
    }
}

void fillNewRecord(const ArchiveWriter& writer, ArchiveEntry& entry, CompressionMethod method) {
    entry.versionMadeBy = VERSION_MADE_BY;
    entry.versionNeeded = VERSION_NEEDED;
    entry.flags = FLAG_DATA_DESCRIPTOR;
    entry.localFlags = FLAG_DATA_DESCRIPTOR;
    entry.method = method;
    entry.dosTime = writer.entryDosTime;
    entry.crc = 0;
    bool sizeKnown = writer.declaredSize >= 0;
    entry.compressedSize =
        method == METHOD_STORED && sizeKnown ? static_cast<uint32_t>(writer.declaredSize) : 0;
    entry.uncompressedSize = static_cast<uint32_t>(writer.declaredSize);
    entry.nameLength = static_cast<uint32_t>(std::strlen(entry.storedName));
    entry.localExtraLength = LOCAL_EXTRA_SIZE;
    entry.centralExtraLength = CENTRAL_EXTRA_SIZE;
    entry.diskNumberStart = 0;
    entry.internalAttributes = 0;
    entry.externalAttributes = writer.entryAttributes;
    entry.localHeaderOffset = writer.initialOffset + writer.bytesWritten;
    entry.next = nullptr;
}

// Copies the input unchanged through ioBuffer; fails at the first short write.
ArchiveResult copyStored(ArchiveWriter& writer) {
    uint32_t total = 0;
    for (;;) {
        uint32_t count = readInput(writer, writer.ioBuffer, IO_BUFFER_SIZE);
        if (count == 0)
            break;
        if (writeOutput(writer, writer.ioBuffer, count) != count)
            return ARC_WRITE_FAILED;
        total += count;
    }
    writer.compressedSize = total;
    return ARC_OK;
}

bool recordEntry(ArchiveWriter& writer, const ArchiveEntry& entry,
                 const uint8_t (&centralExtra)[CENTRAL_EXTRA_SIZE]) {
    uint8_t* extraCopy = new (std::nothrow) uint8_t[CENTRAL_EXTRA_SIZE];
    ArchiveEntry* record = new (std::nothrow) ArchiveEntry(entry);
    if (extraCopy == nullptr || record == nullptr) {
        delete[] extraCopy;
        delete record;
        return false;
    }
    std::memcpy(extraCopy, centralExtra, CENTRAL_EXTRA_SIZE);
    record->centralExtra = extraCopy;
    record->localExtra = nullptr;
    record->next = nullptr;
    if (writer.entries.last == nullptr)
        writer.entries.first = record;
    else
        writer.entries.last->next = record;
    writer.entries.last = record;
    return true;
}

// Offsets and sizes are 32-bit: an entry that would end beyond them cannot be
// recorded truthfully.
bool endsWithinArchiveLimit(const ArchiveEntry& entry, uint64_t dataSize) {
    uint64_t end = static_cast<uint64_t>(entry.localHeaderOffset) + localHeaderSpan(entry) + dataSize;
    return end <= 0xFFFFFFFFull;
}

}  // namespace

CompressionMethod methodForName(const char* storedName) {
    const char* extension = std::strrchr(storedName, '.');
    if (extension == nullptr)
        return METHOD_DEFLATED;
    for (const char* stored : STORED_EXTENSIONS)
        if (equalsIgnoringAsciiCase(extension, stored))
            return METHOD_STORED;
    return METHOD_DEFLATED;
}

void formatLocalHeader(const ArchiveEntry& entry, uint8_t (&out)[LOCAL_HEADER_SIZE]) {
    put32(out, 0x04034B50);
    put16(out + 4, entry.versionNeeded);
    put16(out + 6, entry.localFlags);
    put16(out + 8, entry.method);
    put16(out + 10, entry.dosTime & 0xFFFF);
    put16(out + 12, entry.dosTime >> 16);
    put32(out + 14, entry.crc);
    put32(out + 18, entry.compressedSize);
    put32(out + 22, entry.uncompressedSize);
    put16(out + 26, entry.nameLength);
    put16(out + 28, entry.localExtraLength);
}

void formatCentralHeader(const ArchiveEntry& entry, uint8_t (&out)[CENTRAL_HEADER_SIZE]) {
    put32(out, 0x02014B50);
    put16(out + 4, entry.versionMadeBy);
    put16(out + 6, entry.versionNeeded);
    put16(out + 8, entry.flags);
    put16(out + 10, entry.method);
    put16(out + 12, entry.dosTime & 0xFFFF);
    put16(out + 14, entry.dosTime >> 16);
    put32(out + 16, entry.crc);
    put32(out + 20, entry.compressedSize);
    put32(out + 24, entry.uncompressedSize);
    put16(out + 28, entry.nameLength);
    put16(out + 30, entry.centralExtraLength);
    put16(out + 32, 0);  // no file comment
    put16(out + 34, entry.diskNumberStart);
    put16(out + 36, entry.internalAttributes);
    put32(out + 38, entry.externalAttributes);
    put32(out + 42, entry.localHeaderOffset);
}

void formatEndRecord(uint32_t count, uint32_t size, uint32_t offset, uint8_t (&out)[END_RECORD_SIZE]) {
    put32(out, 0x06054B50);
    put16(out + 4, 0);
    put16(out + 6, 0);
    put16(out + 8, count & 0xFFFF);
    put16(out + 10, count & 0xFFFF);
    put32(out + 12, size);
    put32(out + 16, offset);
    put16(out + 20, 0);  // no archive comment
}

void formatLocalExtra(int32_t modifyTime, int32_t accessTime, int32_t createTime,
                      uint8_t (&out)[LOCAL_EXTRA_SIZE]) {
    put16(out, EXTENDED_TIMESTAMP_ID);
    put16(out + 2, LOCAL_EXTRA_SIZE - 4);
    out[4] = TIMESTAMP_FLAGS;
    put32(out + 5, static_cast<uint32_t>(modifyTime));
    put32(out + 9, static_cast<uint32_t>(accessTime));
    put32(out + 13, static_cast<uint32_t>(createTime));
}

void formatCentralExtra(int32_t modifyTime, uint8_t (&out)[CENTRAL_EXTRA_SIZE]) {
    put16(out, EXTENDED_TIMESTAMP_ID);
    put16(out + 2, CENTRAL_EXTRA_SIZE - 4);
    out[4] = TIMESTAMP_FLAGS;  // says all three, though only the modification time follows
    put32(out + 5, static_cast<uint32_t>(modifyTime));
}

uint32_t writeLocalHeader(ArchiveWriter& writer, const ArchiveEntry& entry) {
    uint8_t fixed[LOCAL_HEADER_SIZE];
    formatLocalHeader(entry, fixed);
    bool whole = writeWhole(writer, fixed, LOCAL_HEADER_SIZE);
    whole = writeWhole(writer, entry.storedName, entry.nameLength) && whole;
    whole = writeWhole(writer, entry.localExtra, entry.localExtraLength) && whole;
    return whole ? 0 : HEADER_WRITE_SHORT;
}

uint32_t writeCentralHeader(ArchiveWriter& writer, const ArchiveEntry& entry) {
    uint8_t fixed[CENTRAL_HEADER_SIZE];
    formatCentralHeader(entry, fixed);
    bool whole = writeWhole(writer, fixed, CENTRAL_HEADER_SIZE);
    whole = writeWhole(writer, entry.storedName, entry.nameLength) && whole;
    whole = writeWhole(writer, entry.centralExtra, entry.centralExtraLength) && whole;
    return whole ? 0 : HEADER_WRITE_SHORT;
}

uint32_t writeEndRecord(ArchiveWriter& writer, uint32_t count, uint32_t size, uint32_t offset) {
    uint8_t record[END_RECORD_SIZE];
    formatEndRecord(count, size, offset, record);
    writeWhole(writer, record, END_RECORD_SIZE);  // a short write shows in failedWrites
    return 0;
}

ArchiveResult deflateEntry(ArchiveWriter& writer, ArchiveEntry& entry) {
    if (writer.deflateContext == nullptr)
        writer.deflateContext = createDeflateContext();
    DeflateContext* context = writer.deflateContext;
    if (context == nullptr)
        return ARC_DEFLATE_FAILED;
    context->owner = &writer;
    context->readCallback = deflateReadCallback;
    context->flushCallback = deflateFlushCallback;
    context->outputBuffer = writer.ioBuffer;
    context->outputSize = IO_BUFFER_SIZE;
    if (deflateContextHook != nullptr)
        deflateContextHook(*context);
    writer.compressedSize = runDeflate(*context);
    entry.flags |= FLAG_DEFLATE_MAXIMUM;
    return context->errorText != nullptr ? ARC_DEFLATE_FAILED : ARC_OK;
}

ArchiveResult addEntry(ArchiveWriter& writer, const char* name, const void* source, uint32_t length,
                       EntrySourceKind kind) {
    if (writer.outputError != ARC_OK)
        return ARC_EARLIER_ERROR;
    size_t nameLength = name != nullptr ? std::strlen(name) : 0;
    if (nameLength == 0 || nameLength >= STORED_NAME_FIELD)
        return ARC_BAD_ARGUMENT;
    ArchiveEntry entry = {};
    std::memcpy(entry.storedName, name, nameLength);
    slashAnsiName(entry.storedName, nameLength);
    CompressionMethod method = methodForName(entry.storedName);

    ArchiveResult result = setUpSource(writer, source, length, kind);
    if (result != ARC_OK)
        return result;
    // Nothing has been written up to here.

    fillNewRecord(writer, entry, method);
    uint8_t localExtra[LOCAL_EXTRA_SIZE];
    uint8_t centralExtra[CENTRAL_EXTRA_SIZE];
    formatLocalExtra(writer.modifyTime, writer.accessTime, writer.createTime, localExtra);
    formatCentralExtra(writer.modifyTime, centralExtra);
    entry.localExtra = localExtra;
    uint32_t failuresBefore = writer.failedWrites;

    if (writeLocalHeader(writer, entry) != 0) {
        closeInput(writer);
        return abandonEntry(writer, entry, ARC_WRITE_FAILED);
    }
    writer.bytesWritten += localHeaderSpan(entry);
    if (writer.outputError != ARC_OK) {
        closeInput(writer);
        return writer.outputError;
    }

    writer.dataBytesWritten = 0;
    writer.dataOutputLost = false;
    ArchiveResult dataResult =
        method == METHOD_DEFLATED ? deflateEntry(writer, entry) : copyStored(writer);
    closeInput(writer);
    writer.bytesWritten += writer.compressedSize;
    if (writer.outputError != ARC_OK)
        return writer.outputError;
    // A source of 4 GiB or more, or data that would end beyond 4 GiB, cannot be
    // recorded in 32-bit fields: the entry is left out rather than mislabelled.
    if (writer.failedWrites != failuresBefore || writer.inputBytesRead > 0xFFFFFFFFull ||
        !endsWithinArchiveLimit(entry, writer.dataBytesWritten))
        return abandonEntry(writer, entry, ARC_WRITE_FAILED);
    if (dataResult != ARC_OK) {
        // The stream cannot be trusted: the entry is undone like a lost one.
        ++writer.failedCompressions;
        return abandonEntry(writer, entry, ARC_WRITE_FAILED);
    }

    entry.crc = writer.runningCrc;
    entry.uncompressedSize = static_cast<uint32_t>(writer.declaredSize);
    entry.compressedSize = writer.compressedSize;
    entry.flags &= ~FLAG_DATA_DESCRIPTOR;
    entry.localFlags = entry.flags;

    if (!seekOutput(writer, entry.localHeaderOffset - writer.initialOffset))
        return ARC_NOT_SEEKABLE;
    if (writeLocalHeader(writer, entry) != 0)
        return abandonEntry(writer, entry, ARC_WRITE_FAILED);
    if (!seekOutput(writer, writer.bytesWritten))
        return ARC_NOT_SEEKABLE;
    if (writer.outputError != ARC_OK)
        return writer.outputError;

    if (!recordEntry(writer, entry, centralExtra))
        return abandonEntry(writer, entry, ARC_WRITE_FAILED);
    return ARC_OK;
}

ArchiveResult writeCentralDirectory(ArchiveWriter& writer) {
    // After a failed repositioning the file position is not where bytesWritten
    // says, so nothing more can be written truthfully.
    if (writer.outputError != ARC_OK) {
        freeEntries(writer);
        return writer.outputError;
    }
    uint32_t start = writer.bytesWritten;
    uint32_t count = 0;
    bool allWritten = true;
    for (ArchiveEntry* entry = writer.entries.first; entry != nullptr; entry = entry->next) {
        if (allWritten && writeCentralHeader(writer, *entry) != 0)
            allWritten = false;
        ++count;
        writer.bytesWritten += centralHeaderSpan(*entry);
    }
    freeEntries(writer);
    if (!allWritten)
        return ARC_WRITE_FAILED;
    writeEndRecord(writer, count, writer.bytesWritten - start, writer.initialOffset + start);
    writer.bytesWritten += END_RECORD_SIZE;
    // A failed add may have left bytes beyond what is now the end record;
    // readers look for the end record at the end of the file.
    if (!SetEndOfFile(writer.outputFile))
        return ARC_WRITE_FAILED;
    return writer.failedWrites == 0 && writer.failedCompressions == 0 ? ARC_OK : ARC_WRITE_FAILED;
}

ArchiveHandle* CreateArchive(const wchar_t* path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (path != nullptr)
        file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return CreateArchiveOnFile(file);
}

ArchiveHandle* CreateArchiveOnFile(void* file) {
    ArchiveWriter* writer = new (std::nothrow) ArchiveWriter();
    ArchiveHandle* handle = new (std::nothrow) ArchiveHandle();
    if (file == INVALID_HANDLE_VALUE || file == nullptr || writer == nullptr || handle == nullptr) {
        if (file != INVALID_HANDLE_VALUE && file != nullptr)
            CloseHandle(file);
        delete writer;
        delete handle;
        lastArchiveResult = ARC_OPEN_FAILED;
        return nullptr;
    }
    writer->outputFile = file;
    writer->initialOffset = 0;
    writer->canSeek = true;
    handle->kind = HANDLE_KIND_WRITER;
    handle->writer = writer;
    lastArchiveResult = ARC_OK;
    return handle;
}

ArchiveResult AddArchiveEntry(ArchiveHandle* archive, const wchar_t* name, const void* source,
                              uint32_t length, EntrySourceKind kind) {
    if (archive == nullptr)
        return lastArchiveResult = ARC_BAD_ARGUMENT;
    if (archive->kind != HANDLE_KIND_WRITER)
        return lastArchiveResult = ARC_WRONG_HANDLE;
    wchar_t slashedName[WIDE_NAME_BUFFER];
    char ansiName[NAME_CONVERSION_BUFFER] = {};
    if (name == nullptr || !slashWideName(name, slashedName) ||
        WideCharToMultiByte(CP_ACP, 0, slashedName, -1, ansiName, NAME_CONVERSION_LIMIT, nullptr,
                            nullptr) == 0)
        return ARC_BAD_ARGUMENT;  // lastArchiveResult stays as it was
    return lastArchiveResult = addEntry(*archive->writer, ansiName, source, length, kind);
}

ArchiveResult CloseArchive(ArchiveHandle* archive) {
    if (archive == nullptr)
        return lastArchiveResult = ARC_BAD_ARGUMENT;
    if (archive->kind != HANDLE_KIND_WRITER)
        return lastArchiveResult = ARC_WRONG_HANDLE;
    ArchiveWriter* writer = archive->writer;
    ArchiveResult result = writeCentralDirectory(*writer);
    CloseHandle(writer->outputFile);
    writer->outputFile = nullptr;
    lastArchiveResult = result;
    destroyDeflateContext(writer->deflateContext);
    delete writer;
    delete archive;
    return result;
}
