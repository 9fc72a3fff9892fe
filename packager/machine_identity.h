#pragma once

// Adds "info\computername.txt" and "info\vm.txt".
int AddComputerNameInfo();
int AddVmInfo();
