// Public interface of the ZIP archive writer: one archive at a time, written
// by the package worker's thread alone.
#pragma once

#include <cstdint>

typedef uint32_t ArchiveResult;

const ArchiveResult ARC_OK             = 0;
const ArchiveResult ARC_OPEN_FAILED    = 0x200;
const ArchiveResult ARC_WRITE_FAILED   = 0x400;
const ArchiveResult ARC_BAD_ARGUMENT   = 0x10000;
const ArchiveResult ARC_EARLIER_ERROR  = 0x40000;
const ArchiveResult ARC_SIZE_MISMATCH  = 0x60000;
const ArchiveResult ARC_WRONG_HANDLE   = 0x80000;
const ArchiveResult ARC_NO_HANDLE      = 0x1000000;
const ArchiveResult ARC_NOT_SEEKABLE   = 0x2000000;
const ArchiveResult ARC_DEFLATE_FAILED = 0x5000000;

const int32_t HANDLE_KIND_WRITER = 2;

enum EntrySourceKind : int32_t {
    SOURCE_FILE = 2,    // NUL-terminated UTF-16 path; length 0 and unused
    SOURCE_MEMORY = 3,  // byte buffer of the given length
    // An open file HANDLE, read from its start; length 0 and unused. The caller
    // keeps the handle and closes it, so the file read is the one it checked.
    SOURCE_OPEN_FILE = 4,
};

struct ArchiveWriter;

struct ArchiveHandle {
    int32_t kind;
    ArchiveWriter* writer;
};

extern ArchiveHandle* packageArchive;
extern ArchiveResult lastArchiveResult;

ArchiveHandle* CreateArchive(const wchar_t* path);
// The same on a file the caller has opened for writing and emptied; the archive
// takes the handle over and closes it, also when it cannot be created.
// INVALID_HANDLE_VALUE gives no archive and ARC_OPEN_FAILED.
ArchiveHandle* CreateArchiveOnFile(void* file);
ArchiveResult AddArchiveEntry(ArchiveHandle* archive, const wchar_t* name,
                              const void* source, uint32_t length, EntrySourceKind kind);
ArchiveResult CloseArchive(ArchiveHandle* archive);
