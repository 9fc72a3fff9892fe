// The virtual-machine detector against registry fixtures in a private prefix: PCI
// device keys and raw SMBIOS tables of each hypervisor, written where Windows keeps them.
#include "identity.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const wchar_t* const PCI_KEY = L"SYSTEM\\CurrentControlSet\\Enum\\PCI";
const wchar_t* const SERVICE_KEY = L"SYSTEM\\CurrentControlSet\\Services\\mssmbios";
const wchar_t* const DATA_KEY = L"SYSTEM\\CurrentControlSet\\Services\\mssmbios\\Data";

std::string Bytes(const char* text, size_t length) { return std::string(text, length); }

// A type 1 structure as firmware lays it out: header, then its strings one after the other.
std::string SystemStructure(const std::string& manufacturer, const std::string& product) {
    std::string table("\x00\x00\x00\x00\x01\x1b\x01\x00\x01\x02\x03\x04", 12);
    table += manufacturer + '\0' + product + '\0' + "1.0" + '\0' + '\0';
    return table + std::string("\x7f\x04\xff\xff\x00\x00", 6);
}

class VmFixtures : public ::testing::Test {
protected:
    void SetUp() override {
        serviceKeyExisted = testsupport::RegKeyExists(HKEY_LOCAL_MACHINE, SERVICE_KEY);
        Clear();
        ASSERT_EQ(VM_NONE, DetectVirtualMachine()) << "the prefix itself shows a hypervisor";
    }
    void TearDown() override {
        Clear();
        if (!serviceKeyExisted)
            testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, SERVICE_KEY);
    }

    void AddPciDevice(const std::wstring& name) {
        ASSERT_TRUE(testsupport::RegSetString(HKEY_LOCAL_MACHINE, std::wstring(PCI_KEY) + L"\\" + name + L"\\3&267a616a&0&10",
                                              L"DeviceDesc", L"fixture device"));
        addedDevices.push_back(name);
    }
    void SetSmbios(const std::string& data, DWORD type = REG_BINARY) {
        ASSERT_TRUE(testsupport::RegSetRaw(HKEY_LOCAL_MACHINE, DATA_KEY, L"SMBiosData", type, data.data(),
                                           static_cast<DWORD>(data.size())));
    }
    void Clear() {
        for (const std::wstring& name : addedDevices)
            testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, std::wstring(PCI_KEY) + L"\\" + name);
        addedDevices.clear();
        testsupport::RegRemoveTree(HKEY_LOCAL_MACHINE, DATA_KEY);
    }

    bool serviceKeyExisted = false;
    std::vector<std::wstring> addedDevices;
};

const std::string vmware = Bytes("VMware, Inc.\0VMware Virtual Platform", 36);
const std::string microsoft = Bytes("Microsoft Corporation\0Virtual Machine", 37);
const std::string qemu = Bytes("QEMU\0Standard PC (i440FX + PIIX, 1996)", 38);

TEST_F(VmFixtures, EachHypervisorsPciDevice) {
    struct Row { const wchar_t* device; VmKind kind; };
    const Row rows[] = {
        {L"VEN_5853&DEV_0001&SUBSYS_00015853&REV_01", VM_XEN},
        {L"VEN_5853&DEV_0002&SUBSYS_00025853&REV_02", VM_XEN},
        {L"VEN_5853&DEV_C000&SUBSYS_C0005853&REV_01", VM_XEN},
        {L"VEN_80EE&DEV_BEEF&SUBSYS_00000000&REV_00", VM_VIRTUALBOX},
        {L"VEN_80EE&DEV_CAFE&SUBSYS_00000000&REV_00", VM_VIRTUALBOX},
        {L"VEN_80EE&DEV_CAFE", VM_VIRTUALBOX},
        // Compared case-sensitively, and on whole device numbers.
        {L"ven_80ee&dev_cafe&subsys_00000000&rev_00", VM_NONE},
        {L"VEN_5853&DEV_0003&SUBSYS_00035853&REV_01", VM_NONE},
        {L"VEN_80EE&DEV_CAF", VM_NONE},
    };
    for (const Row& row : rows) {
        AddPciDevice(row.device);
        EXPECT_EQ(row.kind, DetectVirtualMachine()) << testsupport::Narrow(row.device);
        Clear();
    }
}

