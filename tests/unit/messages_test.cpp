#include <gtest/gtest.h>

#include <cstring>

#include "common/common.h"
#include "io/messages.h"
#include "io/output_stream.h"
#include "test_support.h"

namespace {

using testing_support::Records;
using testing_support::ServiceTest;

class EmitMessageTest : public ServiceTest {};

TEST_F(EmitMessageTest, PrintsTheLineAndWritesOneRecord) {
    openRunLog();
    ::testing::internal::CaptureStdout();
    EmitMessage("Wrapper Service End.\r\n");
    EmitMessage("");
    EmitMessage("\r\n\tRename File: a/b/c");
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, "Wrapper Service End.\r\n\n\n\r\n\tRename File: a/b/c\n");
    EXPECT_EQ(runLog(), "Wrapper Service End.\r\n\n\n\r\n\tRename File: a/b/c\n");
}

TEST_F(EmitMessageTest, WithoutRunLogOnlyPrints) {
    ::testing::internal::CaptureStdout();
    EmitMessage("Kelvoran Install OK!");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Kelvoran Install OK!\n");
}

// A run log that records the console's length at each write proves that the
// console line is out before the record is written.
class OrderProbe : public VxIO::FileOutputStream {
public:
    using VxIO::FileOutputStream::FileOutputStream;
    void writeLine(std::string text) override {
        std::fflush(stdout);
        consoleAtWrite = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        VxIO::FileOutputStream::writeLine(text);
    }
    std::string consoleAtWrite;
};

TEST_F(EmitMessageTest, ConsoleComesBeforeTheRunLog) {
    OrderProbe probe(hostPath("probe.log"));
    g_logStream = &probe;
    ::testing::internal::CaptureStdout();
    EmitMessage("first");
    ::testing::internal::GetCapturedStdout();
    g_logStream = nullptr;
    EXPECT_EQ(probe.consoleAtWrite, "first\n");
}

TEST_F(EmitMessageTest, DoesNotFlush) {
    openRunLog();
    EmitMessage("buffered");
    // Nothing forces the bytes out, so the file is still empty on disk.
    EXPECT_EQ(testing_support::ReadFile(hostPath("../run.log")), "");
    EXPECT_EQ(runLog(), Records({"buffered"}));
}

class LogEventTest : public ServiceTest {};

TEST_F(LogEventTest, ReportsOneInformationEventUnderTheServiceName) {
    std::strcpy(g_serviceName, "Custom");
    openRunLog();
    ::testing::internal::CaptureStdout();
    LogEvent("%s", kEventServiceStopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(runLog(), "");
    ASSERT_EQ(platform().events.size(), 1u);
    const fake::Event& event = platform().events[0];
    EXPECT_EQ(event.source, "Custom");
    EXPECT_EQ(event.type, 4);
    EXPECT_EQ(event.category, 0);
    EXPECT_EQ(event.eventId, 0u);
    EXPECT_EQ(event.text, "Wrapper Service Stoped!");
    EXPECT_EQ(platform().openHandles, 0);
}

TEST_F(LogEventTest, ChineseTextsAreCodePage936Bytes) {
    LogEvent("%s", kEventNotInstalled);
    LogEvent("%s", kEventCannotStart);
    LogEvent("%s", kEventCannotDelete);
    ASSERT_EQ(platform().events.size(), 3u);
    EXPECT_EQ(platform().events[0].text,
              "Kelvoran\xB7\xFE\xCE\xF1\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0");  // 服务没有安装
    EXPECT_EQ(platform().events[1].text, "\xB2\xBB\xC4\xDC\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xA1\xA3");
    EXPECT_EQ(platform().events[2].text, "\xCE\xDE\xB7\xA8\xC9\xBE\xB3\xFD\xB7\xFE\xCE\xF1");
}

TEST_F(LogEventTest, LongTextIsCutAt255Bytes) {
    const std::string longText(300, 'x');
    LogEvent("%s", longText.c_str());
    ASSERT_EQ(platform().events.size(), 1u);
    EXPECT_EQ(platform().events[0].text, std::string(255, 'x'));
}

TEST_F(LogEventTest, UnregisterableSourceDropsTheEvent) {
    platform().eventSourceFails = true;
    LogEvent("%s", kEventServiceStopped);
    EXPECT_TRUE(platform().events.empty());
}

}  // namespace
