#pragma once

// Adds the export of HKEY_LOCAL_MACHINE\subkey in the Registry Editor format.
int AddRegistryExport(const wchar_t* subkey, const wchar_t* entryName, int use32bitView);
