// The hotfix step on a thread that never initialised COM, in a process where
// no thread has: no WMI connection, no page, and the package carries on.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "hotfix.h"
#include "hotfix_archive_paths.h"
#include "ziparchive.h"

TEST(HotfixWithoutCom, NoConnectionIsMade) {
    packageArchive = nullptr;
    EXPECT_EQ(AddHotfixList(), 0);
    EXPECT_EQ(wmiConnected, 0);
    HotfixRowTable rows;
    EXPECT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows), 0);
    EXPECT_TRUE(rows.empty());
}

TEST(HotfixWithoutCom, AddsNoEntryAndTheBuildGoesOn) {
    std::wstring path = HotfixArchivePath(L"without-com.zrpk");
    packageArchive = CreateArchive(path.c_str());
    ASSERT_NE(packageArchive, nullptr) << "lastArchiveResult " << lastArchiveResult;

    EXPECT_EQ(AddHotfixList(), 0);
    EXPECT_EQ(wmiConnected, 0);
    EXPECT_EQ(AddArchiveEntry(packageArchive, L"info\\after.txt", "after", 5, SOURCE_MEMORY),
              ARC_OK);
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
}

namespace {

struct ApartmentOutcome {
    HRESULT apartment = E_FAIL;
    int initialised = -1;
};

DWORD WINAPI InitialiseInsideSingleThreadedApartment(void* context) {
    ApartmentOutcome* outcome = static_cast<ApartmentOutcome*>(context);
    outcome->apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    outcome->initialised = InitializeWorkerCom();  // meets RPC_E_CHANGED_MODE
    return 0;
}

}  // namespace

// Runs last: it puts COM into this process.
TEST(HotfixWithoutCom, ThreadAlreadyInASingleThreadedApartmentCountsAsInitialised) {
    ApartmentOutcome outcome;
    HANDLE thread =
        CreateThread(nullptr, 0, InitialiseInsideSingleThreadedApartment, &outcome, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(outcome.apartment, S_OK);
    EXPECT_EQ(outcome.initialised, 1);
}
