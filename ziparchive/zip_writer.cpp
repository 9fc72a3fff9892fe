// Placeholder until the writer lands: every archive fails to open.
#include "ziparchive.h"

ArchiveHandle* packageArchive = nullptr;
ArchiveResult lastArchiveResult = ARC_OK;

ArchiveHandle* CreateArchive(const wchar_t*) {
    lastArchiveResult = ARC_OPEN_FAILED;
    return nullptr;
}

ArchiveResult AddArchiveEntry(ArchiveHandle*, const wchar_t*, const void*, uint32_t, EntrySourceKind) {
    return lastArchiveResult = ARC_BAD_ARGUMENT;
}

ArchiveResult CloseArchive(ArchiveHandle*) {
    return lastArchiveResult = ARC_BAD_ARGUMENT;
}
