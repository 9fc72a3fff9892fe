// The pure half of the computer-name and virtual-machine entries.
#pragma once
#include <windows.h>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

const int COMPUTER_NAME_KINDS = 8;

// Probe codes that say the machine is in no domain; every other code says it is.
bool IsDomainMemberCode(DWORD probeCode);

// Asks query for name kinds 0, 1, ... and keeps the names up to the first kind it
// cannot give.
std::vector<std::string> CollectNamesUntilFailure(
    const std::function<bool(int kind, std::string* name)>& query);

// names holds the names of kinds 0 .. names.size()-1 (at most eight are written).
std::string FormatComputerNameEntry(DWORD probeCode, const std::vector<std::string>& names);

// The line for a detector result, without its line end.
const char* VmLine(int32_t kind);
std::string FormatVmEntry(int32_t kind);

// Whether the first 17 characters of a PCI subkey name equal one of the patterns.
bool PciNameMatches(const wchar_t* subkeyName, const wchar_t* const* patterns, size_t count);

// Whether pattern occurs anywhere in data.
bool ContainsBytes(const unsigned char* data, size_t size, const char* pattern, size_t length);
