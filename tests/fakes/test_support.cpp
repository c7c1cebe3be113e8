#include "test_support.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/common.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"

namespace testing_support {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(fake::HostPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(fake::HostPath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool PathExists(const std::string& path) { return fs::exists(fake::HostPath(path)); }

std::string Records(std::initializer_list<std::string> texts) {
    std::string bytes;
    for (const std::string& text : texts) bytes += text + "\n";
    return bytes;
}

void ServiceTest::SetUp() {
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path root = fs::temp_directory_path() /
                          ("kelvoran-" + std::string(info->name()).substr(0, 40) + "-" +
                           std::to_string(counter++) + "-" +
                           std::to_string(reinterpret_cast<std::uintptr_t>(this) % 100000));
    fs::remove_all(root);
    fs::create_directories(root / "app" / "logs");
    root_ = root.string();
    fake::Reset();
    fake::Get().modulePath = (root / "app" / "kelvoran.exe").string();
    exeDirectory_ = DirectoryOfPath(fake::Get().modulePath);

    g_lastScheduleRun = 0;
    g_logStream = nullptr;
    g_stopRequested = 0;
    g_statusHandle = nullptr;
    g_serviceStatus = platform::ServiceStatus();
    std::memset(g_serviceName, 0, sizeof g_serviceName);
    std::memset(g_displayName, 0, sizeof g_displayName);
    std::strcpy(g_serviceName, "Kelvoran");
    std::strcpy(g_displayName, "Kelvoran Default");
}

void ServiceTest::TearDown() {
    if (g_logStream != nullptr) {
        delete g_logStream;
        g_logStream = nullptr;
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string ServiceTest::hostPath(const std::string& relative) const {
    return fake::HostPath(exeDirectory_ + relative);
}

void ServiceTest::openRunLog() {
    delete g_logStream;
    runLogPath_ = root_ + "/run.log";
    g_logStream = new VxIO::FileOutputStream(runLogPath_);
}

std::string ServiceTest::runLog() {
    if (g_logStream != nullptr) {
        g_logStream->close();
        delete g_logStream;
        g_logStream = nullptr;
    }
    return ReadFile(runLogPath_);
}

}  // namespace testing_support
