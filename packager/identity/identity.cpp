#include "identity.h"

#include "identity_format.h"
#include "shared_helpers.h"
#include "ziparchive.h"

#include <lm.h>

#include <cstdlib>
#include <cstring>

namespace {

// --- domain probe -------------------------------------------------------------

// Some platforms export the function only as a stub that raises instead of
// returning. The probe therefore runs on a thread of its own, which that one
// exception ends alone, and such a probe counts as not supported. Any other
// exception is a real fault and goes on as it would without the probe, rather
// than read as "not in a domain".
struct DomainProbe {
    DWORD code;
    bool returned;
};

// What Wine's stub of an export it does not implement raises.
const DWORD UNIMPLEMENTED_EXPORT_EXCEPTION = 0x80000100;

DWORD domainProbeThreadId = 0;
LPTOP_LEVEL_EXCEPTION_FILTER filterBeforeProbe = nullptr;

LONG WINAPI EndFailedProbeThread(EXCEPTION_POINTERS* exception) {
    if (GetCurrentThreadId() == domainProbeThreadId &&
        exception->ExceptionRecord->ExceptionCode == UNIMPLEMENTED_EXPORT_EXCEPTION)
        ExitThread(0);
    return filterBeforeProbe != nullptr ? filterBeforeProbe(exception) : EXCEPTION_CONTINUE_SEARCH;
}

typedef NET_API_STATUS(NET_API_FUNCTION* NetRenameMachineInDomainFn)(LPCWSTR, LPCWSTR, LPCWSTR,
                                                                     LPCWSTR, DWORD);

DWORD CallRenameProbe() {
    static const NetRenameMachineInDomainFn rename = reinterpret_cast<NetRenameMachineInDomainFn>(
        reinterpret_cast<void*>(SystemLibraryFunction(L"netapi32.dll", "NetRenameMachineInDomain")));
    // Without the function there is no domain to ask about.
    if (rename == nullptr)
        return ERROR_NOT_SUPPORTED;
    return rename(nullptr, nullptr, nullptr, nullptr, 0);
}

}  // namespace

DomainProbeCall domainProbeCall = CallRenameProbe;

namespace {

DWORD WINAPI DomainProbeThread(void* parameter) {
    DomainProbe* probe = static_cast<DomainProbe*>(parameter);
    probe->code = domainProbeCall();
    probe->returned = true;
    return 0;
}

// --- virtual-machine probes -----------------------------------------------------

const wchar_t* const PCI_KEY = L"SYSTEM\\CurrentControlSet\\Enum\\PCI";
const wchar_t* const SMBIOS_KEY = L"SYSTEM\\CurrentControlSet\\Services\\mssmbios\\Data";
const wchar_t* const xenDevices[] = {L"VEN_5853&DEV_0001", L"VEN_5853&DEV_0002", L"VEN_5853&DEV_C000"};
const wchar_t* const virtualBoxDevices[] = {L"VEN_80EE&DEV_BEEF", L"VEN_80EE&DEV_CAFE"};

// Manufacturer, its terminating NUL, and the start of the product name.
const char vmwareStrings[] = "VMware, Inc.\0VM";
const char microsoftStrings[] = "Microsoft Corporation\0Virtual Machine";
const char qemuStrings[] = "QEMU\0Standard PC";

bool AnyPciDeviceMatches(const wchar_t* const* patterns, size_t count) {
    HKEY pci = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PCI_KEY, 0, KEY_ENUMERATE_SUB_KEYS, &pci) != ERROR_SUCCESS)
        return false;
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        wchar_t name[64] = {};
        DWORD nameLength = 64;
        if (RegEnumKeyExW(pci, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        found = PciNameMatches(name, patterns, count);
    }
    RegCloseKey(pci);
    return found;
}

bool SmbiosDataContains(const char* pattern, size_t length) {
    HKEY data = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SMBIOS_KEY, 0, KEY_READ, &data) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(data, L"SMBiosData", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size < length) {
        RegCloseKey(data);
        return false;
    }
    unsigned char* bytes = static_cast<unsigned char*>(std::malloc(size));
    if (bytes == nullptr) {
        RegCloseKey(data);
        return false;
    }
    DWORD delivered = size;
    LONG read = RegQueryValueExW(data, L"SMBiosData", nullptr, &type, bytes, &delivered);
    RegCloseKey(data);
    bool found = read == ERROR_SUCCESS && type == REG_BINARY && delivered <= size &&
                 ContainsBytes(bytes, delivered, pattern, length);
    std::free(bytes);
    return found;
}

}  // namespace

DWORD ProbeDomainMembership() {
    DomainProbe probe = {ERROR_NOT_SUPPORTED, false};
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, DomainProbeThread, &probe, CREATE_SUSPENDED, &threadId);
    if (thread == nullptr)
        return domainProbeCall();
    domainProbeThreadId = threadId;
    filterBeforeProbe = SetUnhandledExceptionFilter(EndFailedProbeThread);
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    SetUnhandledExceptionFilter(filterBeforeProbe);
    domainProbeThreadId = 0;
    return probe.returned ? probe.code : ERROR_NOT_SUPPORTED;
}

std::string CollectComputerNameText() {
    DWORD probeCode = ProbeDomainMembership();
    std::vector<std::string> names = CollectNamesUntilFailure([](int kind, std::string* name) {
        char buffer[256] = {};
        DWORD size = sizeof(buffer);
        if (!GetComputerNameExA(static_cast<COMPUTER_NAME_FORMAT>(kind), buffer, &size))
            return false;
        name->assign(buffer, strnlen(buffer, sizeof(buffer)));
        return true;
    });
    return FormatComputerNameEntry(probeCode, names);
}

VmKind DetectVirtualMachine() {
    if (AnyPciDeviceMatches(xenDevices, sizeof(xenDevices) / sizeof(xenDevices[0])))
        return VM_XEN;
    if (AnyPciDeviceMatches(virtualBoxDevices, sizeof(virtualBoxDevices) / sizeof(virtualBoxDevices[0])))
        return VM_VIRTUALBOX;
    if (SmbiosDataContains(vmwareStrings, sizeof(vmwareStrings) - 1))
        return VM_VMWARE;
    if (SmbiosDataContains(microsoftStrings, sizeof(microsoftStrings) - 1))
        return VM_VIRTUALPC;
    if (SmbiosDataContains(qemuStrings, sizeof(qemuStrings) - 1))
        return VM_QEMU;
    return VM_NONE;
}

std::string CollectVmText() {
    return FormatVmEntry(DetectVirtualMachine());
}

int AddComputerNameInfo() {
    return AddMemoryEntry(L"info\\computername.txt", CollectComputerNameText());
}

int AddVmInfo() {
    return AddMemoryEntry(L"info\\vm.txt", CollectVmText());
}
