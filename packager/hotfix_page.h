#pragma once

// Adds "info\hotfixes.html" from the WMI hotfix list (COM initialised by the caller).
int AddHotfixList();
