#pragma once
#include <string>

// Adds one entry with the state of the named service.
int AddServiceStatus(const char* serviceName, const wchar_t* entryName);

// The entry's text as this machine gives it (what AddServiceStatus adds).
std::string CollectServiceStatusText(const char* serviceName);
