#pragma once

// Adds a sorted listing of the tree below directory (pattern on the top level only).
bool AddDirectoryListing(const wchar_t* entryName, const wchar_t* directory, const wchar_t* pattern);
