// The user's own places (the Desktop, the per-user folder, and whatever they
// point to) are the user's to change. This elevated program works there with
// the user's rights where it can, and trusts what it opened only after it has
// checked the open handle itself.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The calls that take on and give up the user's identity; tests put their own here.
struct UserRightsCalls {
    // A primary token of the desktop shell's user, or nullptr; the caller closes it.
    HANDLE (*shellUserToken)();
    BOOL(WINAPI* impersonate)(HANDLE token);
    BOOL(WINAPI* revert)();
};
extern const UserRightsCalls SYSTEM_USER_RIGHTS_CALLS;
extern UserRightsCalls userRightsCalls;

// The system's shell-user token: the user of the desktop shell's window, or
// nullptr when there is no shell window, or its process or token cannot be had.
HANDLE ShellUserToken();

// The desktop shell's user, when that user is this program's own account (the
// same user SID): the elevated administrator who is also the signed-in user.
// For any other shell user, or none, there is no identity to take on.
class UserRights {
public:
    UserRights();
    ~UserRights();
    UserRights(const UserRights&) = delete;
    UserRights& operator=(const UserRights&) = delete;

    // Runs action impersonating that user, and reverts right after (also when
    // action throws); runs it as this program when there is no such user.
    // False, and action not run, when the impersonation itself fails.
    bool Run(const std::function<void()>& action) const;

private:
    HANDLE token_;
};

// The final path of what the handle names (links and junctions resolved), in
// drive-letter or \\server\share form; empty when it cannot be had.
std::wstring FinalPathOf(HANDLE handle);

// A regular file that is neither a reparse point nor reached by a second link.
bool IsPlainSingleLinkFile(HANDLE file);

// Opens a folder for its checks (not its contents); INVALID_HANDLE_VALUE on
// failure. With reparsePointItself a link or junction is opened, not followed.
HANDLE OpenFolderForCheck(const std::wstring& folder, bool reparsePointItself);

// Where an open file or folder lies, links and junctions resolved: its volume
// and its path on that volume. Unlike a final path this is had for paths of
// any length under Wine too. An empty path when it cannot be had.
struct VolumePlace {
    DWORD volumeSerial = 0;
    std::wstring path;
};
VolumePlace PlaceOf(HANDLE handle);
// The same for a folder, opened for it (see OpenFolderForCheck) and closed again.
VolumePlace PlaceOfFolder(const std::wstring& folder, bool reparsePointItself);

// place is name directly in folder, or lies anywhere below folder.
bool IsEntryOfFolder(const VolumePlace& place, const VolumePlace& folder, const std::wstring& name);
bool IsInsideFolder(const VolumePlace& place, const VolumePlace& folder);

// Opens an existing file for reading (others may go on reading and writing it,
// but not delete or rename it) and gives the handle only when it is a plain
// file with one link that lies inside folder; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenFileInsideFolder(const std::wstring& path, const VolumePlace& folder);

// The two paths name the same place; letters compared without regard to case.
bool IsSamePath(const std::wstring& path, const std::wstring& other);
