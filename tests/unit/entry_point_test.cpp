#include <gtest/gtest.h>

#include <cstring>

#include "common/common.h"
#include "service/service.h"
#include "test_support.h"

namespace {

using testing_support::ServiceTest;
using testing_support::WriteFile;

class EntryPointTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        WriteFile(hostPath("startservicewrapper.cmd"), "@echo start");
        WriteFile(hostPath("stopservicewrapper.cmd"), "@echo stop");
    }
    // Runs main with these arguments; returns what it printed.
    std::string run(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        ::testing::internal::CaptureStdout();
        exitCode = RunKelvoran(static_cast<int>(argv.size()), argv.data());
        return ::testing::internal::GetCapturedStdout();
    }
    std::vector<std::string> launchedScripts() const {
        std::vector<std::string> names;
        for (const fake::Launch& launch : fake::Get().launches) {
            names.push_back(launch.file.substr(launch.file.find_last_of("\\/") + 1));
        }
        return names;
    }
    int exitCode = -1;
};

TEST_F(EntryPointTest, NoCommandWordGoesToTheDispatcher) {
    EXPECT_EQ(run({"C:\\svc\\kelvoran.exe"}), "");
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(platform().dispatcherCalls, 1);
    EXPECT_EQ(platform().dispatcherName, "Kelvoran");
    EXPECT_EQ(std::string(g_displayName), "Kelvoran Default");
    EXPECT_EQ(g_mainThreadId, 42u);
    ASSERT_EQ(platform().events.size(), 1u);  // the console start fails
    EXPECT_EQ(platform().events[0].source, "Kelvoran");
    EXPECT_EQ(platform().events[0].text, "\xB2\xBB\xC4\xDC\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xA1\xA3");
}

TEST_F(EntryPointTest, ServiceNameAfterDashN) {
    struct Case { std::vector<std::string> args; const char* name; };
    const Case cases[] = {
        {{"k.exe", "-n", "foo"}, "foo"},
        {{"k.exe", "-nfoo"}, "oo"},                    // one character is always skipped
        {{"k.exe", "-n", "two", "words"}, "two words"},  // everything to the end
        {{"C:\\my-new\\k.exe"}, "w\\k.exe"},          // "-n" inside the program path
        {{"k.exe", "-n"}, ""},
        {{"k.exe", "-n", "x", "/INSTALL"}, "x /INSTALL"},  // capitals are no command word
    };
    for (const Case& c : cases) {
        fake::Reset();
        EXPECT_EQ(run(c.args), "");
        EXPECT_EQ(platform().dispatcherName, c.name);
        EXPECT_EQ(std::string(g_displayName), std::string("Kelvoran for name:") + c.name);
        EXPECT_EQ(exitCode, 0);
    }
}

TEST_F(EntryPointTest, InstallAndUninstallPrintTheirOutcome) {
    platform().modulePath = "C:\\svc\\kelvoran.exe";
    EXPECT_EQ(run({"k.exe", "/install", "-n", "foo"}), "Kelvoran Install OK!\n");
    EXPECT_EQ(platform().services.at("foo").displayName, "Kelvoran for name:foo");
    EXPECT_EQ(platform().services.at("foo").binaryPathName, "\"C:\\svc\\kelvoran.exe\" -n foo");

    // "-n" first: the command word becomes part of the name, and still installs.
    EXPECT_EQ(run({"k.exe", "-n", "foo", "/install"}), "Kelvoran Install OK!\n");
    EXPECT_EQ(platform().services.count("foo /install"), 1u);

    EXPECT_EQ(run({"k.exe", "/uninstall", "-n", "foo"}), "Kelvoran UNInstall OK!\n");
    EXPECT_EQ(platform().services.count("foo"), 0u);

    platform().managerRefused = true;
    EXPECT_EQ(run({"k.exe", "/install"}), "Can not open Service Manager!\nKelvoran Install FAIL!\n");
    EXPECT_EQ(run({"k.exe", "/uninstall"}), "Can not open Service Manager!\nKelvoran UNInstall FAIL!\n");
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(platform().dispatcherCalls, 0);
}

