#include "os_version.h"

#include "os_version_format.h"
#include "shared_helpers.h"
#include "ziparchive.h"

namespace {

// GetNativeSystemInfo and GetProductInfo are missing on the oldest systems we
// still name, so they are looked up each time rather than linked.
typedef void(WINAPI* GetNativeSystemInfoFn)(LPSYSTEM_INFO);
typedef BOOL(WINAPI* GetProductInfoFn)(DWORD, DWORD, DWORD, DWORD, PDWORD);

WORD NativeArchitecture() {
    SYSTEM_INFO info = {};
    GetNativeSystemInfoFn native =
        reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void*>(Kernel32Function("GetNativeSystemInfo")));
    if (native != nullptr)
        native(&info);
    else
        GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

// False when GetProductInfo does not exist; a type the call leaves unset is 0.
bool QueryProductType(DWORD minorVersion, DWORD* productType) {
    *productType = 0;
    GetProductInfoFn productInfo =
        reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void*>(Kernel32Function("GetProductInfo")));
    if (productInfo == nullptr)
        return false;
    productInfo(6, minorVersion, 0, 0, productType);
    return true;
}

OSVERSIONINFOEXW EmptyVersionRecord() {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return version;
}

}  // namespace

void AppendEditionName(wchar_t* buffer, DWORD minorVersion) {
    DWORD productType = 0;
    bool found = QueryProductType(minorVersion, &productType);
    AppendEditionText(buffer, found, productType);
}

int GetOsDisplayString(wchar_t* buffer) {
    OsNameFacts facts = {};
    facts.version = EmptyVersionRecord();
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&facts.version)))
        return 0;
    facts.architecture = NativeArchitecture();
    facts.serverR2 = GetSystemMetrics(SM_SERVERR2);
    if (NeedsEditionName(facts.version))
        facts.productInfoFound = QueryProductType(facts.version.dwMinorVersion, &facts.productType);
    return ComposeOsDisplayString(facts, buffer);
}

std::string CollectOsVersionText() {
    // A failed call leaves the zeroed record, which is written out as it is.
    OSVERSIONINFOEXW version = EmptyVersionRecord();
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    wchar_t display[OS_DISPLAY_UNITS] = {};
    bool named = GetOsDisplayString(display) == 1;
    BOOL is64BitOS = QueryWow64Process();
    BOOL isWow64Process = QueryWow64Process();
    return FormatOsVersionEntry(version, named ? display : nullptr, is64BitOS, isWow64Process);
}

int AddOsVersionInfo() {
    return AddMemoryEntry(L"info\\osversion.txt", CollectOsVersionText());
}
