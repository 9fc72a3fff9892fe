#pragma once
#include <string>

// Adds every file below root as "files\" + its path below root, in walk order;
// folders get no entries of their own. Always true.
bool AddDirectoryFiles(const wchar_t* root);

// "files" + fullPath from position rootLength on, when that fits an entry name of
// at most 259 UTF-16 units; false (name untouched) when it does not.
bool MakeFilesEntryName(const std::wstring& fullPath, size_t rootLength, std::wstring* name);
