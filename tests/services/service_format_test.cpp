// Tables for the service-status entry.
#include "service_format.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceEntry, LinesForEachOutcome) {
    struct Row { const char* what; ServiceProbe probe; const char* text; };
    const Row rows[] = {
        {"manager refused", {false, false, false, 0},
         "SVC Name:    qevusbsrv\r\nOpen SCM:    Error\r\n"},
        {"not installed", {true, false, false, 0},
         "SVC Name:    qevusbsrv\r\nOpen SCM:    Success\r\nOpen SVC:    Error\r\n"},
        {"query failed", {true, true, false, 4},
         "SVC Name:    qevusbsrv\r\nOpen SCM:    Success\r\nOpen SVC:    Success\r\nQuery SVC:   Error\r\n"},
        {"running", {true, true, true, SERVICE_RUNNING},
         "SVC Name:    qevusbsrv\r\nOpen SCM:    Success\r\nOpen SVC:    Success\r\nQuery SVC:   Running\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.text, FormatServiceStatusEntry("qevusbsrv", row.probe)) << row.what;
}

TEST(ServiceEntry, StateNames) {
    const char* const names[] = {"Unknown\r\n", "Stopped\r\n", "StartPending\r\n", "StopPending\r\n",
                                 "Running\r\n", "ContinuePending\r\n", "PausePending\r\n",
                                 "Paused\r\n", "Unknown\r\n"};
    for (DWORD state = 0; state <= 8; ++state)
        EXPECT_STREQ(names[state], ServiceStateText(state)) << state;
    EXPECT_STREQ("Unknown\r\n", ServiceStateText(0xFFFFFFFF));
}

}  // namespace
