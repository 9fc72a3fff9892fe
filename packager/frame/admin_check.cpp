#include "admin_check.h"

const MembershipCalls SYSTEM_MEMBERSHIP_CALLS = {AllocateAndInitializeSid, CheckTokenMembership,
                                                 FreeSid};

bool IsAdministratorsMember(const MembershipCalls& calls) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = nullptr;
    if (!calls.allocateSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                           0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!calls.checkMembership(nullptr, administrators, &member))
        member = FALSE;
    calls.freeSid(administrators);
    return member != FALSE;
}
