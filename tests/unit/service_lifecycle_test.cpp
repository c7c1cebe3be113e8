#include <gtest/gtest.h>

#include <filesystem>

#include "common/common.h"
#include "io/messages.h"
#include "io/output_stream.h"
#include "service/service.h"
#include "test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::Records;
using testing_support::ServiceTest;
using testing_support::WriteFile;

const std::string kStartRecords =
    Records({"Prepare Start Wrapper Service.\r\n", "Wrapper Service Started.\r\n"});
const std::string kEndRecord = Records({"Wrapper Service End.\r\n"});

class LifecycleTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        g_mainThreadId = 42;
        InitServiceStatus();
        WriteFile(hostPath("startservicewrapper.cmd"), "@echo start");
        WriteFile(hostPath("stopservicewrapper.cmd"), "@echo stop");
    }
    // Asks for a stop after the given number of loop sleeps.
    void stopAfterSleeps(std::size_t sleeps) {
        platform().onSleep = [sleeps] {
            if (fake::Get().sleeps.size() == sleeps) ServiceCtrlHandler(1);
        };
    }
    std::string runLogPath() const {
        return hostPath("logs/Kelvoranwinlog_" + std::to_string(fake::Get().clockStart) + ".log");
    }
    std::vector<uint32_t> reportedStates() const {
        std::vector<uint32_t> states;
        for (const auto& status : fake::Get().reportedStatuses) states.push_back(status.currentState);
        return states;
    }
    std::vector<std::string> launchedFiles() const {
        std::vector<std::string> files;
        for (const fake::Launch& launch : fake::Get().launches) files.push_back(launch.file);
        return files;
    }
};

TEST_F(LifecycleTest, FullRunReportsStatesWritesTheRunLogAndRunsBothScripts) {
    stopAfterSleeps(3);
    ServiceMain(0, nullptr);

    EXPECT_EQ(reportedStates(), (std::vector<uint32_t>{2, 4, 3, 1}));
    for (const platform::ServiceStatus& status : platform().reportedStatuses) {
        EXPECT_EQ(status.serviceType, 16u);
        EXPECT_EQ(status.controlsAccepted, 1u);
        EXPECT_EQ(status.win32ExitCode, 0u);
        EXPECT_EQ(status.checkPoint, 0u);
        EXPECT_EQ(status.waitHint, 0u);
    }
    EXPECT_EQ(platform().registeredHandlerName, "Kelvoran");
    EXPECT_EQ(platform().sleeps, (std::vector<uint32_t>{1000, 1000, 1000}));
    EXPECT_EQ(platform().closeMessagesPosted, std::vector<uint32_t>{42});
    EXPECT_EQ(ReadFile(runLogPath()), kStartRecords + kEndRecord);
    EXPECT_EQ(launchedFiles(), (std::vector<std::string>{exeDirectory() + "startservicewrapper.cmd",
                                                          exeDirectory() + "stopservicewrapper.cmd"}));
    ASSERT_EQ(platform().events.size(), 1u);
    EXPECT_EQ(platform().events[0].text, "Wrapper Service Stoped!");
    // The run log is closed but the object stays.
    ASSERT_NE(g_logStream, nullptr);
    EXPECT_THROW(g_logStream->writeLine("late"), VxIO::IOException);
}

TEST_F(LifecycleTest, StopBeforeTheLoopSkipsEveryCycle) {
    platform().onShellOpen = [](const fake::Launch& launch) {
        if (launch.file.find("startservicewrapper") != std::string::npos) ServiceCtrlHandler(1);
    };
    ServiceMain(0, nullptr);
    EXPECT_TRUE(platform().sleeps.empty());
    EXPECT_EQ(ReadFile(runLogPath()), kStartRecords + kEndRecord);
    EXPECT_EQ(launchedFiles().size(), 2u);  // the stop script still runs
    EXPECT_EQ(reportedStates(), (std::vector<uint32_t>{2, 4, 3, 1}));
}

