#include "registry_format.h"

namespace {

const wchar_t hexDigits[] = L"0123456789abcdef";

// Past this column a byte dump continues on the next line.
const size_t lastDumpColumn = 73;

void AppendHexByte(std::wstring& text, BYTE value) {
    text.push_back(hexDigits[value >> 4]);
    text.push_back(hexDigits[value & 0x0F]);
}

void AppendHexNumber(std::wstring& text, DWORD value, int minimumDigits) {
    wchar_t digits[8];
    int count = 0;
    do {
        digits[count++] = hexDigits[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    while (count < minimumDigits)
        digits[count++] = L'0';
    while (count > 0)
        text.push_back(digits[--count]);
}

// Bytes as "xx,xx,...": after a comma the line is continued ("\", CR LF, two
// spaces) once the column passes the limit, so a break never follows the last byte.
void AppendByteDump(std::wstring& text, size_t lineStart, const BYTE* data, size_t dataLength) {
    size_t column = text.size() - lineStart;
    for (size_t i = 1; i <= dataLength; ++i) {
        AppendHexByte(text, data[i - 1]);
        if (i < dataLength) {
            text.push_back(L',');
            if (column > lastDumpColumn) {
                text.append(L"\\\r\n  ");
                column = 0;
            }
        }
        column += 3;
    }
}

// The stored string without its last unit, normally the terminating NUL;
// NUL units inside stay as they are.
void AppendStringData(std::wstring& text, const BYTE* data, size_t dataLength) {
    text.push_back(L'"');
    size_t units = dataLength / 2;
    for (size_t i = 0; i + 1 < units; ++i) {
        wchar_t unit = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
        AppendEscaped(text, &unit, 1);
    }
    text.push_back(L'"');
}

DWORD LittleEndian32(const BYTE* data) {
    return static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
           (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
}

}  // namespace

void AppendEscaped(std::wstring& text, const wchar_t* source, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (source[i] == L'\\' || source[i] == L'"')
            text.push_back(L'\\');
        text.push_back(source[i]);
    }
}

void EscapeRegString(std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    AppendEscaped(escaped, text.data(), text.size());
    text.swap(escaped);
}

void AppendValueLine(std::wstring& text, const wchar_t* name, size_t nameLength, DWORD type,
                     const BYTE* data, size_t dataLength) {
    size_t lineStart = text.size();
    if (nameLength == 0) {
        text.push_back(L'@');
    } else {
        text.push_back(L'"');
        AppendEscaped(text, name, nameLength);
        text.push_back(L'"');
    }
    text.push_back(L'=');

    if (type == REG_SZ) {
        AppendStringData(text, data, dataLength);
    } else if (type == REG_DWORD && dataLength >= 4) {
        text.append(L"dword:");
        AppendHexNumber(text, LittleEndian32(data), 8);
    } else if (type == REG_BINARY) {
        text.append(L"hex:");
        AppendByteDump(text, lineStart, data, dataLength);
    } else {
        // Also a REG_DWORD shorter than four bytes: only its own bytes, as
        // hex(4):, which imports back as the same short value.
        text.append(L"hex(");
        AppendHexNumber(text, type, 1);
        text.append(L"):");
        AppendByteDump(text, lineStart, data, dataLength);
    }
}
