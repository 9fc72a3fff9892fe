#include "user_files.h"

#include <list>

#include "listing.h"
#include "ziparchive.h"

namespace {

// Entry names live in a buffer of 260 UTF-16 units, terminator included.
const size_t kMaxEntryNameUnits = 259;

}  // namespace

bool MakeFilesEntryName(const std::wstring& fullPath, size_t rootLength, std::wstring* name) {
    if (rootLength > fullPath.size())
        return false;
    std::wstring candidate = L"files" + fullPath.substr(rootLength);
    if (candidate.size() > kMaxEntryNameUnits)
        return false;
    *name = candidate;
    return true;
}

bool AddDirectoryFiles(const wchar_t* root) {
    if (root == nullptr)
        return true;
    std::list<DirEntryRecord> records;
    WalkDirectory(root, records, L"*.*");
    // Paths of the walk start with the root as its records hold it, so a root given
    // with a trailing backslash still yields names that begin "files\".
    size_t rootLength = WithoutTrailingBackslash(root).size();
    for (const DirEntryRecord& record : records) {
        // Only plain files: a link in the user's folder could name a file that
        // only this elevated process may read.
        if (record.findData.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring path = FullPath(record);
        std::wstring name;
        // A name too long for the entry-name buffer is left out rather than cut short.
        if (!MakeFilesEntryName(path, rootLength, &name))
            continue;
        AddArchiveEntry(packageArchive, name.c_str(), path.c_str(), 0, SOURCE_FILE);
    }
    return true;
}