TEST_F(LifecycleTest, StopDuringACycleFinishesItAndStartsNoOther) {
    WriteFile(hostPath("curl.exe"), "stand-in");
    WriteFile(hostPath("downloader.conf"), "intv=5\nurl=a@@a.bin@@@@@@http://h/a\nurl=b@@b.bin@@@@@@http://h/b\n");
    int curlRuns = 0;
    platform().onProcess = [&](const fake::Launch&) {
        if (++curlRuns == 1) ServiceCtrlHandler(1);
        return true;
    };
    ServiceMain(0, nullptr);
    EXPECT_EQ(curlRuns, 2);  // the whole run, both entries
    EXPECT_EQ(platform().sleeps.size(), 1u);
    const std::string log = ReadFile(runLogPath());
    EXPECT_NE(log.find("\r\n\tHasERROR No Restart: /b/"), std::string::npos);  // curl left no error file
    EXPECT_EQ(log.substr(log.size() - kEndRecord.size()), kEndRecord);
}

TEST_F(LifecycleTest, ControlCodes) {
    stopAfterSleeps(2);
    platform().onSleep = [] {
        if (fake::Get().sleeps.size() == 1) {
            ServiceCtrlHandler(4);   // interrogate
            ServiceCtrlHandler(2);   // pause
            ServiceCtrlHandler(10);  // param change
        }
        if (fake::Get().sleeps.size() == 2) {
            ServiceCtrlHandler(5);   // shutdown acts like stop
            ServiceCtrlHandler(1);   // a second request reports stop pending again
        }
    };
    ServiceMain(0, nullptr);
    EXPECT_EQ(reportedStates(), (std::vector<uint32_t>{2, 4, 3, 3, 1}));
    EXPECT_EQ(platform().sleeps.size(), 2u);
}

TEST_F(LifecycleTest, FailedHandlerRegistrationLeavesOnlyOneEvent) {
    platform().registerHandlerFails = true;
    ServiceMain(0, nullptr);
    ASSERT_EQ(platform().events.size(), 1u);
    EXPECT_EQ(platform().events[0].text, "Kelvoran\xB7\xFE\xCE\xF1\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0");
    EXPECT_TRUE(platform().reportedStatuses.empty());
    EXPECT_TRUE(platform().launches.empty());
    EXPECT_EQ(g_logStream, nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(hostPath("logs")));
}

TEST_F(LifecycleTest, WithoutALogsDirectoryTheServiceStillRuns) {
    std::filesystem::remove_all(hostPath("logs"));
    stopAfterSleeps(2);
    ServiceMain(0, nullptr);
    EXPECT_EQ(reportedStates(), (std::vector<uint32_t>{2, 4, 3, 1}));
    EXPECT_EQ(launchedFiles().size(), 2u);
    EXPECT_FALSE(PathExists(hostPath("logs")));
    EXPECT_EQ(platform().events.size(), 1u);
}

TEST_F(LifecycleTest, AStartInTheSameSecondEmptiesTheRunLog) {
    WriteFile(runLogPath(), "an earlier start's records that are longer than the new ones\n");
    stopAfterSleeps(1);
    ServiceMain(0, nullptr);
    EXPECT_EQ(ReadFile(runLogPath()), kStartRecords + kEndRecord);
}

TEST(InitServiceStatus, WritesTheDefaults) {
    g_serviceStatus.currentState = 4;
    g_serviceStatus.checkPoint = 9;
    g_statusHandle = &g_serviceStatus;
    InitServiceStatus();
    EXPECT_EQ(g_statusHandle, nullptr);
    EXPECT_EQ(g_serviceStatus.serviceType, 16u);
    EXPECT_EQ(g_serviceStatus.currentState, 1u);
    EXPECT_EQ(g_serviceStatus.controlsAccepted, 1u);
    EXPECT_EQ(g_serviceStatus.checkPoint, 0u);
}

}  // namespace
