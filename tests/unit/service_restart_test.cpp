#include <gtest/gtest.h>

#include "control/control.h"
#include "test_support.h"

namespace {

using testing_support::Records;
using testing_support::ServiceTest;

class RestartServiceTest : public ServiceTest {
protected:
    std::string restart(const std::string& name) {
        openRunLog();
        RestartService(name);
        return runLog();
    }
    int checks() const {
        int count = 0;
        for (const std::string& call : fake::Get().scmCalls) {
            if (call == "QueryServiceStatus svc") ++count;
        }
        return count - 1;  // the first query is not part of the wait
    }
};

TEST_F(RestartServiceTest, StoppedServiceIsOnlyStarted) {
    platform().services["svc"].state = 1;
    EXPECT_EQ(restart("svc"), Records({"\r\n\tRestart Service OK(Start)!: svc"}));
    EXPECT_EQ(platform().scmCalls,
              (std::vector<std::string>{
                  "OpenSCManager 0xf003f", "OpenService svc 0xf01ff", "QueryServiceStatus svc",
                  "OpenService svc 0x20000010", "StartService svc", "CloseServiceHandle svc",
                  "CloseServiceHandle svc", "CloseServiceHandle manager"}));
    EXPECT_TRUE(platform().sleeps.empty());
    EXPECT_EQ(platform().services["svc"].state, 4u);
    EXPECT_EQ(platform().openHandles, 0);
}

TEST_F(RestartServiceTest, RunningServiceThatStopsWithinASecond) {
    platform().services["svc"] = {};
    platform().services["svc"].state = 4;
    platform().services["svc"].checksUntilStopped = 1;
    EXPECT_EQ(restart("svc"), Records({"\r\n\tStop Service OK(stop)!: svc",
                                       "\r\n\tStop Service OK(prepare-start)!: svc",
                                       "\r\n\tStart Service OK(start)!: svc",
                                       "\r\n\tRestart Service OK(restart)!: svc"}));
    EXPECT_EQ(platform().sleeps, std::vector<uint32_t>{1000});
    EXPECT_EQ(checks(), 1);
    EXPECT_EQ(platform().services["svc"].state, 4u);
    EXPECT_EQ(platform().openHandles, 0);
}

TEST_F(RestartServiceTest, PausedAndPendingStatesAreStoppedFirst) {
    for (uint32_t state : {2u, 3u, 5u, 6u, 7u}) {
        fake::Reset();
        platform().modulePath = "C:\\svc\\kelvoran.exe";
        platform().services["svc"].state = state;
        platform().services["svc"].checksUntilStopped = 3;
        const std::string log = restart("svc");
        EXPECT_EQ(log.rfind("\r\n\tStop Service OK(stop)!: svc\n", 0), 0u) << state;
        EXPECT_NE(log.find("OK(prepare-start)"), std::string::npos) << state;
        EXPECT_EQ(checks(), 3) << state;
    }
}

TEST_F(RestartServiceTest, ServiceIgnoringStopTimesOutAfterExactly120Checks) {
    platform().services["svc"].state = 4;
    platform().services["svc"].ignoresStop = true;
    EXPECT_EQ(restart("svc"), Records({"\r\n\tStop Service OK(stop)!: svc",
                                       "\r\n\tStop Service Timeout(start)!: svc",
                                       "\r\n\tStart Service OK(start)!: svc",
                                       "\r\n\tRestart Service OK(restart)!: svc"}));
    EXPECT_EQ(platform().sleeps, std::vector<uint32_t>(120, 1000));
    EXPECT_EQ(checks(), 120);
    EXPECT_EQ(platform().scmCalls.back(), "CloseServiceHandle manager");
    EXPECT_NE(std::find(platform().scmCalls.begin(), platform().scmCalls.end(), "StartService svc"),
              platform().scmCalls.end());
    EXPECT_EQ(platform().openHandles, 0);
}

TEST_F(RestartServiceTest, ServiceDeletedDuringTheWaitRunsOutTheChecks) {
    platform().services["svc"].state = 4;
    platform().services["svc"].deleteOnStop = true;
    EXPECT_EQ(restart("svc"), Records({"\r\n\tStop Service OK(stop)!: svc",
                                       "\r\n\tStop Service Timeout(start)!: svc",
                                       "\r\n\tStart Service OK(start)!: svc",
                                       "\r\n\tRestart Service OK(restart)!: svc"}));
    EXPECT_EQ(platform().sleeps.size(), 120u);
}

TEST_F(RestartServiceTest, NoStatusCases) {
    struct Case { const char* what; std::function<void()> arrange; std::string name; };
    const Case cases[] = {
        {"unknown name", [] {}, "nosuch"},
        {"empty name", [] {}, ""},
        {"status query refused", [] { fake::Get().services["svc"].queryRefused = true; }, "svc"},
        {"manager refused", [] { fake::Get().services["svc"] = {}; fake::Get().managerRefused = true; },
         "svc"},
    };
    for (const Case& c : cases) {
        fake::Reset();
        c.arrange();
        EXPECT_EQ(restart(c.name), Records({"\r\n\tRestart Service ERROR(NoStatus): " + c.name}))
            << c.what;
        EXPECT_TRUE(platform().sleeps.empty()) << c.what;
        EXPECT_EQ(platform().openHandles, 0) << c.what;
        for (const std::string& call : platform().scmCalls) {
            EXPECT_EQ(call.find("StartService"), std::string::npos) << c.what;
            EXPECT_EQ(call.find("ControlService"), std::string::npos) << c.what;
        }
    }
}

}  // namespace
