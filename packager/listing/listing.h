#pragma once
#include <windows.h>
#include <list>
#include <string>

#include "listing_format.h"

// Appends a record for every name below directory, depth first with a directory's
// own record before its contents; pattern selects the names of the top level only,
// every level below lists all names. Junctions and symbolic links get a record
// but are not entered. False when the top search could not be opened.
bool WalkDirectory(const std::wstring& directory, std::list<DirEntryRecord>& records,
                   const wchar_t* pattern);

// The file version of the file at path from its root version block.
FileVersion LookupFileVersion(const wchar_t* path);

// 32 uppercase hexadecimal digits of the file's MD5, in a malloc'd text the caller
// frees; null when no digest can be made (no read access, a directory, an empty
// file, a file too large for one view, a failed hash).
char* Md5OfFile(const wchar_t* path);

// The record's listing line without a line end.
std::wstring FormatListingLine(const DirEntryRecord& record);

// One line per record in list order, each followed by "\r\n".
std::wstring BuildListingText(const std::list<DirEntryRecord>& records);

// Adds a sorted listing of the tree below directory (pattern on the top level only)
// as UTF-16LE text without byte-order mark; true when the entry was added.
bool AddDirectoryListing(const wchar_t* entryName, const wchar_t* directory, const wchar_t* pattern);
