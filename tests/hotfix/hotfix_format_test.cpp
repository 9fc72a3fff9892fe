// The hotfix page's layout and the two 8-bit conversions of its texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "bstr_text.h"
#include "hotfix_format.h"

namespace {

HotfixRow RowOf(const std::string& text) { return HotfixRow(HOTFIX_COLUMNS.size(), text); }

std::vector<std::string> Lines(const std::string& page) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = page.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(page.substr(start, end - start));
    lines.push_back(page.substr(start));
    return lines;
}

const char kHeader[] =
    "<html>\n"
    "<h3>Win32_QuickFixEngineering</h3>\n"
    "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" style=\"font:10pt Tahoma;\">\n"
    "<tr align=\"left\" style=\"background-color:#eded00;font-weight:bold;\">\n"
    "<td>Caption</td>\n"
    "<td>CSName</td>\n"
    "<td>Description</td>\n"
    "<td>FixComments</td>\n"
    "<td>HotFixID</td>\n"
    "<td>InstallDate</td>\n"
    "<td>InstalledBy</td>\n"
    "<td>InstalledOn</td>\n"
    "<td>Name</td>\n"
    "<td>ServicePackInEffect</td>\n"
    "<td>Status</td>\n"
    "</tr>\n";

}  // namespace

TEST(HotfixPage, WithoutRowsHoldsTheHeaderRowAndTheClosingLine) {
    EXPECT_EQ(BuildHotfixPage(HOTFIX_COLUMNS, {}), std::string(kHeader) + "</table></html>");
}

TEST(HotfixPage, OneRowIsLaidOutCellByCell) {
    HotfixRow row = {"http://x/?a=1&b=2", "HOST", "Update", "", "KB1", "",
                     "",                  "1/2/2020", "", "", "OK"};
    std::string expected = std::string(kHeader) +
                           "<tr style=\"background-color:#ffffff;\">\n"
                           "<td>http://x/?a=1&b=2</td>\n"
                           "<td>HOST</td>\n"
                           "<td>Update</td>\n"
                           "<td>.</td>\n"
                           "<td>KB1</td>\n"
                           "<td>.</td>\n"
                           "<td>.</td>\n"
                           "<td>1/2/2020</td>\n"
                           "<td>.</td>\n"
                           "<td>.</td>\n"
                           "<td>OK</td>\n"
                           "</tr>\n"
                           "</table></html>";
    EXPECT_EQ(BuildHotfixPage(HOTFIX_COLUMNS, {row}), expected);
}

TEST(HotfixPage, RowBackgroundsAlternateStartingWhite) {
    std::string page = BuildHotfixPage(HOTFIX_COLUMNS, {RowOf("a"), RowOf("b"), RowOf("c")});
    std::vector<std::string> rowStarts;
    for (const std::string& line : Lines(page))
        if (line.rfind("<tr style=", 0) == 0)
            rowStarts.push_back(line);
    EXPECT_EQ(rowStarts, (std::vector<std::string>{
                             "<tr style=\"background-color:#ffffff;\">",
                             "<tr style=\"background-color:#eeeeee;\">",
                             "<tr style=\"background-color:#ffffff;\">",
                         }));
}

TEST(HotfixPage, CellsAreWrittenUnescapedAndEmptyOnesAsDot) {
    struct Case {
        std::string cell;
        std::string written;
    } cases[] = {
        {"", "<td>.</td>"},                   // empty string, and unset in WMI
        {"<", "<td><</td>"},
        {"&", "<td>&</td>"},
        {"a<b>&\"c\"", "<td>a<b>&\"c\"</td>"},
        {"M\xFCnze \x80", "<td>M\xFCnze \x80</td>"},  // ANSI bytes pass through
        {".", "<td>.</td>"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = Lines(BuildHotfixPage(HOTFIX_COLUMNS, {RowOf(c.cell)}));
        // Header: 4 + 11 + 1 lines, then the row's start line, then its cells.
        ASSERT_GT(lines.size(), 17u);
        EXPECT_EQ(lines[17], c.written) << "cell \"" << c.cell << "\"";
    }
}

TEST(HotfixPage, ShortRowIsFilledWithDots) {
    std::vector<std::string> lines = Lines(BuildHotfixPage(HOTFIX_COLUMNS, {HotfixRow{"only"}}));
    ASSERT_EQ(lines.size(), 16u + 13u + 1u);
    EXPECT_EQ(lines[17], "<td>only</td>");
    for (size_t i = 18; i < 28; ++i)
        EXPECT_EQ(lines[i], "<td>.</td>") << "line " << i;
    EXPECT_EQ(lines[28], "</tr>");
}

TEST(HotfixPage, EndsWithoutLineFeedAndUsesBareLineFeeds) {
    for (size_t rowCount : {0u, 1u, 3u}) {
        HotfixRowTable rows(rowCount, RowOf("x"));
        std::string page = BuildHotfixPage(HOTFIX_COLUMNS, rows);
        const std::string closing = "</table></html>";
        ASSERT_GE(page.size(), closing.size());
        EXPECT_EQ(page.substr(page.size() - closing.size()), closing);
        EXPECT_EQ(page.find('\r'), std::string::npos);
        EXPECT_EQ(Lines(page).size(), 16u + 13u * rowCount + 1u) << rowCount << " rows";
    }
}

TEST(NarrowByTruncation, KeepsTheLowByteOfEveryCodeUnit) {
    struct Case {
        std::wstring text;
        std::string narrow;
    } cases[] = {
        {L"Caption", "Caption"},
        {L"", ""},
        {L"A\u00E9", "A\xE9"},
        {L"M\u00FCnze \u20AC", std::string("M\xFCnze \xAC")},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
        {L"\u0141", "\x41"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NarrowByTruncation(c.text), c.narrow);
}

TEST(WideToAnsi, ConvertsThroughTheAnsiCodePageUpToTheFirstNul) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "cases are for code page 1252, this is " << GetACP();
    struct Case {
        std::wstring text;
        std::string ansi;
    } cases[] = {
        {L"Caption", "Caption"},
        {L"", ""},
        {L"M\u00FCnze \u20AC", "M\xFCnze \x80"},
        {std::wstring(L"KB1\0tail", 8), "KB1"},
        {L"\u4E00", "?"},  // not in the code page: the system's default character
    };
    for (const Case& c : cases)
        EXPECT_EQ(WideToAnsi(c.text.c_str()), c.ansi);
    EXPECT_EQ(WideToAnsi(nullptr), "");
}

TEST(BstrText, HoldsACopyOfTheText) {
    BstrText text(L"ROOT\\CIMV2");
    ASSERT_TRUE(text.allocated());
    EXPECT_EQ(SysStringLen(text.get()), 10u);
    EXPECT_STREQ(text.get(), L"ROOT\\CIMV2");
}
