#include "service_format.h"

#include <sstream>

const char* ServiceStateText(DWORD currentState) {
    switch (currentState) {
    case SERVICE_STOPPED: return "Stopped\r\n";
    case SERVICE_START_PENDING: return "StartPending\r\n";
    case SERVICE_STOP_PENDING: return "StopPending\r\n";
    case SERVICE_RUNNING: return "Running\r\n";
    case SERVICE_CONTINUE_PENDING: return "ContinuePending\r\n";
    case SERVICE_PAUSE_PENDING: return "PausePending\r\n";
    case SERVICE_PAUSED: return "Paused\r\n";
    default: return "Unknown\r\n";
    }
}

std::string FormatServiceStatusEntry(const char* serviceName, const ServiceProbe& probe) {
    std::ostringstream out;
    out << "SVC Name:    " << (serviceName != nullptr ? serviceName : "") << "\r\n";
    out << "Open SCM:    ";
    if (!probe.managerOpened) {
        out << "Error\r\n";
        return out.str();
    }
    out << "Success\r\n" << "Open SVC:    ";
    if (!probe.serviceOpened) {
        out << "Error\r\n";
        return out.str();
    }
    out << "Success\r\n" << "Query SVC:   "
        << (probe.queried ? ServiceStateText(probe.currentState) : "Error\r\n");
    return out.str();
}
