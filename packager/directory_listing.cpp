// Placeholder until this collector lands: adds nothing.
#include "directory_listing.h"

bool AddDirectoryListing(const wchar_t*, const wchar_t*, const wchar_t*) { return false; }
