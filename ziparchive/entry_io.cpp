// The writer's input and output: the entry's source (a file or a memory
// buffer) with its byte count and CRC-32, the archive file's writes and
// repositioning, and the entry's metadata (attributes, Unix and DOS times).
#include <cstring>
#include <ctime>

#include "archive_writer.h"
#include "crc32.h"
#include "deflate.h"

WriteFileFunction archiveWriteFile = &WriteFile;

namespace {

const uint32_t ATTRIBUTE_MASK = 0x37;
const uint32_t UNIX_REGULAR_FILE = 0x8000;
const uint32_t UNIX_DIRECTORY = 0x4000;
const uint32_t UNIX_OWNER_READ = 0x0100;
const uint32_t UNIX_OWNER_WRITE = 0x0080;
const uint32_t UNIX_OWNER_EXECUTE = 0x0040;

const uint32_t SMALLEST_PROGRAM_SIZE = 41;  // 40 bytes or fewer are never a program
const uint32_t NEW_HEADER_POINTER_OFFSET = 60;
const uint32_t NEW_HEADER_MIN_SPAN = 52;

const uint32_t DOS_STAMP_EARLIEST = 0x00210000;  // 1980-01-01 00:00:00
const uint32_t DOS_STAMP_LATEST = 0xFF9FBF7D;    // 2107-12-31 23:59:58

int64_t fileTimeValue(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(value.QuadPart);
}

FILETIME fileTimeFromValue(int64_t value) {
    ULARGE_INTEGER parts;
    parts.QuadPart = static_cast<uint64_t>(value);
    FILETIME time;
    time.dwLowDateTime = parts.LowPart;
    time.dwHighDateTime = parts.HighPart;
    return time;
}

// Today's UTC minus local time, in 100-nanosecond units.
int64_t localTimeShift() {
    SYSTEMTIME utc, local;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    FILETIME utcTime = {}, localTime = {};
    SystemTimeToFileTime(&utc, &utcTime);
    SystemTimeToFileTime(&local, &localTime);
    return fileTimeValue(utcTime) - fileTimeValue(localTime);
}

// Moves the file to a position from its beginning; false when the move failed.
bool setPosition(HANDLE file, uint64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

// Reads exactly count bytes at offset from the file's beginning.
bool readAt(HANDLE file, uint32_t offset, void* buffer, DWORD count) {
    if (!setPosition(file, offset))
        return false;
    DWORD got = 0;
    return ReadFile(file, buffer, count, &got, nullptr) && got == count;
}

bool isExecutableFile(HANDLE file, uint32_t size) {
    if (size < SMALLEST_PROGRAM_SIZE)
        return false;
    uint8_t start[2];
    uint8_t pointer[4];
    if (!readAt(file, 0, start, sizeof(start)) ||
        !readAt(file, NEW_HEADER_POINTER_OFFSET, pointer, sizeof(pointer)))
        return false;
    uint32_t headerOffset = pointer[0] | pointer[1] << 8 | pointer[2] << 16 |
                            static_cast<uint32_t>(pointer[3]) << 24;
    uint8_t header[4];
    if (!readAt(file, headerOffset, header, sizeof(header)))
        return false;
    return looksExecutable(start, headerOffset, header, size);
}

}  // namespace

uint32_t externalAttributesOf(uint32_t fileAttributes, bool executable) {
    bool directory = (fileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool readOnly = (fileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    uint32_t mode = (directory ? UNIX_DIRECTORY : UNIX_REGULAR_FILE) | UNIX_OWNER_READ;
    if (!readOnly)
        mode |= UNIX_OWNER_WRITE;
    if (executable)
        mode |= UNIX_OWNER_EXECUTE;
    return (fileAttributes & ATTRIBUTE_MASK) | mode << 16;
}

bool looksExecutable(const uint8_t (&start)[2], uint32_t headerOffset, const uint8_t (&header)[4],
                     uint32_t size) {
    if (start[0] != 'M' || start[1] != 'Z')
        return false;
    if (static_cast<uint64_t>(headerOffset) + NEW_HEADER_MIN_SPAN >= size)
        return false;
    if (header[2] != 0 || header[3] != 0)
        return false;
    static const char* const signatures[] = {"MZ", "NE", "LE", "PE"};
    for (const char* signature : signatures)
        if (header[0] == signature[0] && header[1] == signature[1])
            return true;
    return false;
}

int32_t fileTimeToUnixTime(const FILETIME& wallTime) {
    SYSTEMTIME fields;
    if (!FileTimeToSystemTime(&wallTime, &fields))
        return -1;
    if (fields.wYear < 1970) {
        fields.wYear = 1970;
        fields.wMonth = 1;
        fields.wDay = 1;
    } else if (fields.wYear >= 2038) {
        fields.wYear = 2037;
        fields.wMonth = 12;
        fields.wDay = 31;
    }
    struct tm calendar = {};
    calendar.tm_sec = fields.wSecond;
    calendar.tm_min = fields.wMinute;
    calendar.tm_hour = fields.wHour;
    calendar.tm_mday = fields.wDay;
    calendar.tm_mon = fields.wMonth - 1;
    calendar.tm_year = fields.wYear - 1900;
    calendar.tm_isdst = 0;  // wall time always counts as standard time
    return static_cast<int32_t>(_mktime32(&calendar));
}

uint32_t dosStampOf(const FILETIME& wallTime) {
    SYSTEMTIME fields;
    if (!FileTimeToSystemTime(&wallTime, &fields))
        return DOS_STAMP_EARLIEST;
    if (fields.wYear < 1980)
        return DOS_STAMP_EARLIEST;
    if (fields.wYear > 2107)
        return DOS_STAMP_LATEST;
    WORD date = 0, time = 0;
    if (!FileTimeToDosDateTime(&wallTime, &date, &time))
        return DOS_STAMP_EARLIEST;
    return static_cast<uint32_t>(date) << 16 | time;
}

ArchiveResult queryDiskFile(HANDLE file, uint32_t* attributes, uint32_t* size, int32_t* times,
                            uint32_t* dosStamp) {
    if (GetFileType(file) != FILE_TYPE_DISK)
        return ARC_NO_HANDLE;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return ARC_OPEN_FAILED;
    int64_t shift = localTimeShift();
    FILETIME created = fileTimeFromValue(fileTimeValue(information.ftCreationTime) - shift);
    FILETIME accessed = fileTimeFromValue(fileTimeValue(information.ftLastAccessTime) - shift);
    FILETIME written = fileTimeFromValue(fileTimeValue(information.ftLastWriteTime) - shift);
    uint32_t fileSize = GetFileSize(file, nullptr);
    bool executable = isExecutableFile(file, fileSize);
    if (attributes != nullptr)
        *attributes = externalAttributesOf(information.dwFileAttributes, executable);
    if (size != nullptr)
        *size = fileSize;
    if (times != nullptr) {
        times[0] = fileTimeToUnixTime(accessed);
        times[1] = fileTimeToUnixTime(written);
        times[2] = fileTimeToUnixTime(created);
    }
    if (dosStamp != nullptr)
        *dosStamp = dosStampOf(written);
    return ARC_OK;
}

void stampCurrentTime(ArchiveWriter& writer) {
    SYSTEMTIME local;
    GetLocalTime(&local);
    FILETIME wallTime = {};
    SystemTimeToFileTime(&local, &wallTime);
    writer.entryDosTime = dosStampOf(wallTime);
    int32_t now = fileTimeToUnixTime(wallTime);
    writer.accessTime = now;
    writer.modifyTime = now;
    writer.createTime = now;
}

void clearInput(ArchiveWriter& writer) {
    writer.inputFile = nullptr;
    writer.memorySource = nullptr;
    writer.ownsInput = false;
    writer.runningCrc = 0;
    writer.declaredSize = 0;
    writer.compressedSize = 0;
    writer.bytesRead = 0;
    writer.inputBytesRead = 0;
}

ArchiveResult attachInput(ArchiveWriter& writer, HANDLE file, uint32_t length) {
    clearInput(writer);
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return ARC_BAD_ARGUMENT;
    if (GetFileType(file) == FILE_TYPE_DISK) {
        uint32_t size = 0;
        int32_t times[3] = {};
        ArchiveResult result = queryDiskFile(file, &writer.entryAttributes, &size, times,
                                             &writer.entryDosTime);
        if (result != ARC_OK)
            return result;
        writer.declaredSize = static_cast<int32_t>(size);
        writer.accessTime = times[0];
        writer.modifyTime = times[1];
        writer.createTime = times[2];
        setPosition(file, 0);
    } else {
        writer.entryAttributes = MEMORY_ENTRY_ATTRIBUTES;
        writer.declaredSize = length == 0 ? -1 : static_cast<int32_t>(length);
        stampCurrentTime(writer);
    }
    writer.inputFile = file;
    return ARC_OK;
}

uint32_t readInput(ArchiveWriter& writer, uint8_t* buffer, uint32_t size) {
    uint32_t count = 0;
    if (writer.memorySource != nullptr) {
        if (writer.memoryPosition >= writer.memoryLength)
            return 0;
        count = writer.memoryLength - writer.memoryPosition;
        if (count > size)
            count = size;
        std::memcpy(buffer, writer.memorySource + writer.memoryPosition, count);
        writer.memoryPosition += count;
    } else if (writer.inputFile != nullptr) {
        DWORD got = 0;
        if (!ReadFile(writer.inputFile, buffer, size, &got, nullptr))
            return 0;
        count = got;
    } else {
        writer.outputError = ARC_NO_HANDLE;
        return 0;
    }
    writer.bytesRead += count;
    writer.inputBytesRead += count;
    writer.runningCrc = updateCrc32(writer.runningCrc, buffer, count);
    return count;
}

ArchiveResult closeInput(ArchiveWriter& writer) {
    if (writer.ownsInput && writer.inputFile != nullptr)
        CloseHandle(writer.inputFile);
    writer.inputFile = nullptr;
    ArchiveResult result = ARC_OK;
    if (writer.declaredSize != -1 && static_cast<uint32_t>(writer.declaredSize) != writer.bytesRead)
        result = ARC_SIZE_MISMATCH;
    writer.declaredSize = static_cast<int32_t>(writer.bytesRead);
    return result;
}

uint32_t writeOutput(ArchiveWriter& writer, const void* data, uint32_t length) {
    if (writer.outputFile == nullptr) {
        writer.outputError = ARC_NO_HANDLE;
        return 0;
    }
    DWORD written = 0;
    if (!archiveWriteFile(writer.outputFile, data, length, &written, nullptr))
        written = 0;
    // A lost byte makes the archive untrustworthy; the add and the close see it.
    if (written != length)
        ++writer.failedWrites;
    writer.dataBytesWritten += written;
    return written;
}

bool seekOutput(ArchiveWriter& writer, uint32_t position) {
    if (!writer.canSeek) {
        writer.outputError = ARC_NOT_SEEKABLE;
        return false;
    }
    if (writer.outputFile == nullptr) {
        writer.outputError = ARC_NO_HANDLE;
        return false;
    }
    // A failed move must not let the next write land at a wrong offset.
    if (!setPosition(writer.outputFile, static_cast<uint64_t>(writer.initialOffset) + position)) {
        writer.outputError = ARC_NOT_SEEKABLE;
        return false;
    }
    return true;
}

uint32_t deflateReadCallback(DeflateContext* context, uint8_t* buffer, uint32_t size) {
    return readInput(*static_cast<ArchiveWriter*>(context->owner), buffer, size);
}

// A short write counts as emptied, as the compressor expects; writeOutput has
// already counted it as a failed write, so the add fails all the same. Once
// output is lost, the rest of the entry's stream is dropped unwritten: on a
// full disk it would otherwise cost a refused write per output word.
void deflateFlushCallback(void* owner, uint8_t* buffer, uint32_t* fill) {
    if (*fill == 0)
        return;
    ArchiveWriter& writer = *static_cast<ArchiveWriter*>(owner);
    if (writer.dataOutputLost) {
        *fill = 0;
        return;
    }
    uint32_t written = writeOutput(writer, buffer, *fill);
    if (written != *fill)
        writer.dataOutputLost = true;
    if (written != 0)
        *fill = 0;
}
