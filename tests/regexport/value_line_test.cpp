// The line of one value in the Registry Editor's export format.
#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "registry_format.h"
#include "value_bytes.h"

namespace {

std::string Counting(size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

struct LineCase {
    const char* what;
    std::wstring name;
    DWORD type;
    std::string data;
    std::wstring expected;
};

TEST(ValueLine, FormatsEachTypeAsTheEditorReadsIt) {
    const std::wstring nulInside(L"\"a\0b\"", 5);
    const std::vector<LineCase> cases = {
        {"default value", L"", REG_SZ, Utf16(std::wstring(L"text", 5)), L"@=\"text\""},
        {"named string", L"Name", REG_SZ, Utf16(std::wstring(L"v", 2)), L"\"Name\"=\"v\""},
        {"empty string", L"e", REG_SZ, "", L"\"e\"=\"\""},
        {"string of one byte", L"e", REG_SZ, Bytes({0x41}), L"\"e\"=\"\""},
        {"string of two bytes", L"e", REG_SZ, Bytes({0x41, 0}), L"\"e\"=\"\""},
        {"string of three bytes", L"e", REG_SZ, Bytes({0x41, 0, 0x42}), L"\"e\"=\"\""},
        {"last unit dropped even when not a NUL", L"e", REG_SZ, Utf16(L"ab"), L"\"e\"=\"a\""},
        {"odd length rounds down", L"e", REG_SZ, Utf16(L"ab") + Bytes({0}), L"\"e\"=\"a\""},
        {"NUL units inside are kept", L"n", REG_SZ, Utf16(std::wstring(L"a\0b\0", 4)),
         L"\"n\"=" + nulInside},
        {"string data escaped", L"s", REG_SZ, Utf16(std::wstring(L"C:\\x \"q\"", 9)),
         L"\"s\"=\"C:\\\\x \\\"q\\\"\""},
        {"name escaped", L"a\\b\"c", REG_DWORD, Bytes({1, 0, 0, 0}), L"\"a\\\\b\\\"c\"=dword:00000001"},
        {"non-ASCII kept as it is", L"\u00e9", REG_SZ, Utf16(std::wstring(L"\u20ac", 2)),
         L"\"\u00e9\"=\"\u20ac\""},
        {"dword 1", L"d", REG_DWORD, Bytes({1, 0, 0, 0}), L"\"d\"=dword:00000001"},
        {"dword all bits", L"d", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff}), L"\"d\"=dword:ffffffff"},
        {"dword little-endian, lowercase", L"d", REG_DWORD, Bytes({0xcd, 0xab, 0x12, 0}),
         L"\"d\"=dword:0012abcd"},
        {"dword longer than four bytes", L"d", REG_DWORD, Bytes({2, 0, 0, 0, 9, 9}),
         L"\"d\"=dword:00000002"},
        {"dword of two bytes: only its own bytes", L"d", REG_DWORD, Bytes({0x34, 0x12}),
         L"\"d\"=hex(4):34,12"},
        {"dword of no bytes", L"d", REG_DWORD, "", L"\"d\"=hex(4):"},
        {"binary empty", L"b", REG_BINARY, "", L"\"b\"=hex:"},
        {"binary one byte", L"b", REG_BINARY, Bytes({0xab}), L"\"b\"=hex:ab"},
        {"binary three bytes", L"b", REG_BINARY, Bytes({0, 0x7f, 0xff}), L"\"b\"=hex:00,7f,ff"},
        {"none", L"x", REG_NONE, Bytes({0, 0}), L"\"x\"=hex(0):00,00"},
        {"none empty", L"x", REG_NONE, "", L"\"x\"=hex(0):"},
        {"expand string as raw bytes", L"x", REG_EXPAND_SZ, Utf16(std::wstring(L"%a%", 4)),
         L"\"x\"=hex(2):25,00,61,00,25,00,00,00"},
        {"big-endian dword", L"x", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1}),
         L"\"x\"=hex(5):00,00,00,01"},
        {"multi string", L"x", REG_MULTI_SZ, Utf16(std::wstring(L"a\0b\0\0", 5)),
         L"\"x\"=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {"qword", L"x", REG_QWORD, Bytes({5, 0, 0, 0, 0, 0, 0, 0x80}),
         L"\"x\"=hex(b):05,00,00,00,00,00,00,80"},
        {"other type, lowercase without leading zeros", L"x", 0x1234abcd, Bytes({1}),
         L"\"x\"=hex(1234abcd):01"},
        {"default value with other type", L"", REG_RESOURCE_LIST, Bytes({9}), L"@=hex(8):09"},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(Line(c.name, c.type, c.data), c.expected) << c.what;
}

