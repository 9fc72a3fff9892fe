// Text of a registry export in the Registry Editor's format: the pure part,
// which turns one value into its line.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

// Doubles every backslash, then puts a backslash before every double quote.
void EscapeRegString(std::wstring& text);

// Appends the escaped form of length units of source to text.
void AppendEscaped(std::wstring& text, const wchar_t* source, size_t length);

// Appends the line of one value (without its line end) to text: the name part
// ("@" for the default value), "=" and the data part for the type. The line's
// column count starts where text ended, so text may hold earlier lines.
void AppendValueLine(std::wstring& text, const wchar_t* name, size_t nameLength, DWORD type,
                     const BYTE* data, size_t dataLength);
