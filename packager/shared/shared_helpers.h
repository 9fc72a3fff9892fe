#pragma once
#include <windows.h>
#include <functional>
#include <string>

#include "kernel32_functions.h"

// WOW64 flag of this process: 1 when the 32-bit program runs on 64-bit Windows.
// The IsWow64Process address is cached once found; worker thread only.
BOOL QueryWow64Process();

// A function of a DLL that Windows does not always load from the system
// directory itself, taken from the DLL in the system directory: this program
// runs elevated, often from a downloads folder, and must not pick up a DLL of
// that name lying beside it. nullptr when the DLL or the function is missing;
// the DLL stays loaded for the rest of the run.
FARPROC SystemLibraryFunction(const wchar_t* dllName, const char* functionName);

// Gives writeFile a new "zrpk_" file name in this run's private temporary folder
// (the writer creates the file, CREATE_NEW), adds the file it wrote as entryName
// and deletes it again whatever the add gave. Returns 1 when the add succeeded;
// 0 when there is no private folder or the add failed.
int AddTemporaryEntryFile(const wchar_t* entryName,
                          const std::function<void(const wchar_t* path)>& writeFile);

// The same, for writers that can fail: when writeFile returns false nothing is
// added (the name is still cleaned up) and the result is 0.
int AddTemporaryEntryFileIfWritten(const wchar_t* entryName,
                                   const std::function<bool(const wchar_t* path)>& writeFile);

// Every UTF-16 code unit becomes one byte, its low 8 bits; no code page.
std::string NarrowByTruncation(const std::wstring& text);

// Adds bytes from memory as entryName to the package; 1 when the add succeeded.
// An empty text is refused by the writer, so it adds no entry.
int AddMemoryEntry(const wchar_t* entryName, const std::string& bytes);
