// Service-status gathering in the shared test prefixes, which are left as Wine made them.
#include "service.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ServiceStatusGathering, ServicesThatAreNotInstalled) {
    for (const char* name : {"zrpk_no_such_service", "wendroxhlp", "wendroxsrv", "qevusbsrv"})
        EXPECT_EQ(std::string("SVC Name:    ") + name + "\r\nOpen SCM:    Success\r\nOpen SVC:    Error\r\n",
                  CollectServiceStatusText(name));
}

}  // namespace
