// One schedule cycle with everything real: the Win32 backend, curl.exe beside
// this program and an HTTP server on the loopback interface.
//
// Run it through tests/e2e/run_schedule_integration.py, which copies this
// program and curl.exe into a fresh directory, serves that directory's www
// subdirectory, writes every request line it receives to requests.log in the
// same directory and passes the server's port in KELVORAN_TEST_HTTP_PORT.
#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "common/common.h"
#include "test_files.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"

namespace {

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ScheduleRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("KELVORAN_TEST_HTTP_PORT");
        ASSERT_NE(port, nullptr)
            << "KELVORAN_TEST_HTTP_PORT is not set: run this program through "
               "tests/e2e/run_schedule_integration.py";
        baseUrl_ = std::string("http://127.0.0.1:") + port + "/";
        dir_ = GetExeDirectory();
        ASSERT_TRUE(FileExists(dir_ + "curl.exe")) << "curl.exe must lie beside " << dir_;
        CreateDirectoryA((dir_ + "logs").c_str(), nullptr);
        CreateDirectoryA((dir_ + "www").c_str(), nullptr);
        g_lastScheduleRun = 0;
    }

    void TearDown() override {
        if (g_logStream != nullptr) {
            delete g_logStream;
            g_logStream = nullptr;
        }
        DeleteFileA((dir_ + "downloader.conf").c_str());
    }

    // Serves `bytes` as www/<name>.
    void Serve(const std::string& name, const std::string& bytes) {
        WriteBytes(dir_ + "www\\" + name, bytes);
    }

    // One due cycle with the given configuration; returns the run-log bytes.
    std::string RunOnce(const std::string& config) {
        WriteBytes(dir_ + "downloader.conf", config);
        const std::string logPath =
            dir_ + "logs\\" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
            std::to_string(++runs_) + ".log";
        g_lastScheduleRun = 0;
        g_logStream = new VxIO::FileOutputStream(logPath);
        RunSchedule();
        g_logStream->close();
        delete g_logStream;
        g_logStream = nullptr;
        return ReadBytes(logPath);
    }

    std::string Requests() const { return ReadBytes(dir_ + "requests.log"); }

    std::string dir_;
    std::string baseUrl_;
    int runs_ = 0;
};

const std::regex kStartAndEndLines(
    "\r\nRun Schedule Start! [A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}\n\n"
    "\r\nRun Schedule End! [A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}\n\n");

TEST_F(ScheduleRun, GoodDownloadReplacesTheTargetAndLeavesNoTemporaryFile) {
    const std::string content("fresh\r\ncontent\0with\xff" "binary bytes\n", 33);
    Serve("good.bin", content);
    WriteBytes(dir_ + "good.bin", "old content");

    const std::string url = baseUrl_ + "good.bin";
    const std::string log =
        RunOnce("intv=60\nurl=good@@good.bin@@none@@client-7@@" + url + "\n");

    EXPECT_EQ(ReadBytes(dir_ + "good.bin"), content);
    EXPECT_FALSE(FileExists(dir_ + "good.bin.tempdownloader"));
    EXPECT_TRUE(FileExists(dir_ + "logs\\curlerrors_good.txt"));

    const std::string sent = url + "?downloaderclientid=client-7";
    EXPECT_TRUE(std::regex_search(log, kStartAndEndLines)) << log;
    const std::string tail = "\r\n\tRename File: " + dir_ + "good.bin/good/" + sent + "\n" +
                             "\r\n\tNeed Restart: none/good/" + sent + "\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(log.find("HasERROR"), std::string::npos) << log;
    EXPECT_NE(Requests().find("GET /good.bin?downloaderclientid=client-7 "), std::string::npos)
        << Requests();
}

TEST_F(ScheduleRun, NotFoundKeepsTheTargetAndReportsCurlsErrorLine) {
    WriteBytes(dir_ + "kept.txt", "kept");
    const std::string url = baseUrl_ + "missing.txt";
    const std::string log = RunOnce("intv=60\nurl=missing@@kept.txt@@none@@x@@" + url + "\n");

    EXPECT_EQ(ReadBytes(dir_ + "kept.txt"), "kept");
    // The error line is echoed as one record and a "\r\n" record, then the verdict ends the log.
    const std::string tail = "curl: (22) The requested URL returned error: 404\n\r\n\n"
                             "\r\n\tHasERROR No Restart: none/missing/" + url +
                             "?downloaderclientid=x\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(log.find("Rename File"), std::string::npos) << log;
    EXPECT_NE(Requests().find("GET /missing.txt?downloaderclientid=x "), std::string::npos);
}

