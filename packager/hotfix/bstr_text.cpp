#include "bstr_text.h"

#include <climits>
#include <cwchar>
#include <vector>

std::string WideToAnsi(const wchar_t* text) {
    if (text == nullptr)
        return std::string();
    size_t length = wcslen(text);
    if (length >= static_cast<size_t>(INT_MAX))
        return std::string();
    // The terminator is converted too, so the sizes below include it.
    int units = static_cast<int>(length) + 1;
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::vector<char> ansi(bytes);
    if (WideCharToMultiByte(CP_ACP, 0, text, units, ansi.data(), bytes, nullptr, nullptr) <= 0)
        return std::string();
    return std::string(ansi.data());
}
