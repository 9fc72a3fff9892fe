#include "registry.h"

#include <new>

#include "registry_format.h"
#include "shared_helpers.h"

namespace {

const DWORD exportNameUnits = 16384;
const DWORD exportDataBytes = 1048576;

// Shared by every level of the recursion and every export, so that no export
// allocates them; a level copies a subkey name before it descends.
wchar_t exportNameBuffer[exportNameUnits];
BYTE exportDataBuffer[exportDataBytes];

const wchar_t exportHeader[] = L"Windows Registry Editor Version 5.00\r\n\r\n";

// Closes a level's key when the level ends, also when the text cannot grow.
struct ScopedKey {
    HKEY handle = nullptr;
    ~ScopedKey() {
        if (handle != nullptr)
            RegCloseKey(handle);
    }
};

void ExportValues(std::wstring& output, HKEY key) {
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = exportNameUnits;
        DWORD dataLength = exportDataBytes;
        DWORD type = 0;
        LONG status = RegEnumValueW(key, index, exportNameBuffer, &nameLength, nullptr, &type,
                                    exportDataBuffer, &dataLength);
        // A value too large for the data buffer is left out alone; the key's
        // later values still follow.
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        AppendValueLine(output, exportNameBuffer, nameLength, type, exportDataBuffer, dataLength);
        output.append(L"\r\n");
    }
}

void ExportSubkeys(std::wstring& output, HKEY key, const std::wstring& fullName) {
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = exportNameUnits;
        if (RegEnumKeyExW(key, index, exportNameBuffer, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        std::wstring name(exportNameBuffer, nameLength);
        ExportKeyRecursive(output, key, name, fullName + L"\\" + name, 0);
    }
}

}  // namespace

REGSAM RegistryViewFlag(BOOL wow64, int use32bitView) {
    if (!wow64)
        return 0;
    return use32bitView ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

void ExportKeyRecursive(std::wstring& output, HKEY parent, const std::wstring& subkey,
                        const std::wstring& fullName, REGSAM viewFlag) {
    ScopedKey key;
    if (RegOpenKeyExW(parent, subkey.c_str(), 0, viewFlag | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                      &key.handle) != ERROR_SUCCESS)
        return;
    output.append(L"[");
    output.append(fullName);
    output.append(L"]\r\n");
    ExportValues(output, key.handle);
    output.append(L"\r\n");
    ExportSubkeys(output, key.handle, fullName);
}

std::wstring BuildRegistryExport(const wchar_t* subkey, REGSAM viewFlag) {
    std::wstring text = exportHeader;
    ExportKeyRecursive(text, HKEY_LOCAL_MACHINE, subkey,
                       std::wstring(L"HKEY_LOCAL_MACHINE\\") + subkey, viewFlag);
    return text;
}

void WriteExportFile(const wchar_t* path, const std::wstring& text) {
    // A new file only: whatever stands at the name already is not ours to write.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const BYTE byteOrderMark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    if (WriteFile(file, byteOrderMark, 2, &written, nullptr) && written == 2) {
        // wchar_t is a UTF-16 unit stored little-endian, so the text goes out as it is.
        WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
                  nullptr);
    }
    CloseHandle(file);
}

int AddRegistryExport(const wchar_t* subkey, const wchar_t* entryName, int use32bitView) {
    REGSAM viewFlag = RegistryViewFlag(QueryWow64Process(), use32bitView);
    return AddTemporaryEntryFile(entryName, [&](const wchar_t* path) {
        std::wstring text;
        try {
            text = BuildRegistryExport(subkey, viewFlag);
        } catch (const std::bad_alloc&) {
            // A tree too large to hold in memory: no file, so the add fails and
            // the package goes on without this entry.
            return;
        }
        WriteExportFile(path, text);
    });
}
