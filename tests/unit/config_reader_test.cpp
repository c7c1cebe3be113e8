#include <gtest/gtest.h>

#include <filesystem>

#include "common/common.h"
#include "schedule/schedule.h"
#include "test_support.h"

namespace {

using testing_support::ServiceTest;
using testing_support::WriteFile;

class ConfigReaderTest : public ServiceTest {
protected:
    // Reads `bytes` as downloader.conf; records every interval tested.
    ConfigReadResult read(const std::string& bytes, std::function<bool(int32_t)> isDue = nullptr) {
        WriteFile(hostPath("downloader.conf"), bytes);
        return readExisting(std::move(isDue));
    }
    ConfigReadResult readExisting(std::function<bool(int32_t)> isDue = nullptr) {
        tested.clear();
        return ReadScheduleSettings(exeDirectory() + "downloader.conf",
                                    [&, isDue](int32_t intv) {
                                        tested.push_back(intv);
                                        return isDue ? isDue(intv) : true;
                                    },
                                    settings);
    }
    ScheduleSettings settings;
    std::vector<int32_t> tested;
};

TEST_F(ConfigReaderTest, ReadsTheThreeKeysAndSkipsEverythingElse) {
    const std::string file =
        "# comment intv=1\n"
        "\n"
        "  intv  =  60  \n"
        "no equals sign\n"
        "   # not a comment=1\n"
        "INTV=7\n"
        "\tintv=8\n"
        "=empty key\n"
        "url = a@@b@@c@@d@@http://x/?q=1&r=2 \n"
        "url=\n"
        "unknown=1\n"
        "clientid = first\n"
        "url=second\n"
        "clientid=  last one  \n";
    ASSERT_EQ(read(file), ConfigReadResult::Complete);
    EXPECT_EQ(settings.intv, 60);
    EXPECT_EQ(tested, std::vector<int32_t>{60});
    EXPECT_EQ(settings.urlEntries,
              (std::vector<std::string>{"a@@b@@c@@d@@http://x/?q=1&r=2", "", "second"}));
    EXPECT_EQ(settings.defaultClientId, "last one");
}

TEST_F(ConfigReaderTest, DefaultsWhenKeysAreMissing) {
    ASSERT_EQ(read("url=x\n"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.intv, 0);
    EXPECT_TRUE(tested.empty());
    EXPECT_EQ(settings.defaultClientId, "default");
    ASSERT_EQ(read("clientid=\n"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.defaultClientId, "");
}

TEST_F(ConfigReaderTest, EachIntervalIsTestedAsItIsReadAndAFailureEndsTheRead) {
    auto atLeastFive = [](int32_t intv) { return intv >= 5; };
    EXPECT_EQ(read("intv=3\nintv=10\nurl=never read\n", atLeastFive), ConfigReadResult::NotDue);
    EXPECT_EQ(tested, std::vector<int32_t>{3});
    EXPECT_TRUE(settings.urlEntries.empty());

    EXPECT_EQ(read("intv=10\nurl=a\nintv=3\nurl=b\n", atLeastFive), ConfigReadResult::NotDue);
    EXPECT_EQ(tested, (std::vector<int32_t>{10, 3}));

    EXPECT_EQ(read("intv=3\nintv=10\n", [](int32_t) { return true; }), ConfigReadResult::Complete);
    EXPECT_EQ(settings.intv, 10);  // the last value stands
}

TEST_F(ConfigReaderTest, IntervalFollowsStrtolClampedTo32Bits) {
    struct Case { const char* value; int32_t expected; };
    const Case cases[] = {
        {"60", 60}, {"+7", 7}, {"-5", -5}, {"12abc", 12}, {"abc12", 0}, {"", 0},
        {"\t 9", 9}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"0x10", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInterval(c.value), c.expected) << c.value;
}

TEST_F(ConfigReaderTest, LineEndsReadLikeWindowsTextMode) {
    // CR LF is one line end; a lone CR stays inside the line (and is no blank).
    ASSERT_EQ(read("intv=60\r\nclientid=id\r\nurl=a\rb\r\nurl=last"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.defaultClientId, "id");
    EXPECT_EQ(settings.urlEntries, (std::vector<std::string>{"a\rb", "last"}));
    ASSERT_EQ(read("clientid=x\r\r\n"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.defaultClientId, "x\r");
}

TEST_F(ConfigReaderTest, LongLines) {
    const std::string exact = "url=" + std::string(1019, 'a');  // 1023 characters
    ASSERT_EQ(read(exact + "\nurl=next\n"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.urlEntries, (std::vector<std::string>{std::string(1019, 'a'), "next"}));

    // Beyond 1023 only the first 1023 count; the rest of that line is dropped.
    const std::string tooLong = "url=" + std::string(1019, 'b') + "intv=1" + std::string(5000, 'c');
    ASSERT_EQ(read(tooLong + "\r\nclientid=after\n"), ConfigReadResult::Complete);
    EXPECT_EQ(settings.urlEntries, (std::vector<std::string>{std::string(1019, 'b')}));
    EXPECT_EQ(settings.defaultClientId, "after");
    EXPECT_TRUE(tested.empty());

    ASSERT_EQ(read("url=" + std::string(100000, 'd')), ConfigReadResult::Complete);
    EXPECT_EQ(settings.urlEntries.size(), 1u);
}

TEST_F(ConfigReaderTest, MissingFileOrDirectoryIsAbsent) {
    EXPECT_EQ(readExisting(), ConfigReadResult::Absent);
    std::filesystem::create_directories(hostPath("downloader.conf"));
    EXPECT_EQ(readExisting(), ConfigReadResult::Absent);
}

TEST_F(ConfigReaderTest, EmptyFileIsComplete) {
    ASSERT_EQ(read(""), ConfigReadResult::Complete);
    EXPECT_TRUE(settings.urlEntries.empty());
}

}  // namespace
