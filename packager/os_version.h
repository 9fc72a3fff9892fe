#pragma once

// Adds "info\osversion.txt": the Windows name, edition, version numbers and WOW64 state.
int AddOsVersionInfo();
