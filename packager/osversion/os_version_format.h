// The pure half of the OS version entry: names and layout from gathered values.
#pragma once
#include <windows.h>
#include <string>

const size_t OS_DISPLAY_UNITS = 512;

// What the display name is made of, as asked of Windows.
struct OsNameFacts {
    OSVERSIONINFOEXW version;
    WORD architecture;      // wProcessorArchitecture of the native system information
    int serverR2;           // GetSystemMetrics(SM_SERVERR2)
    bool productInfoFound;  // GetProductInfo exists
    DWORD productType;      // edition number it gave, 0 when it set none
};

// Whether the version's name is followed by an edition name (6.0 to 6.2).
bool NeedsEditionName(const OSVERSIONINFOEXW& version);

// Edition name of a product type, "Unknown product" for numbers without one.
const wchar_t* EditionName(DWORD productType);

// Appends text to a display buffer, cut to what fits; the buffer stays terminated.
void AppendToDisplay(wchar_t* buffer, const wchar_t* text);

// Appends the edition name when GetProductInfo was found, else nothing.
void AppendEditionText(wchar_t* buffer, bool productInfoFound, DWORD productType);

// Builds the display string into buffer; 0 when the version gets no name at all.
int ComposeOsDisplayString(const OsNameFacts& facts, wchar_t* buffer);

// Names of the set suite bits, lowest first, each followed by a blank.
std::string SuiteMaskNames(WORD suiteMask);

const char* ProductTypeName(BYTE productType);

// The whole entry; display is null when no display string was made.
std::string FormatOsVersionEntry(const OSVERSIONINFOEXW& version, const wchar_t* display,
                                 BOOL is64BitOS, BOOL isWow64Process);
