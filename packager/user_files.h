#pragma once

// Adds every file below root as "files\" + its path below root.
bool AddDirectoryFiles(const wchar_t* root);
