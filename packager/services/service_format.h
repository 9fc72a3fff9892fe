// The pure half of the service-status entries.
#pragma once
#include <windows.h>
#include <string>

// How far the walk to the service's state got.
struct ServiceProbe {
    bool managerOpened;
    bool serviceOpened;
    bool queried;
    DWORD currentState;  // dwCurrentState when queried
};

// State text, line end included.
const char* ServiceStateText(DWORD currentState);

std::string FormatServiceStatusEntry(const char* serviceName, const ServiceProbe& probe);
