// Records of the directory walk and the pure pieces of a listing: full paths,
// their ordinal order, and the columns of one listing line.
#pragma once
#include <windows.h>
#include <list>
#include <string>

// One file or directory found by the walk.
struct DirEntryRecord {
    WIN32_FIND_DATAW findData;  // as FindFirstFileW / FindNextFileW delivered it
    std::wstring parentDir;     // the searched directory, one trailing backslash removed
};

// The directory string with one trailing backslash removed, if it ends in one.
std::wstring WithoutTrailingBackslash(const std::wstring& directory);

// parentDir + "\" + cFileName, built anew on every call.
std::wstring FullPath(const DirEntryRecord& record);

// Ordinal order of UTF-16 code units as unsigned 16-bit numbers; a prefix comes
// first. No locale, case-sensitive.
bool PathPrecedes(const std::wstring& left, const std::wstring& right);

// Stable sort of the records by their full paths in PathPrecedes order.
void SortByFullPath(std::list<DirEntryRecord>& records);

// The four words of VS_FIXEDFILEINFO's file version, when the file has one.
struct FileVersion {
    bool present = false;
    WORD parts[4] = {0, 0, 0, 0};  // major, minor, build, revision
};

// Everything one listing line shows, already asked of Windows.
struct ListingLineFacts {
    DWORD attributes = 0;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    bool creationKnown = false;  // false when the creation time could not be converted
    SYSTEMTIME creationUtc = {};
    FileVersion version;
    std::string digest;          // 32 hexadecimal digits, or empty when none was made
    std::wstring path;
};

// "DAAHS" by position: directory, read-only, archive, hidden, system; "-" when clear.
std::wstring FormatAttributes(DWORD attributes);
// high * 2^32 + low, right-aligned in 12 characters; longer numbers whole.
std::wstring FormatSize(DWORD high, DWORD low);
// "yyyy-mm-dd hh:mm" of a UTC time; null gives "0000-00-00 00:00".
std::wstring FormatCreationTime(const SYSTEMTIME* utc);
// "a.b.c.d" left-aligned in 16 characters, "0.0.0.0" when there is none.
std::wstring FormatFileVersion(const FileVersion& version);
// The six TAB-separated columns, without a line end.
std::wstring FormatListingFields(const ListingLineFacts& facts);