TEST_F(EntryPointTest, FirstCommandWordInFixedOrderDecides) {
    struct Case { std::vector<std::string> args; std::vector<std::string> scripts; bool installs; };
    const Case cases[] = {
        {{"k.exe", "/stop"}, {"stopservicewrapper.cmd"}, false},
        {{"k.exe", "/start"}, {"startservicewrapper.cmd"}, false},
        {{"k.exe", "/restart"}, {"stopservicewrapper.cmd", "startservicewrapper.cmd"}, false},
        {{"k.exe", "x/stopy"}, {"stopservicewrapper.cmd"}, false},  // inside another argument
        {{"k.exe", "/start", "/stop"}, {"stopservicewrapper.cmd"}, false},
        {{"k.exe", "/restart", "/install"}, {}, true},
    };
    for (const Case& c : cases) {
        platform().launches.clear();
        platform().services.clear();
        EXPECT_EQ(run(c.args), c.installs ? "Kelvoran Install OK!\n" : "");
        EXPECT_EQ(launchedScripts(), c.scripts);
        EXPECT_EQ(platform().services.size(), c.installs ? 1u : 0u);
        EXPECT_EQ(platform().dispatcherCalls, 0);
    }
}

TEST_F(EntryPointTest, OverLongInputDoesNothing) {
    const std::string longName(238, 'x');  // 18 + 238 exceeds the 255-byte display name
    const std::string lineTooLong = "Command line too long (at most 2047 characters): nothing done.\n";
    const std::string nameTooLong = "Service name too long (at most 237 characters): nothing done.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"k.exe", "/install", std::string(2100, 'a')}, lineTooLong},
        {{"k.exe", "/install", "-n", longName}, nameTooLong},
        {{"k.exe", "-n", longName}, nameTooLong},
    };
    for (const auto& [args, message] : cases) {
        fake::Reset();
        EXPECT_EQ(run(args), message);
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(platform().scmCalls.empty());
        EXPECT_EQ(platform().dispatcherCalls, 0);
        EXPECT_TRUE(platform().events.empty());
    }
    // The longest name that fits is taken whole.
    fake::Reset();
    run({"k.exe", "-n", std::string(237, 'y')});
    EXPECT_EQ(platform().dispatcherName, std::string(237, 'y'));
}

TEST_F(EntryPointTest, DispatcherRunsTheServiceAndMainWaitsForIt) {
    platform().dispatcher = [](char* name, platform::ServiceMainFunction serviceMain) {
        fake::Get().onSleep = [] { ServiceCtrlHandler(1); };
        char* argv[] = {name};
        serviceMain(1, argv);
        return true;
    };
    EXPECT_EQ(run({"C:\\svc\\kelvoran.exe", "-n", "svc"}), "Prepare Start Wrapper Service.\r\n\n"
                                                           "Wrapper Service Started.\r\n\n"
                                                           "Wrapper Service End.\r\n\n");
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(platform().events.size(), 1u);
    EXPECT_EQ(platform().events[0].text, "Wrapper Service Stoped!");
    EXPECT_EQ(platform().events[0].source, "svc");
}

TEST_F(EntryPointTest, CheckAndHelpComeAfterTheServiceWords) {
    WriteFile(hostPath("curl.exe"), "stand-in");
    WriteFile(hostPath("downloader.conf"), "intv=60\nurl=a@@a.bin@@@@@@http://h/a\n");
    EXPECT_NE(run({"k.exe", "/check"}).find("Result: downloads run every 60 seconds"), std::string::npos);
    EXPECT_EQ(exitCode, 0);
    WriteFile(hostPath("downloader.conf"), "intv=1\n");
    run({"k.exe", "/check"});
    EXPECT_EQ(exitCode, 1);

    const std::string help = run({"k.exe", "/help"});
    EXPECT_EQ(help.rfind("Usage: kelvoran.exe", 0), 0u);
    EXPECT_NE(help.find("downloader.conf"), std::string::npos);
    EXPECT_EQ(exitCode, 0);

    // A specified word still wins over the new ones.
    EXPECT_EQ(run({"k.exe", "/check", "/stop"}), "");
    EXPECT_EQ(launchedScripts(), std::vector<std::string>{"stopservicewrapper.cmd"});
    EXPECT_EQ(platform().dispatcherCalls, 0);
}

}  // namespace
