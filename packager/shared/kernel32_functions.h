// Kernel32 functions that not every supported Windows version has, looked up
// at run time. Header-only, so that addinwire, which links nothing of the
// packager, shares them too.
#pragma once
#include <windows.h>

// A kernel32 function that older Windows versions lack, or nullptr.
inline FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    return kernel32 != nullptr ? GetProcAddress(kernel32, name) : nullptr;
}

// For the rest of the run, DLLs that are loaded by name (by system libraries
// too) come from the system directory only, never from beside this elevated
// program or from the current directory. Where Windows cannot restrict the
// search that far, at least the current directory is dropped from it.
inline void RestrictDllSearchToSystemDirectory() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
    if (setDefaultDllDirectories == nullptr || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}
