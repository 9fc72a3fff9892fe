// Stand-in for the program's administrator test that says yes and, before the
// program goes on, makes every write to the archive fail: linked ahead of the
// frame library, so the real program frame builds a package that cannot be
// written and shows what a user gets when the disk refuses it.
#include "admin_check.h"
#include "archive_writer.h"

namespace {

BOOL WINAPI RefuseWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr)
        *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

}  // namespace

const MembershipCalls SYSTEM_MEMBERSHIP_CALLS = {};

bool IsAdministratorsMember(const MembershipCalls&) {
    archiveWriteFile = RefuseWrite;
    return true;
}
