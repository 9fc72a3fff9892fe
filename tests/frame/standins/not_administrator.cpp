// Stand-in for the program's administrator test that always says no: linked
// ahead of the frame library, so the real program frame runs with this
// decision and shows what a user without administrator rights gets.
#include "admin_check.h"

const MembershipCalls SYSTEM_MEMBERSHIP_CALLS = {};

bool IsAdministratorsMember(const MembershipCalls&) {
    return false;
}
