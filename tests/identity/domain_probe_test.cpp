// The domain probe's thread: what the call returns reaches the entry, the
// platform's "not implemented" exception counts as not supported, and any other
// exception is left to the filter that was there before.
#include "identity.h"
#include "sysfacts_test_util.h"

#include <gtest/gtest.h>

namespace {

const DWORD WINE_STUB_EXCEPTION = 0x80000100;
const DWORD FOREIGN_EXCEPTION = 0xE0001234;

DWORD Returns0() { return 0; }
DWORD Returns2692() { return 2692; }
DWORD RaisesWineStub() {
    RaiseException(WINE_STUB_EXCEPTION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 0;
}
DWORD RaisesForeign() {
    RaiseException(FOREIGN_EXCEPTION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 0;
}

// Stands in for whatever filter the process had before the probe: it notes the
// code and ends the probe's thread itself, so the test program lives on.
DWORD mainThreadId = 0;
DWORD seenByEarlierFilter = 0;
LONG WINAPI EarlierFilter(EXCEPTION_POINTERS* exception) {
    seenByEarlierFilter = exception->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() != mainThreadId)
        ExitThread(0);
    return EXCEPTION_CONTINUE_SEARCH;
}

struct ProbeCall : ::testing::Test {
    void SetUp() override {
        mainThreadId = GetCurrentThreadId();
        seenByEarlierFilter = 0;
        earlier = SetUnhandledExceptionFilter(EarlierFilter);
    }
    void TearDown() override {
        SetUnhandledExceptionFilter(earlier);
        domainProbeCall = saved;
    }
    LPTOP_LEVEL_EXCEPTION_FILTER earlier = nullptr;
    DomainProbeCall saved = domainProbeCall;
};

}  // namespace

TEST_F(ProbeCall, ReturnedCodeReachesTheEntry) {
    struct Case {
        DomainProbeCall call;
        DWORD code;
        const char* line;
    } cases[] = {
        {Returns0, 0, "Is Domain:                     1 (Code: 0x0)"},
        {Returns2692, 2692, "Is Domain:                     0 (Code: 0xA84)"},
        {RaisesWineStub, 50, "Is Domain:                     0 (Code: 0x32)"},
    };
    for (const Case& c : cases) {
        domainProbeCall = c.call;
        EXPECT_EQ(c.code, ProbeDomainMembership());
        EXPECT_EQ(c.line, sysfacts::SplitLines(CollectComputerNameText())[0]);
        EXPECT_EQ(0u, seenByEarlierFilter) << "contained, or nothing raised: " << c.line;
    }
    EXPECT_EQ(EarlierFilter, SetUnhandledExceptionFilter(EarlierFilter)) << "the probe puts it back";
}

TEST_F(ProbeCall, OtherExceptionGoesToTheFilterBefore) {
    domainProbeCall = RaisesForeign;
    // The earlier filter ended the thread, so no code came back.
    EXPECT_EQ(50u, ProbeDomainMembership());
    EXPECT_EQ(FOREIGN_EXCEPTION, seenByEarlierFilter);
    EXPECT_EQ(EarlierFilter, SetUnhandledExceptionFilter(EarlierFilter));
}
