#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

// Which hypervisor the registry shows.
enum VmKind : int32_t {
    VM_NONE = 0,
    VM_XEN = 2,
    VM_VMWARE = 3,
    VM_VIRTUALBOX = 4,
    VM_VIRTUALPC = 5,
    VM_QEMU = 6,
};

// Adds "info\computername.txt" and "info\vm.txt".
int AddComputerNameInfo();
int AddVmInfo();

// PCI devices first, then the SMBIOS strings; the first probe that matches decides.
VmKind DetectVirtualMachine();

// Status code of the domain-membership probe.
DWORD ProbeDomainMembership();

// The call the probe makes on its thread: the platform's rename function, unless
// a test puts its own in to see what the thread passes on.
typedef DWORD (*DomainProbeCall)();
extern DomainProbeCall domainProbeCall;

// The entries' texts as this machine gives them (what the two collectors add).
std::string CollectComputerNameText();
std::string CollectVmText();
