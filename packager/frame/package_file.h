#pragma once
#include <windows.h>

#include "user_places.h"

// Opens the existing package file at packagePath (desktop plus "\" plus the
// package's name), or creates it when nothing stands at the name, for the
// archive, with the user's rights, and checks the open handle before a byte
// of the file changes: it must be a plain file with one link that lies, links
// resolved, in the Desktop folder itself under the package's name. Only then is it
// emptied, so that a package of an earlier run is replaced. A refused file is
// left as it was (one that this open created is removed again, by handle);
// the result is then INVALID_HANDLE_VALUE.
HANDLE OpenPackageFile(const UserRights& user, const wchar_t* desktop, const wchar_t* packagePath);
