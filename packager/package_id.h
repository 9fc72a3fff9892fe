#pragma once

// Add "info\zrpk.txt" and "info\windir.txt".
int AddPackageIdInfo();
int AddWindowsDirInfo();
