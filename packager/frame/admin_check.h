#pragma once

#include <windows.h>

// The calls the administrator test makes; tests give their own.
struct MembershipCalls {
    BOOL(WINAPI* allocateSid)(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                              DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                              DWORD sub6, DWORD sub7, PSID* sid);
    BOOL(WINAPI* checkMembership)(HANDLE token, PSID sid, PBOOL isMember);
    PVOID(WINAPI* freeSid)(PSID sid);
};

extern const MembershipCalls SYSTEM_MEMBERSHIP_CALLS;

// True when the calling thread's effective token is a member of the local
// Administrators group; a test that cannot be made counts as not a member.
bool IsAdministratorsMember(const MembershipCalls& calls = SYSTEM_MEMBERSHIP_CALLS);
