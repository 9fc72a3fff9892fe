// The hotfix step against Wine's WMI, with COM set up as the worker does.
// The connection is process-wide, so these tests run in the order written:
// first without a connection, then connecting through AddHotfixList, then
// using that connection. Stand-ins for single WMI calls show the step's
// answer to each failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotfix.h"
#include "hotfix_archive_paths.h"
#include "ziparchive.h"

namespace {

// Each stand-in fails one WMI call; the calls it does not replace go to WMI.
HRESULT RefuseNamespace(IWbemLocator*, BSTR, IWbemServices** services) {
    *services = nullptr;
    return WBEM_E_INVALID_NAMESPACE;
}

HRESULT RefuseProxyBlanket(IWbemServices*) { return E_ACCESSDENIED; }

HRESULT RefuseQuery(IWbemServices*, BSTR, BSTR, IEnumWbemClassObject** objects) {
    *objects = nullptr;
    return WBEM_E_ACCESS_DENIED;
}

// Wine has one hotfix: hand it out twice, then fail as a lost transport would.
int nextCalls = 0;
IWbemClassObject* firstObject = nullptr;

HRESULT FailAfterTwoObjects(IEnumWbemClassObject* objects, IWbemClassObject** object,
                            ULONG* returned) {
    ++nextCalls;
    if (nextCalls == 1) {
        HRESULT result = SYSTEM_WMI_CALLS.nextObject(objects, object, returned);
        if (SUCCEEDED(result) && *object != nullptr) {
            firstObject = *object;
            firstObject->AddRef();
        }
        return result;
    }
    if (nextCalls == 2 && firstObject != nullptr) {
        *object = firstObject;  // hands over the reference taken above
        firstObject = nullptr;
        *returned = 1;
        return WBEM_S_NO_ERROR;
    }
    *object = nullptr;
    *returned = 0;
    return WBEM_E_TRANSPORT_FAILURE;
}

// Creates the package of that name for the host-side check, lets body add to
// it, and closes it.
template <typename Body>
void WithPackage(const wchar_t* fileName, Body body) {
    std::wstring path = HotfixArchivePath(fileName);
    packageArchive = CreateArchive(path.c_str());
    ASSERT_NE(packageArchive, nullptr) << "lastArchiveResult " << lastArchiveResult;
    body();
    EXPECT_EQ(CloseArchive(packageArchive), ARC_OK);
    packageArchive = nullptr;
}

void AddMarker() {
    EXPECT_EQ(AddArchiveEntry(packageArchive, L"info\\marker.txt", "x", 1, SOURCE_MEMORY), ARC_OK);
}

void StartFailingEnumeration() {
    nextCalls = 0;
    if (firstObject != nullptr)
        firstObject->Release();
    firstObject = nullptr;
}

}  // namespace

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

// Runs before the first connection. Each refusal leaves no connection, adds no
// page, and the next call tries again from the start.
TEST(HotfixWmi, RefusedConnectionLeavesNoConnectionAndNoPage) {
    ASSERT_EQ(InitializeWorkerCom(), 1);
    WmiCalls namespaceRefused = SYSTEM_WMI_CALLS;
    namespaceRefused.connectServer = RefuseNamespace;
    WmiCalls blanketRefused = SYSTEM_WMI_CALLS;
    blanketRefused.setProxyBlanket = RefuseProxyBlanket;
    const struct {
        const char* label;
        const WmiCalls& calls;
    } cases[] = {{"namespace refused", namespaceRefused}, {"proxy security refused", blanketRefused}};

    WithPackage(L"connection-refused.zrpk", [&] {
        for (const auto& c : cases) {
            EXPECT_EQ(AddHotfixList(c.calls), 0) << c.label;
            EXPECT_EQ(wmiConnected, 0) << c.label;
            HotfixRowTable rows;
            EXPECT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows), 0) << c.label;
        }
        AddMarker();
    });
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
    WithPackage(L"with-com.zrpk", [] {
        EXPECT_EQ(AddHotfixList(), 1);
        AddMarker();
    });
}

TEST(HotfixWmi, RefusedQueryGivesThePageWithTheHeaderRowOnly) {
    ASSERT_EQ(wmiConnected, 1) << "needs the connection of the previous tests";
    WmiCalls queryRefused = SYSTEM_WMI_CALLS;
    queryRefused.execQuery = RefuseQuery;
    HotfixRowTable rows = {HotfixRow(HOTFIX_COLUMNS.size(), "stale")};
    EXPECT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows, queryRefused), 0);
    EXPECT_TRUE(rows.empty());

    WithPackage(L"query-refused.zrpk", [&] { EXPECT_EQ(AddHotfixList(queryRefused), 1); });
}

TEST(HotfixWmi, EnumerationFailingPartWayKeepsTheRowsReadBefore) {
    ASSERT_EQ(wmiConnected, 1) << "needs the connection of the previous tests";
    WmiCalls failingPartWay = SYSTEM_WMI_CALLS;
    failingPartWay.nextObject = FailAfterTwoObjects;
    StartFailingEnumeration();
    HotfixRowTable rows;
    EXPECT_EQ(QueryHotfixRows(HOTFIX_COLUMNS, rows, failingPartWay), 1);
    EXPECT_EQ(nextCalls, 3);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][4], "KB1234567");
    EXPECT_EQ(rows[1], rows[0]);

    StartFailingEnumeration();
    WithPackage(L"failed-part-way.zrpk", [&] { EXPECT_EQ(AddHotfixList(failingPartWay), 1); });
    StartFailingEnumeration();
}
