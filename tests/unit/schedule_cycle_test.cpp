#include <gtest/gtest.h>

#include <new>

#include "schedule/schedule.h"
#include "test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::Records;
using testing_support::ServiceTest;
using testing_support::WriteFile;

class ScheduleCycleTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        WriteFile(hostPath("curl.exe"), "stand-in");
        // A launched "curl" writes a clean error file and the download.
        platform().onProcess = [this](const fake::Launch& launch) {
            const std::string parameters = *launch.parameters;
            const std::size_t nameStart = parameters.find("curlerrors_") + 11;
            const std::string name = parameters.substr(nameStart, parameters.find(".txt") - nameStart);
            WriteFile(hostPath("logs/curlerrors_" + name + ".txt"), "100");
            WriteFile(hostPath(name + ".bin.tempdownloader"), "fresh " + name);
            return true;
        };
    }
    void config(const std::string& bytes) { WriteFile(hostPath("downloader.conf"), bytes); }
    // One turn of the service loop: a second passes, then the cycle runs.
    void turn() {
        platform().sleptMilliseconds += 1000;
        RunSchedule();
    }
    std::size_t curlLaunches() const { return fake::Get().launches.size(); }
};

TEST_F(ScheduleCycleTest, FirstCallRunsAtOnceThenWaitsForTheInterval) {
    config("intv=5\nurl=a@@a.bin@@@@@@http://h/a\nurl=b@@b.bin@@@@@@http://h/b\n");
    RunSchedule();
    EXPECT_EQ(curlLaunches(), 2u);
    EXPECT_EQ(g_lastScheduleRun, fake::Now());
    EXPECT_EQ(ReadFile(hostPath("a.bin")), "fresh a");
    EXPECT_EQ(ReadFile(hostPath("b.bin")), "fresh b");
    for (int second = 1; second < 5; ++second) {
        turn();
        EXPECT_EQ(curlLaunches(), 2u) << second;
    }
    turn();
    EXPECT_EQ(curlLaunches(), 4u);
}

TEST_F(ScheduleCycleTest, NoRunWithoutAUsableIntervalOrEntries) {
    const char* const files[] = {
        "intv=4\nurl=a@@a.bin@@@@@@http://h/a\n",
        "url=a@@a.bin@@@@@@http://h/a\n",
        "intv=abc\nurl=a@@a.bin@@@@@@http://h/a\n",
        "intv=60\n",
        "intv=60\nURL=a@@a.bin@@@@@@http://h/a\n",
    };
    for (const char* file : files) {
        config(file);
        openRunLog();
        RunSchedule();
        turn();
        EXPECT_EQ(curlLaunches(), 0u) << file;
        EXPECT_EQ(g_lastScheduleRun, 0) << file;
        EXPECT_EQ(runLog(), "") << file;
    }
}

TEST_F(ScheduleCycleTest, MissingConfigurationIsQuiet) {
    openRunLog();
    RunSchedule();
    EXPECT_EQ(runLog(), "");
    EXPECT_EQ(g_lastScheduleRun, 0);
}

TEST_F(ScheduleCycleTest, MissingCurlIsReportedOncePerInterval) {
    std::remove(hostPath("curl.exe").c_str());
    WriteFile(hostPath("a.bin.tempdownloader"), "stale");
    config("intv=10\nurl=a@@a.bin@@@@@@http://h/a\n");
    openRunLog();
    RunSchedule();
    for (int second = 1; second <= 10; ++second) turn();
    EXPECT_EQ(runLog(), Records({"\r\ncurl.exe Not Found! ", "\r\ncurl.exe Not Found! "}));
    EXPECT_EQ(curlLaunches(), 0u);
    EXPECT_TRUE(PathExists(hostPath("a.bin.tempdownloader")));  // nothing was touched
}

TEST_F(ScheduleCycleTest, FormatErrorCostsOnlyItsOwnEntry) {
    config("intv=60\n"
           "url=a@@a.bin@@@@@@http://h/a\n"
           "url =  broken@@entry  \n"
           "url=c@@c.bin@@@@@@http://h/c\n");
    openRunLog();
    RunSchedule();
    const std::string log = runLog();
    EXPECT_EQ(curlLaunches(), 2u);
    const std::size_t first = log.find("Need Restart: /a/");
    const std::size_t error = log.find("\r\nRun Schedule Failed! Format Error! broken@@entry\n");
    const std::size_t third = log.find("Run Schedule Start!", error);
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(error, std::string::npos);
    EXPECT_LT(first, error);
    EXPECT_NE(third, std::string::npos);
    EXPECT_EQ(ReadFile(hostPath("c.bin")), "fresh c");
}

TEST_F(ScheduleCycleTest, ClockSetBackWaitsUntilTheRecordedRunPlusInterval) {
    config("intv=60\nurl=a@@a.bin@@@@@@http://h/a\n");
    RunSchedule();
    const int64_t firstRun = g_lastScheduleRun;
    platform().clockStart -= 3600;
    for (int second = 0; second < 3600 + 59; ++second) turn();
    EXPECT_EQ(curlLaunches(), 1u);
    EXPECT_EQ(g_lastScheduleRun, firstRun);
    turn();
    EXPECT_EQ(curlLaunches(), 2u);
}

TEST_F(ScheduleCycleTest, LongRunIsFollowedByTheNextCallAfterIt) {
    config("intv=5\nurl=a@@a.bin@@@@@@http://h/a\n");
    platform().onProcess = [this](const fake::Launch&) {
        platform().sleptMilliseconds += 30000;  // curl takes half a minute
        return true;
    };
    RunSchedule();
    turn();
    EXPECT_EQ(curlLaunches(), 2u);
}

TEST_F(ScheduleCycleTest, FlushesTheRunLogAfterEachEntry) {
    config("intv=60\nurl=a@@a.bin@@@@@@http://h/a\nurl=b@@b.bin@@@@@@http://h/b\n");
    std::string onDiskAtSecondLaunch;
    auto writeDownload = platform().onProcess;
    platform().onProcess = [&](const fake::Launch& launch) {
        if (curlLaunches() == 2) onDiskAtSecondLaunch = ReadFile(hostPath("../run.log"));
        return writeDownload(launch);
    };
    openRunLog();
    RunSchedule();
    EXPECT_NE(onDiskAtSecondLaunch.find("Need Restart: /a/"), std::string::npos);
    runLog();
}

TEST_F(ScheduleCycleTest, ExceptionMidRunEndsTheCallQuietly) {
    config("intv=60\nurl=a@@a.bin@@@@@@http://h/a\nurl=b@@b.bin@@@@@@http://h/b\n");
    platform().onProcess = [](const fake::Launch&) -> bool { throw std::bad_alloc(); };
    openRunLog();
    EXPECT_NO_THROW(RunSchedule());
    EXPECT_EQ(curlLaunches(), 1u);  // the second entry was skipped
    EXPECT_EQ(g_lastScheduleRun, fake::Now());
    EXPECT_EQ(runLog(), "");
}

TEST_F(ScheduleCycleTest, DueTest) {
    g_lastScheduleRun = 1000;
    EXPECT_FALSE(IsScheduleDue(4, 2000));
    EXPECT_FALSE(IsScheduleDue(5, 1004));
    EXPECT_TRUE(IsScheduleDue(5, 1005));
    EXPECT_FALSE(IsScheduleDue(60, 900));  // clock went back
    EXPECT_FALSE(IsScheduleDue(-1, 5000));
    EXPECT_TRUE(IsScheduleDue(INT32_MAX, 1000 + int64_t{INT32_MAX}));
}

}  // namespace
