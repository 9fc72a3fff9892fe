// Computer-name and virtual-machine gathering in the shared test prefixes, which are
// left as Wine made them.
#include "identity.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(ComputerNameGathering, ProbeCodeAndAllEightNames) {
    // Wine exports the rename function only as a stub that raises; the probe then
    // counts as not supported instead of ending the program.
    EXPECT_EQ(50u, ProbeDomainMembership());

    std::vector<std::string> lines = sysfacts::SplitLines(CollectComputerNameText());
    ASSERT_EQ(9u, lines.size());
    EXPECT_EQ("Is Domain:                     0 (Code: 0x32)", lines[0]);
    const char* computerName = std::getenv("COMPUTERNAME");
    ASSERT_NE(nullptr, computerName);
    EXPECT_EQ(std::string("NetBIOS:                       ") + computerName, lines[1]);
    EXPECT_EQ(std::string("Physical NetBIOS:              ") + computerName, lines[5]);
    const char* labels[] = {"DNS hostname:                  ", "DNS domain:                    ",
                            "DNS fully-qualified:           "};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0u, lines[2 + i].find(labels[i])) << lines[2 + i];
        EXPECT_EQ(lines[2 + i].substr(31), lines[6 + i].substr(31)) << "physical and plain forms agree";
    }
    EXPECT_EQ(0u, lines[8].find("Physical DNS fully-qualified:  "));
    std::string hostname = lines[2].substr(31);
    EXPECT_EQ(0u, lines[4].substr(31).find(hostname)) << "fully-qualified name begins with the host name";
}

TEST(VmGathering, WinePrefixShowsNoHypervisor) {
    EXPECT_EQ(VM_NONE, DetectVirtualMachine());
    EXPECT_EQ("VM: Unknown\r\n", CollectVmText());
}

}  // namespace
