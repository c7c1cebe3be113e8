#include <gtest/gtest.h>

#include <cstring>

#include "common/common.h"
#include "service/service.h"
#include "test_support.h"

namespace {

using testing_support::Records;
using testing_support::ServiceTest;

class RegistrationTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        platform().modulePath = "C:\\Program Files\\Kelvoran\\kelvoran.exe";
        openRunLog();
    }
    void name(const char* serviceName, const char* displayName) {
        std::strcpy(g_serviceName, serviceName);
        std::strcpy(g_displayName, displayName);
    }
};

TEST_F(RegistrationTest, InstallRegistersQuotedPathNameAndDescription) {
    for (const auto& [service, display] : {std::pair<const char*, const char*>{"Kelvoran", "Kelvoran Default"},
                                            {"foo", "Kelvoran for name:foo"}}) {
        name(service, display);
        EXPECT_EQ(InstallService(), 1);
        const fake::Service& created = platform().services.at(service);
        EXPECT_EQ(created.displayName, display);
        EXPECT_EQ(created.binaryPathName,
                  std::string("\"C:\\Program Files\\Kelvoran\\kelvoran.exe\" -n ") + service);
        EXPECT_EQ(created.description, "Kelvoran");
        EXPECT_EQ(created.serviceType, 16u);
        EXPECT_EQ(created.startType, 2u);
        EXPECT_EQ(created.errorControl, 1u);
    }
    EXPECT_EQ(platform().openHandles, 0);
    EXPECT_EQ(runLog(), "");
}

TEST_F(RegistrationTest, InstallOverAnExistingServiceChangesNothing) {
    platform().services["Kelvoran"].binaryPathName = "other.exe";
    EXPECT_EQ(InstallService(), 1);
    EXPECT_EQ(platform().services["Kelvoran"].binaryPathName, "other.exe");
    for (const std::string& call : platform().scmCalls) EXPECT_EQ(call.find("CreateService"), std::string::npos);
}

TEST_F(RegistrationTest, InstallFailures) {
    platform().managerRefused = true;
    EXPECT_EQ(InstallService(), 0);
    platform().managerRefused = false;
    platform().createFails = true;
    EXPECT_EQ(InstallService(), 0);
    EXPECT_EQ(runLog(), Records({"Can not open Service Manager!", "Can not open!"}));
    EXPECT_EQ(platform().openHandles, 0);
}

TEST_F(RegistrationTest, InstallRefusesABinaryPathThatDoesNotFit) {
    platform().modulePath = "C:\\" + std::string(230, 'd') + "\\kelvoran.exe";
    name("a-name-long-enough-to-overflow", "Kelvoran for name:a-name-long-enough-to-overflow");
    EXPECT_EQ(InstallService(), 0);
    EXPECT_TRUE(platform().services.empty());
    EXPECT_EQ(runLog(), Records({"Can not open!"}));
}

TEST_F(RegistrationTest, UninstallStopsAndDeletes) {
    platform().services["Kelvoran"].state = 4;
    EXPECT_EQ(UninstallService(), 1);
    EXPECT_TRUE(platform().services.empty());
    const std::vector<std::string>& calls = platform().scmCalls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "OpenService Kelvoran 0x10020"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ControlService Kelvoran 1"), calls.end());
    EXPECT_EQ(platform().openHandles, 0);
    EXPECT_EQ(runLog(), "");
}

TEST_F(RegistrationTest, UninstallOutcomes) {
    struct Case {
        const char* what;
        std::function<void(fake::State&)> arrange;
        int result;
        std::string log;
        size_t events;
    };
    const Case cases[] = {
        {"no such service", [](fake::State&) {}, 1, "", 0},
        {"manager refused", [](fake::State& s) { s.services["Kelvoran"]; s.managerRefused = true; }, 0,
         Records({"Can not open Service Manager!"}), 0},
        {"access denied", [](fake::State& s) { s.services["Kelvoran"].accessDenied = true; }, 0,
         Records({"Can not open!"}), 0},
        {"deletion fails", [](fake::State& s) { s.services["Kelvoran"].deleteFails = true; }, 0, "", 1},
    };
    for (const Case& c : cases) {
        fake::Reset();
        c.arrange(platform());
        openRunLog();
        EXPECT_EQ(UninstallService(), c.result) << c.what;
        EXPECT_EQ(runLog(), c.log) << c.what;
        ASSERT_EQ(platform().events.size(), c.events) << c.what;
        if (c.events == 1) {
            EXPECT_EQ(platform().events[0].text, "\xCE\xDE\xB7\xA8\xC9\xBE\xB3\xFD\xB7\xFE\xCE\xF1");
        }
        EXPECT_EQ(platform().openHandles, 0) << c.what;
    }
}

TEST_F(RegistrationTest, IsServiceInstalled) {
    EXPECT_FALSE(IsServiceInstalled());
    platform().services["Kelvoran"];
    EXPECT_TRUE(IsServiceInstalled());
    platform().managerRefused = true;
    EXPECT_FALSE(IsServiceInstalled());
    runLog();
}

TEST_F(RegistrationTest, EventMessageFileFollowsTheService) {
    name("foo", "Kelvoran for name:foo");
    EXPECT_EQ(InstallService(), 1);
    EXPECT_EQ(platform().eventMessageFiles.at("foo"), "C:\\Program Files\\Kelvoran\\kelvoran.exe");
    EXPECT_EQ(UninstallService(), 1);
    EXPECT_EQ(platform().eventMessageFiles.count("foo"), 0u);

    // The event source is a convenience: failing to register it fails nothing.
    platform().eventRegistrationFails = true;
    EXPECT_EQ(InstallService(), 1);
    EXPECT_EQ(platform().services.count("foo"), 1u);
    EXPECT_EQ(runLog(), "");
}

}  // namespace
