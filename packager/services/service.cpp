#include "service.h"

#include "service_format.h"
#include "shared_helpers.h"
#include "ziparchive.h"

namespace {

// The full masks are asked for on purpose: without administrator rights the
// entry then shows where access ended.
const DWORD MANAGER_ACCESS = GENERIC_READ | SC_MANAGER_ALL_ACCESS;
const DWORD SERVICE_ACCESS = SERVICE_ALL_ACCESS;
static_assert(MANAGER_ACCESS == 0x800F003F, "manager access mask");
static_assert(SERVICE_ACCESS == 0xF01FF, "service access mask");

ServiceProbe ProbeService(const char* serviceName) {
    ServiceProbe probe = {};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, MANAGER_ACCESS);
    if (manager == nullptr)
        return probe;
    probe.managerOpened = true;
    SC_HANDLE service = serviceName != nullptr ? OpenServiceA(manager, serviceName, SERVICE_ACCESS) : nullptr;
    if (service != nullptr) {
        probe.serviceOpened = true;
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) {
            probe.queried = true;
            probe.currentState = status.dwCurrentState;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return probe;
}

}  // namespace

std::string CollectServiceStatusText(const char* serviceName) {
    return FormatServiceStatusEntry(serviceName, ProbeService(serviceName));
}

int AddServiceStatus(const char* serviceName, const wchar_t* entryName) {
    return AddMemoryEntry(entryName, CollectServiceStatusText(serviceName));
}
