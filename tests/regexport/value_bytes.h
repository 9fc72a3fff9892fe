// Small builders of registry value data shared by the export tests.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "registry_format.h"

inline std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

// The units of text as UTF-16LE bytes; a terminator only when text holds one.
inline std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// One value's line on its own.
inline std::wstring Line(const std::wstring& name, DWORD type, const std::string& data) {
    std::wstring line;
    AppendValueLine(line, name.data(), name.size(), type, reinterpret_cast<const BYTE*>(data.data()),
                    data.size());
    return line;
}

// Lines of text split at CR LF, without the line ends.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}
