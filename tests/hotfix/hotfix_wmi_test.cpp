// The hotfix step against Wine's WMI, with COM set up as the worker does.
// The connection is process-wide, so these tests run in the order written:
// first without a connection, then connecting through AddHotfixList, then
// using that connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotfix_archive_paths.h"
#include "hotfix_page.h"
#include "ziparchive.h"

TEST(HotfixWmi, QueryWithoutConnectionGivesNoRows) {
    ASSERT_EQ(wmiConnected, 0);
    HotfixRowTable rows = {HotfixRow(HOTFIX_COLUMNS.size(), "stale")};
    EXPECT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows), 0);
    EXPECT_TRUE(rows.empty());
}

TEST(HotfixWmi, ComInitialisationSucceedsAlsoWhenRepeated) {
    EXPECT_EQ(InitializeWorkerCom(), 1);
    // Already in the apartment and security already set: still a success.
    EXPECT_EQ(InitializeWorkerCom(), 1);
}

TEST(HotfixWmi, FirstCallConnectsEvenWhenTheAddFails) {
    ASSERT_EQ(InitializeWorkerCom(), 1);
    packageArchive = nullptr;  // no package: the add is refused
    EXPECT_EQ(AddHotfixList(), 0);
    EXPECT_EQ(wmiConnected, 1);
}

TEST(HotfixWmi, QueryGivesWinesOneInstanceWithTheCellsItFills) {
    ASSERT_EQ(wmiConnected, 1) << "needs the connection of the previous test";
    HotfixRowTable rows = {HotfixRow(HOTFIX_COLUMNS.size(), "stale")};
    ASSERT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    // Wine fills these four properties; the other seven come back as VT_NULL.
    const std::vector<std::string> expected = {
        "http://winehq.org", "", "Update", "", "KB1234567", "",
        "",                  "22/2/2022", "", "", "",
    };
    EXPECT_EQ(rows[0], expected);
}

TEST(HotfixWmi, PageGoesIntoThePackageThroughTheOpenConnection) {
    ASSERT_EQ(wmiConnected, 1) << "needs the connection of the previous tests";
    std::wstring path = HotfixArchivePath(L"with-com.zrpk");
    packageArchive = CreateArchive(path.c_str());
    ASSERT_NE(packageArchive, nullptr) << "lastArchiveResult " << lastArchiveResult;
    EXPECT_EQ(AddHotfixList(), 1);
    EXPECT_EQ(AddArchiveEntry(packageArchive, L"info\\marker.txt", "x", 1, SOURCE_MEMORY), ARC_OK);
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
}
