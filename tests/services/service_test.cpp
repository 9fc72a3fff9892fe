// Service entries of a service that the test installs, starts, stops and removes
// with the platform's service tool, in a private prefix.
#include "service.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

namespace {

const char* const SERVICE_NAME = "zrpkstandin";

int RunServiceTool(const std::wstring& arguments) {
    testsupport::ProcessResult run = testsupport::RunCommand(L"sc.exe " + arguments);
    return run.started ? static_cast<int>(run.exitCode) : -1;
}

// The entry once its last line is the wanted one, or the last entry seen.
std::string WaitForEntryEnding(const std::string& lastLine) {
    std::string entry;
    for (int attempt = 0; attempt < 100; ++attempt) {
        entry = CollectServiceStatusText(SERVICE_NAME);
        if (entry.size() >= lastLine.size() && entry.compare(entry.size() - lastLine.size(), lastLine.size(), lastLine) == 0)
            break;
        Sleep(100);
    }
    return entry;
}

class InstalledService : public ::testing::Test {
protected:
    void TearDown() override {
        RunServiceTool(L"stop zrpkstandin");
        RunServiceTool(L"delete zrpkstandin");
    }
};

TEST_F(InstalledService, RunningThenStoppedThenGone) {
    std::wstring program = testsupport::BuiltProgram(L"sysfacts_standin_service.exe");
    ASSERT_TRUE(testsupport::FileExists(program));
    ASSERT_EQ(0, RunServiceTool(L"create zrpkstandin binPath= \"" + program + L"\""));
    const std::string opened = "SVC Name:    zrpkstandin\r\nOpen SCM:    Success\r\nOpen SVC:    Success\r\n";
    EXPECT_EQ(opened + "Query SVC:   Stopped\r\n", CollectServiceStatusText(SERVICE_NAME)) << "installed, not started";

    ASSERT_EQ(0, RunServiceTool(L"start zrpkstandin"));
    EXPECT_EQ(opened + "Query SVC:   Running\r\n", WaitForEntryEnding("Running\r\n"));

    ASSERT_EQ(0, RunServiceTool(L"stop zrpkstandin"));
    EXPECT_EQ(opened + "Query SVC:   Stopped\r\n", WaitForEntryEnding("Stopped\r\n"));

    ASSERT_EQ(0, RunServiceTool(L"delete zrpkstandin"));
    EXPECT_EQ("SVC Name:    zrpkstandin\r\nOpen SCM:    Success\r\nOpen SVC:    Error\r\n",
              WaitForEntryEnding("Open SVC:    Error\r\n"));
}

}  // namespace
