#pragma once

// Adds one entry with the state of the named service.
int AddServiceStatus(const char* serviceName, const wchar_t* entryName);
