// This run's private temporary folder, for the entry files that are written
// before they are added. The user's own temporary folder is not used: the user
// controls it and where it points, and this program runs as administrator.
// The folder is made once, on first use, under the Windows directory's Temp,
// with a name from the system's random source and a DACL that lets in SYSTEM,
// Administrators and LOCAL SERVICE (the Event Log service, which writes the
// backups) and no one else. Worker thread only.
#pragma once
#include <string>

#include "user_places.h"

// Makes the folder with the security given; CreateDirectoryW but in tests,
// which see what the folder is given (Wine does not keep it as given).
typedef BOOL(WINAPI* CreateFolderCall)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
extern CreateFolderCall createPrivateFolderCall;

// A name in the folder that no file has had in this run; empty when there is
// no private folder (the steps that need one then add nothing).
std::wstring NewPrivateTemporaryFileName();

// The folder's path, and where it lies for checking the files in it by
// handle; empty when there is none.
std::wstring PrivateTemporaryFolderPath();
VolumePlace PrivateTemporaryFolderPlace();

// Removes the folder and whatever is left in it; a later use makes a new one.
void RemovePrivateTemporaryFolder();