TEST_F(VmFixtures, EachHypervisorsSmbiosStrings) {
    struct Row { const char* what; std::string data; VmKind kind; const char* line; };
    const Row rows[] = {
        {"VMware", SystemStructure("VMware, Inc.", "VMware7,1"), VM_VMWARE, "VM: VMWare\r\n"},
        {"Microsoft", SystemStructure("Microsoft Corporation", "Virtual Machine"), VM_VIRTUALPC,
         "VM: VirtualPC\r\n"},
        {"QEMU", SystemStructure("QEMU", "Standard PC (Q35 + ICH9, 2009)"), VM_QEMU, "VM: Unknown\r\n"},
        {"VMware pattern ends at the last byte", Bytes("\x01\x02junk", 6) + Bytes("VMware, Inc.\0VM", 15),
         VM_VMWARE, "VM: VMWare\r\n"},
        {"Microsoft pattern ends at the last byte", Bytes("\x00", 1) + microsoft, VM_VIRTUALPC,
         "VM: VirtualPC\r\n"},
        {"exactly the 15 VMware bytes", Bytes("VMware, Inc.\0VM", 15), VM_VMWARE, "VM: VMWare\r\n"},
        {"14 bytes skip the VMware probe", Bytes("VMware, Inc.\0V", 14), VM_NONE, "VM: Unknown\r\n"},
        {"36 bytes skip the Microsoft probe", microsoft.substr(0, 36), VM_NONE, "VM: Unknown\r\n"},
        {"VMware, other product", SystemStructure("VMware, Inc.", "ESXi host"), VM_NONE, "VM: Unknown\r\n"},
        {"a bare machine", SystemStructure("Contoso Ltd.", "Desktop 9000"), VM_NONE, "VM: Unknown\r\n"},
        {"first SMBIOS probe wins: VMware before QEMU", qemu + vmware, VM_VMWARE, "VM: VMWare\r\n"},
        {"Microsoft before QEMU", qemu + microsoft, VM_VIRTUALPC, "VM: VirtualPC\r\n"},
    };
    for (const Row& row : rows) {
        SetSmbios(row.data);
        EXPECT_EQ(row.kind, DetectVirtualMachine()) << row.what;
        EXPECT_EQ(row.line, CollectVmText()) << row.what;
        Clear();
    }
}

TEST_F(VmFixtures, SmbiosDataOfAnotherTypeIsIgnored) {
    for (DWORD type : {static_cast<DWORD>(REG_SZ), static_cast<DWORD>(REG_MULTI_SZ), static_cast<DWORD>(REG_NONE)}) {
        SetSmbios(vmware + microsoft + qemu, type);
        EXPECT_EQ(VM_NONE, DetectVirtualMachine()) << type;
        Clear();
    }
    // The value must be named SMBiosData.
    ASSERT_TRUE(testsupport::RegSetRaw(HKEY_LOCAL_MACHINE, DATA_KEY, L"SMBiosTable", REG_BINARY, vmware.data(),
                                       static_cast<DWORD>(vmware.size())));
    EXPECT_EQ(VM_NONE, DetectVirtualMachine());
}

TEST_F(VmFixtures, PciProbesComeFirst) {
    SetSmbios(vmware);
    EXPECT_EQ(VM_VMWARE, DetectVirtualMachine());
    AddPciDevice(L"VEN_80EE&DEV_BEEF&SUBSYS_00000000&REV_00");
    EXPECT_EQ(VM_VIRTUALBOX, DetectVirtualMachine());
    EXPECT_EQ("VM: VirtualBox\r\n", CollectVmText());
    AddPciDevice(L"VEN_5853&DEV_0001&SUBSYS_00015853&REV_01");
    EXPECT_EQ(VM_XEN, DetectVirtualMachine());
    EXPECT_EQ("VM: XEN\r\n", CollectVmText());
}

}  // namespace
