#include "hotfix_format.h"

#include <sstream>

const std::vector<std::wstring> HOTFIX_COLUMNS = {
    L"Caption",     L"CSName",      L"Description", L"FixComments",
    L"HotFixID",    L"InstallDate", L"InstalledBy", L"InstalledOn",
    L"Name",        L"ServicePackInEffect",         L"Status",
};

namespace {

void WriteCell(std::ostringstream& page, const std::string& text) {
    page << "<td>" << (text.empty() ? std::string(".") : text) << "</td>\n";
}

}  // namespace

std::string BuildHotfixPage(const std::vector<std::wstring>& columns,
                            const HotfixRowTable& rows) {
    std::ostringstream page;
    page << "<html>\n"
            "<h3>Win32_QuickFixEngineering</h3>\n"
            "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" style=\"font:10pt Tahoma;\">\n"
            "<tr align=\"left\" style=\"background-color:#eded00;font-weight:bold;\">\n";
    for (const std::wstring& column : columns)
        page << "<td>" << NarrowByTruncation(column) << "</td>\n";
    page << "</tr>\n";
    for (size_t number = 0; number < rows.size(); ++number) {
        const HotfixRow& row = rows[number];
        page << (number % 2 == 0 ? "<tr style=\"background-color:#ffffff;\">\n"
                                 : "<tr style=\"background-color:#eeeeee;\">\n");
        // One cell per column even if a row came short: the table stays square.
        for (size_t cell = 0; cell < columns.size(); ++cell)
            WriteCell(page, cell < row.size() ? row[cell] : std::string());
        page << "</tr>\n";
    }
    page << "</table></html>";
    return page.str();
}
