#include "listing_format.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <utility>
#include <vector>

namespace {

const wchar_t kNoDigest[] = L"00000000000000000000000000000000";

std::wstring TwoDigits(unsigned value) {
    wchar_t text[8];
    swprintf(text, 8, L"%02u", value);
    return text;
}

std::wstring PadRight(std::wstring text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), L' ');
    return text;
}

std::wstring PadLeft(const std::wstring& text, size_t width) {
    if (text.size() >= width)
        return text;
    return std::wstring(width - text.size(), L' ') + text;
}

}  // namespace

std::wstring WithoutTrailingBackslash(const std::wstring& directory) {
    if (!directory.empty() && directory.back() == L'\\')
        return directory.substr(0, directory.size() - 1);
    return directory;
}

std::wstring FullPath(const DirEntryRecord& record) {
    return record.parentDir + L"\\" + record.findData.cFileName;
}

bool PathPrecedes(const std::wstring& left, const std::wstring& right) {
    size_t common = std::min(left.size(), right.size());
    for (size_t i = 0; i < common; ++i) {
        uint16_t a = static_cast<uint16_t>(left[i]);
        uint16_t b = static_cast<uint16_t>(right[i]);
        if (a != b)
            return a < b;
    }
    return left.size() < right.size();
}

void SortByFullPath(std::list<DirEntryRecord>& records) {
    // Each full path is built once rather than twice per comparison; the stable
    // sort over the keys gives the same order as comparing fresh paths would.
    typedef std::pair<std::wstring, std::list<DirEntryRecord>::iterator> Keyed;
    std::vector<Keyed> keyed;
    keyed.reserve(records.size());
    for (auto it = records.begin(); it != records.end(); ++it)
        keyed.emplace_back(FullPath(*it), it);
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& left, const Keyed& right) {
        return PathPrecedes(left.first, right.first);
    });
    // Relinking the nodes keeps every record where it lives; nothing is copied.
    for (const Keyed& entry : keyed)
        records.splice(records.end(), records, entry.second);
}

std::wstring FormatAttributes(DWORD attributes) {
    struct Position {
        DWORD bit;
        wchar_t letter;
    };
    // Read-only shows an A as well; only its position tells it from the archive bit.
    const Position positions[] = {{FILE_ATTRIBUTE_DIRECTORY, L'D'},
                                  {FILE_ATTRIBUTE_READONLY, L'A'},
                                  {FILE_ATTRIBUTE_ARCHIVE, L'A'},
                                  {FILE_ATTRIBUTE_HIDDEN, L'H'},
                                  {FILE_ATTRIBUTE_SYSTEM, L'S'}};
    std::wstring column;
    for (const Position& position : positions)
        column += (attributes & position.bit) ? position.letter : L'-';
    return column;
}

std::wstring FormatSize(DWORD high, DWORD low) {
    unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    return PadLeft(std::to_wstring(size), 12);
}

std::wstring FormatCreationTime(const SYSTEMTIME* utc) {
    if (utc == nullptr)
        return L"0000-00-00 00:00";
    return std::to_wstring(utc->wYear) + L"-" + TwoDigits(utc->wMonth) + L"-" +
           TwoDigits(utc->wDay) + L" " + TwoDigits(utc->wHour) + L":" + TwoDigits(utc->wMinute);
}

std::wstring FormatFileVersion(const FileVersion& version) {
    std::wstring text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text += L'.';
        text += std::to_wstring(version.present ? version.parts[i] : 0);
    }
    return PadRight(text, 16);
}

std::wstring FormatListingFields(const ListingLineFacts& facts) {
    std::wstring digest = kNoDigest;
    if (!facts.digest.empty()) {
        digest.clear();
        for (char c : facts.digest)
            digest += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return FormatAttributes(facts.attributes) + L"\t" + FormatSize(facts.sizeHigh, facts.sizeLow) +
           L"\t" + FormatCreationTime(facts.creationKnown ? &facts.creationUtc : nullptr) + L"\t" +
           FormatFileVersion(facts.version) + L"\t" + digest + L"\t" + facts.path;
}
