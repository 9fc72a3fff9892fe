// addinwire: registers the product's Remote Desktop client add-in for the
// current user. Silent unless something fails; always exits with 0.
#include <windows.h>
#include <cwchar>

#include "kernel32_functions.h"

namespace {

const wchar_t CAPTION[] = L"Morquaine QEV Scan Setup";
const wchar_t MESSAGE_NO_INSTALL_DIR[] = L"Error retrieving QEV Scan installation directory!";
const wchar_t MESSAGE_WRITE_FAILED[] =
    L"Error updating QEV Scan Remote Desktop Client Add-on configuration!";
const wchar_t PRODUCT_KEY[] = L"SOFTWARE\\Morquaine\\QEV-SCAN";
const wchar_t ADDIN_KEY_32[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\QEVSCAN";
const wchar_t ADDIN_KEY_64[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\QEVSCAN64";
const wchar_t DLL_32[] = L"qevRdpAddin.dll";
const wchar_t DLL_64[] = L"qevRdpAddin64.dll";

const DWORD INSTALL_DIR_BYTES = 2048;
const size_t PATH_CHARS = 1024;

void ShowMessage(const wchar_t* text) {
    MessageBoxW(nullptr, text, CAPTION, MB_OK);
}

// Reads "installDir" as stored. The result is always terminated inside the
// buffer: a value that fills it without a terminator cannot be used.
bool ReadInstallDirectory(wchar_t (&directory)[INSTALL_DIR_BYTES / sizeof(wchar_t)]) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, PRODUCT_KEY, 0, nullptr, 0, KEY_READ, nullptr,
                            &key, nullptr) != ERROR_SUCCESS || key == nullptr)
            return false;
    }
    DWORD type = 0;
    DWORD size = INSTALL_DIR_BYTES;
    LONG status = RegQueryValueExW(key, L"installDir", nullptr, &type,
                                   reinterpret_cast<BYTE*>(directory), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    const size_t units = size / sizeof(wchar_t);
    const size_t capacity = INSTALL_DIR_BYTES / sizeof(wchar_t);
    if (wmemchr(directory, L'\0', units) != nullptr)
        return true;
    if (units >= capacity)
        return false;  // no room left for the missing terminator
    directory[units] = L'\0';
    return true;
}

// directory + file name; false when the joined path would not fit.
bool JoinPath(wchar_t (&path)[PATH_CHARS], const wchar_t* directory, const wchar_t* fileName) {
    const size_t directoryLength = wcslen(directory);
    const size_t fileLength = wcslen(fileName);
    if (directoryLength + fileLength + 1 > PATH_CHARS)
        return false;
    wmemcpy(path, directory, directoryLength);
    wmemcpy(path + directoryLength, fileName, fileLength + 1);
    return true;
}

}  // namespace

int WriteAddinName(const wchar_t* keyPath, const wchar_t* dllPath) {
    if (dllPath == nullptr)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS || key == nullptr)
            return 0;
    }
    const DWORD bytes = static_cast<DWORD>((wcslen(dllPath) + 1) * sizeof(wchar_t));
    LONG status = RegSetValueExW(key, L"Name", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(dllPath), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 1 : 0;
}

namespace {

void RegisterAddin(const wchar_t* keyPath, const wchar_t* directory, const wchar_t* dllName) {
    wchar_t path[PATH_CHARS] = {};
    if (!JoinPath(path, directory, dllName) || WriteAddinName(keyPath, path) == 0)
        ShowMessage(MESSAGE_WRITE_FAILED);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystemDirectory();
    wchar_t directory[INSTALL_DIR_BYTES / sizeof(wchar_t)] = {};
    if (!ReadInstallDirectory(directory)) {
        ShowMessage(MESSAGE_NO_INSTALL_DIR);
        return 0;
    }
    RegisterAddin(ADDIN_KEY_32, directory, DLL_32);

    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(Kernel32Function("IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process != nullptr && !isWow64Process(GetCurrentProcess(), &wow64))
        return 0;
    if (!wow64)
        return 0;
    RegisterAddin(ADDIN_KEY_64, directory, DLL_64);
    return 0;
}
