#pragma once
#include <windows.h>
#include <string>

// Adds the export of HKEY_LOCAL_MACHINE\subkey in the Registry Editor format.
// use32bitView asks for the 32-bit view when the program runs under WOW64.
// Returns 1 when the entry was added.
int AddRegistryExport(const wchar_t* subkey, const wchar_t* entryName, int use32bitView);

// View flag for the top key: none without WOW64, else the 32-bit or 64-bit view.
REGSAM RegistryViewFlag(BOOL wow64, int use32bitView);

// Header and sections of HKEY_LOCAL_MACHINE\subkey, opened with viewFlag;
// only the header when the key cannot be opened.
std::wstring BuildRegistryExport(const wchar_t* subkey, REGSAM viewFlag);

// Appends the section of parent\subkey and, depth first in enumeration order,
// those of all its subkeys; nothing when the key cannot be opened. Only this key
// is opened with viewFlag; its subkeys follow the view of their parent handle.
void ExportKeyRecursive(std::wstring& output, HKEY parent, const std::wstring& subkey,
                        const std::wstring& fullName, REGSAM viewFlag);

// Writes the byte-order mark and then the text as UTF-16LE into a new file.
void WriteExportFile(const wchar_t* path, const std::wstring& text);
