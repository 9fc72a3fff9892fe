#include "identity_format.h"

#include <cstring>
#include <cwchar>
#include <sstream>

namespace {

const char* const nameLabels[COMPUTER_NAME_KINDS] = {
    "NetBIOS:                       ", "DNS hostname:                  ",
    "DNS domain:                    ", "DNS fully-qualified:           ",
    "Physical NetBIOS:              ", "Physical DNS hostname:         ",
    "Physical DNS domain:           ", "Physical DNS fully-qualified:  ",
};

const size_t PCI_COMPARED_CHARACTERS = 17;

}  // namespace

bool IsDomainMemberCode(DWORD probeCode) {
    const DWORD notSupported = 50;     // ERROR_NOT_SUPPORTED
    const DWORD setupNotJoined = 2692; // NERR_SetupNotJoined
    const DWORD personalSku = 2698;    // NERR_PersonalSku
    return probeCode != notSupported && probeCode != setupNotJoined && probeCode != personalSku;
}

std::vector<std::string> CollectNamesUntilFailure(
    const std::function<bool(int kind, std::string* name)>& query) {
    std::vector<std::string> names;
    for (int kind = 0; kind < COMPUTER_NAME_KINDS; ++kind) {
        std::string name;
        if (!query(kind, &name))
            break;
        names.push_back(name);
    }
    return names;
}

std::string FormatComputerNameEntry(DWORD probeCode, const std::vector<std::string>& names) {
    std::ostringstream out;
    out << "Is Domain:                     " << (IsDomainMemberCode(probeCode) ? 1 : 0)
        << " (Code: 0x" << std::hex << std::uppercase << probeCode << std::dec << ")\r\n";
    for (size_t kind = 0; kind < names.size() && kind < COMPUTER_NAME_KINDS; ++kind)
        out << nameLabels[kind] << names[kind] << "\r\n";
    return out.str();
}

const char* VmLine(int32_t kind) {
    switch (kind) {
    case 2: return "VM: XEN";
    case 3: return "VM: VMWare";
    case 4: return "VM: VirtualBox";
    case 5: return "VM: VirtualPC";
    // QEMU, and no detected hypervisor: the detector cannot tell a bare machine from
    // one it does not know, so it claims nothing.
    default: return "VM: Unknown";
    }
}

std::string FormatVmEntry(int32_t kind) {
    return std::string(VmLine(kind)) + "\r\n";
}

bool PciNameMatches(const wchar_t* subkeyName, const wchar_t* const* patterns, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (wcsncmp(subkeyName, patterns[i], PCI_COMPARED_CHARACTERS) == 0)
            return true;
    return false;
}

bool ContainsBytes(const unsigned char* data, size_t size, const char* pattern, size_t length) {
    if (length == 0 || size < length)
        return false;
    for (size_t offset = 0; offset <= size - length; ++offset)
        if (std::memcmp(data + offset, pattern, length) == 0)
            return true;
    return false;
}