size_t BytesOnLine(const std::wstring& text) {
    // Each byte is two digits and, except the very last, a comma.
    size_t digits = 0;
    for (wchar_t c : text)
        if (iswxdigit(c))
            ++digits;
    return digits / 2;
}

struct BreakCase {
    std::wstring name;
    DWORD type;
    size_t count;
    std::vector<size_t> bytesPerLine;
};

TEST(ValueLine, ByteDumpBreaksAfterACommaByTheColumnRule) {
    const std::wstring name66(66, L'n'), name67(67, L'n');
    const std::vector<BreakCase> cases = {
        // "@=hex:" starts at column 6: the first line takes 24 bytes.
        {L"", REG_BINARY, 24, {24}},
        {L"", REG_BINARY, 25, {24, 1}},
        {L"", REG_BINARY, 24 + 25, {24, 25}},
        {L"", REG_BINARY, 24 + 25 + 25 + 3, {24, 25, 25, 3}},
        {L"b", REG_BINARY, 64, {23, 25, 16}},
        {L"bbbb", REG_BINARY, 40, {22, 18}},
        // Escapes count: four backslashes take eight columns.
        {L"\\\\\\\\", REG_BINARY, 40, {21, 19}},
        {L"", REG_MULTI_SZ, 30, {23, 7}},
        {L"", 0x10000, 30, {22, 8}},
        // Starting at column 73 and 74: the break comes after two bytes and one.
        {name66, REG_BINARY, 30, {2, 25, 3}},
        {name67, REG_BINARY, 30, {1, 25, 4}},
        {name67, REG_BINARY, 1, {1}},
        {L"b", REG_BINARY, 300, {23, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 25, 2}},
    };
    for (const BreakCase& c : cases) {
        std::string data = Counting(c.count);
        std::wstring line = Line(c.name, c.type, data);
        std::vector<std::wstring> lines = SplitLines(line);
        ASSERT_EQ(lines.size(), c.bytesPerLine.size()) << c.count << " bytes: " << line.size();
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::wstring& text = lines[i];
            bool last = i + 1 == lines.size();
            size_t prefix = 0;
            if (i == 0) {
                prefix = text.find(L':') + 1;
            } else {
                EXPECT_EQ(text.substr(0, 2), L"  ");
                prefix = 2;
            }
            EXPECT_EQ(BytesOnLine(text.substr(prefix)), c.bytesPerLine[i]) << "line " << i;
            if (last) {
                EXPECT_NE(text.back(), L',');
                EXPECT_NE(text.back(), L'\\');
            } else {
                EXPECT_EQ(text.substr(text.size() - 2), L",\\");
                if (i > 0) {
                    EXPECT_EQ(text.size(), 78u) << "continuation lines hold 25 bytes";
                }
            }
        }
        // Nothing lost or reordered across the breaks.
        std::wstring digits;
        for (wchar_t ch : line.substr(line.find(L':') + 1))
            if (iswxdigit(ch))
                digits.push_back(ch);
        ASSERT_EQ(digits.size(), 2 * c.count);
        for (size_t b = 0; b < c.count; ++b) {
            wchar_t expect[3];
            swprintf(expect, 3, L"%02x", static_cast<unsigned>(b & 0xff));
            EXPECT_EQ(digits.substr(2 * b, 2), expect) << "byte " << b;
        }
    }
}

TEST(ValueLine, ByteDumpLiteral) {
    EXPECT_EQ(Line(L"", REG_BINARY, Counting(26)),
              L"@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
              L"  18,19");
}

TEST(ValueLine, ColumnsCountFromTheStartOfTheLineNotOfTheText) {
    std::string data = Counting(40);
    std::wstring text = L"[HKEY_LOCAL_MACHINE\\Some\\Long\\Key\\Name]\r\n\"first\"=dword:00000000\r\n";
    std::wstring before = text;
    AppendValueLine(text, L"b", 1, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()), data.size());
    EXPECT_EQ(text, before + Line(L"b", REG_BINARY, data));
}

struct EscapeCase {
    std::wstring text;
    std::wstring expected;
};

TEST(EscapeRegString, DoublesBackslashesThenEscapesQuotes) {
    const std::vector<EscapeCase> cases = {
        {L"", L""},
        {L"plain", L"plain"},
        {L"\\", L"\\\\"},
        {L"\\\\", L"\\\\\\\\"},
        {L"\"", L"\\\""},
        {L"\\\"", L"\\\\\\\""},
        {L"\"\"", L"\\\"\\\""},
        {L"a\\b\"c\\", L"a\\\\b\\\"c\\\\"},
        {std::wstring(L"\\\0\"", 3), std::wstring(L"\\\\\0\\\"", 5)},
    };
    for (const EscapeCase& c : cases) {
        std::wstring text = c.text;
        EscapeRegString(text);
        EXPECT_EQ(text, c.expected);
    }
}

}  // namespace
