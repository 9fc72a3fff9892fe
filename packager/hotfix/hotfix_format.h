#pragma once
// The hotfix page as bytes: built from the column names and the rows the
// WMI query gave, without asking Windows anything.
#include <string>
#include <vector>

#include "shared_helpers.h"  // NarrowByTruncation

// One row per hotfix object; one 8-bit cell per column, empty when the
// property had no string value.
typedef std::vector<std::string> HotfixRow;
typedef std::vector<HotfixRow> HotfixRowTable;

// The eleven properties of a hotfix, in the order of the page's columns.
extern const std::vector<std::wstring> HOTFIX_COLUMNS;

// The whole page: LF after every line but the closing one. Cells are
// written as they stand, "." for an empty or missing cell.
std::string BuildHotfixPage(const std::vector<std::wstring>& columns,
                            const HotfixRowTable& rows);