TEST_F(ScheduleRun, ClientIdReachesTheServerAsAQueryParameter) {
    Serve("q.txt", "q");
    struct Case {
        const char* clientIdLine;  // the file's default client id, if any
        const char* entryClientId;
        const char* path;          // as configured, after the base URL
        const char* expectedRequest;
    };
    const Case cases[] = {
        {"", "own-id", "q.txt", "GET /q.txt?downloaderclientid=own-id "},
        {"", "", "q.txt", "GET /q.txt?downloaderclientid=default "},
        {"clientid=site-9\n", "  ", "q.txt?v=1", "GET /q.txt?v=1&downloaderclientid=site-9 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedRequest);
        const std::string log = RunOnce(std::string("intv=60\n") + c.clientIdLine +
                                        "url=q@@q.txt@@none@@" + c.entryClientId + "@@" +
                                        baseUrl_ + c.path + "\n");
        EXPECT_NE(Requests().find(c.expectedRequest), std::string::npos) << Requests();
        EXPECT_NE(log.find("\r\n\tRename File: "), std::string::npos) << log;
    }
}

TEST_F(ScheduleRun, ReloadCommandRunsInTheExecutablesDirectory) {
    Serve("reload.txt", "reload");
    WriteBytes(dir_ + "reload.cmd", "@echo reloaded> reload-marker.txt\r\n");
    const std::string action = dir_ + "reload.cmd";
    const std::string url = baseUrl_ + "reload.txt";

    const std::string log = RunOnce("intv=60\nurl=reload@@reload.txt@@" + action + "@@@@" + url + "\n");

    const std::string sent = url + "?downloaderclientid=default";
    const std::string tail = "\r\n\tNeed Restart: " + action + "/reload/" + sent + "\n" +
                             "\r\n\tRun Execute Reload! " + action + "/reload/" + sent + "\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;

    // The command is not waited for; give it a generous while to leave its mark.
    const std::string marker = dir_ + "reload-marker.txt";
    for (int i = 0; i < 600 && ReadBytes(marker).empty(); ++i) Sleep(100);
    EXPECT_EQ(ReadBytes(marker), "reloaded\r\n");
}

TEST_F(ScheduleRun, RefusedMoveKeepsTheTargetAndTheDownload) {
    Serve("held.bin", "update");
    WriteBytes(dir_ + "held.bin", "in use");
    const std::string url = baseUrl_ + "held.bin";
    std::string log;
    {
        // A running program keeps its file open without delete sharing.
        const HANDLE holder =
            CreateFileA((dir_ + "held.bin").c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        log = RunOnce("intv=60\nurl=held@@held.bin@@none@@@@" + url + "\n");
        CloseHandle(holder);
    }
    EXPECT_EQ(ReadBytes(dir_ + "held.bin"), "in use");
    EXPECT_EQ(ReadBytes(dir_ + "held.bin.tempdownloader"), "update");
    const std::string sent = url + "?downloaderclientid=default";
    EXPECT_NE(log.find("\r\n\tRename File Failed: " + dir_ + "held.bin/held/" + sent + "\n" +
                       "\r\n\tNeed Restart: none/held/" + sent + "\n"),
              std::string::npos)
        << log;
}

TEST_F(ScheduleRun, EntriesRunInFileOrderAndAFormatErrorCostsOnlyItself) {
    Serve("one.txt", "1");
    Serve("three.txt", "3");
    const std::string log = RunOnce("intv=60\n"
                                    "url=one@@one.txt@@none@@@@" + baseUrl_ + "one.txt\n"
                                    "url=two@@two.txt@@none@@" + baseUrl_ + "two.txt\n"
                                    "url=three@@three.txt@@none@@@@" + baseUrl_ + "three.txt\n");
    EXPECT_EQ(ReadBytes(dir_ + "one.txt"), "1");
    EXPECT_EQ(ReadBytes(dir_ + "three.txt"), "3");
    EXPECT_FALSE(FileExists(dir_ + "two.txt"));
    EXPECT_EQ(CountOf(log, "\r\nRun Schedule Start! "), 2u) << log;

    const std::size_t first = log.find("\r\n\tRename File: " + dir_ + "one.txt/");
    const std::size_t error = log.find("\r\nRun Schedule Failed! Format Error! two@@two.txt@@none@@" +
                                       baseUrl_ + "two.txt\n");
    const std::size_t third = log.find("\r\n\tRename File: " + dir_ + "three.txt/");
    ASSERT_NE(first, std::string::npos) << log;
    ASSERT_NE(error, std::string::npos) << log;
    ASSERT_NE(third, std::string::npos) << log;
    EXPECT_LT(first, error);
    EXPECT_LT(error, third);
}

}  // namespace
