#pragma once

#include <cstddef>
#include <string>

// 1 once the package has been written and closed; read after the dialog ends.
extern int packageCreated;

// The worker thread: builds the package, then ends the dialog it is given.
void __cdecl PackageWorker(void* dialog);

// Appends suffix to the NUL-terminated text in buffer when the result fits
// in capacity characters with its terminator; otherwise leaves buffer as it
// was and returns false.
bool AppendIfFits(wchar_t* buffer, size_t capacity, const wchar_t* suffix);

// The data-source lister's command line for an installation directory, with
// the program path quoted; empty when the directory is longer than the
// lister step allows (237 characters) or is not an absolute path (a drive
// letter, colon and backslash, or a \\ path).
std::wstring ListerCommandLine(const wchar_t* installDir);

// The lister step: runs the lister of the stored installation directory and
// adds its output as "info\qevdslister.txt"; nothing without a usable directory.
void AddListerOutput();

// A tool of the system directory with its arguments, the path quoted; empty
// when the system directory cannot be found.
std::wstring SystemToolCommandLine(const wchar_t* program, const wchar_t* arguments);
