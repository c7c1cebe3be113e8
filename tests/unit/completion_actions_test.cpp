#include <gtest/gtest.h>

#include <filesystem>
#include <new>

#include "schedule/schedule.h"
#include "test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::Records;
using testing_support::ServiceTest;
using testing_support::WriteFile;

const char kErrorFile[] = "logs\\curlerrors_app.txt";

class ErrorScanTest : public ServiceTest {
protected:
    // Scans an error file of these bytes; returns the failure verdict.
    bool scan(const std::string& bytes) {
        WriteFile(hostPath("logs/curlerrors_app.txt"), bytes);
        openRunLog();
        return CheckDownloadErrors(kErrorFile);
    }
};

TEST_F(ErrorScanTest, EmitsEachLineThenItsLineEnd) {
    struct Case {
        const char* name;
        std::string file;
        bool failed;
        std::string log;
    };
    const Case cases[] = {
        {"progress only, no final line feed",
         "  % Total\r\n  0   100\r 50   100\r100   100", false,
         Records({"  % Total", "\r\n", "  0   100\r 50   100\r100   100", "\r\n"})},
        {"error on line 3 stops the scan", "one\ntwo\ncurl: (22) 404\nfour\n", true,
         Records({"one", "\r\n", "two", "\r\n", "curl: (22) 404", "\r\n"})},
        {"error mark anywhere in a line", "xx curl: (6) host\n", true,
         Records({"xx curl: (6) host", "\r\n"})},
        {"capital C is no error", "Curl: fine\n", false,
         Records({"Curl: fine", "\r\n", "", "\r\n"})},
        {"final line feed yields one more empty line", "done\n", false,
         Records({"done", "\r\n", "", "\r\n"})},
        {"empty file yields one empty line", "", false, Records({"", "\r\n"})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scan(c.file), c.failed) << c.name;
        EXPECT_EQ(runLog(), c.log) << c.name;
    }
}

TEST_F(ErrorScanTest, MissingFileFails) {
    openRunLog();
    EXPECT_TRUE(CheckDownloadErrors(kErrorFile));
    EXPECT_EQ(runLog(), Records({"\t" + exeDirectory() + kErrorFile,
                                 "\tCan not open error file!\r\n"}));
}

TEST_F(ErrorScanTest, OverLongLineIsEmittedInPiecesAndFullyExamined) {
    const std::string first(4095, 'a');
    const std::string second(4095, 'b');
    EXPECT_FALSE(scan(first + second + "cc\r\nnext"));
    EXPECT_EQ(runLog(), Records({first, "\r\n", second, "\r\n", "cc", "\r\n", "next", "\r\n"}));

    // "curl:" split across the boundary between two pieces still counts.
    const std::string head = std::string(4093, '.') + "cu";
    EXPECT_TRUE(scan(head + "rl: (18) transfer closed\n"));
    EXPECT_EQ(runLog(), Records({head, "\r\n", "rl: (18) transfer closed", "\r\n"}));

    // A mark far into a huge progress line is found too.
    EXPECT_TRUE(scan(std::string(100000, '\r') + "curl: (28) timeout"));
    runLog();
}

TEST_F(ErrorScanTest, LineOfExactly4095CharactersIsOneLine) {
    const std::string line(4095, 'x');
    EXPECT_FALSE(scan(line + "\nend"));
    EXPECT_EQ(runLog(), Records({line, "\r\n", "end", "\r\n"}));
}

class CompletionTest : public ServiceTest {
protected:
    DownloadEntry entry(const std::string& action) {
        auto parsed = ParseDownloadEntry("app@@app.bin@@" + action + "@@@@http://h/a",
                                         "d", exeDirectory());
        EXPECT_TRUE(parsed);
        return *parsed;
    }
    // A clean download: progress-only error file and a fresh temporary file.
    void cleanDownload() {
        WriteFile(hostPath("logs/curlerrors_app.txt"), "100");
        WriteFile(hostPath("app.bin.tempdownloader"), "new");
        WriteFile(hostPath("app.bin"), "old");
    }
    std::string fields() const {
        return "/app/http://h/a?downloaderclientid=d";
    }
};

TEST_F(CompletionTest, DecisionTable) {
    platform().services["svc"].state = 1;  // stopped: a restart only starts it
    struct Case {
        std::string action;
        std::vector<std::string> tail;  // records after "Need Restart"
        std::vector<std::string> launched;
    };
    const std::vector<Case> cases = {
        {"", {}, {}},
        {"none", {}, {}},
        {"None", {"\r\n\tRun Execute Reload! None/app/http://h/a?downloaderclientid=d"}, {"None"}},
        {"C:\\tools\\reload.cmd -q",
         {"\r\n\tRun Execute Reload! C:\\tools\\reload.cmd -q/app/http://h/a?downloaderclientid=d"},
         {"C:\\tools\\reload.cmd -q"}},
        {"restart:svc",
         {"\r\n\tRun Execute Restart! restart:svc/app/http://h/a?downloaderclientid=d",
          "\r\n\tRestart Service OK(Start)!: svc"},
         {}},
        {"restart:",
         {"\r\n\tRun Execute Restart! restart:/app/http://h/a?downloaderclientid=d",
          "\r\n\tRestart Service ERROR(NoStatus): "},
         {}},
    };
    for (const Case& c : cases) {
        platform().launches.clear();
        cleanDownload();
        const DownloadEntry e = entry(c.action);
        openRunLog();
        RunCompletionActions(e, e.errorFile, exeDirectory());

        std::string expected = Records({"100", "\r\n", "\r\n\tRename File: " + e.targetPath + fields(),
                                        "\r\n\tNeed Restart: " + c.action + fields()});
        for (const std::string& record : c.tail) expected += record + "\n";
        EXPECT_EQ(runLog(), expected) << c.action;
        EXPECT_EQ(ReadFile(hostPath("app.bin")), "new") << c.action;
        EXPECT_FALSE(PathExists(hostPath("app.bin.tempdownloader"))) << c.action;

        ASSERT_EQ(platform().launches.size(), c.launched.size()) << c.action;
        for (std::size_t i = 0; i < c.launched.size(); ++i) {
            const fake::Launch& launch = platform().launches[i];
            EXPECT_EQ(launch.file, c.launched[i]);
            EXPECT_FALSE(launch.parameters.has_value());  // never split into arguments
            EXPECT_EQ(launch.directory, exeDirectory());
            EXPECT_EQ(launch.show, 0);
        }
    }
}

TEST_F(CompletionTest, FailedScanLeavesTargetAndSkipsTheAction) {
    cleanDownload();
    WriteFile(hostPath("logs/curlerrors_app.txt"), "curl: (22) 404\n");
    const DownloadEntry e = entry("C:\\reload.cmd");
    openRunLog();
    RunCompletionActions(e, e.errorFile, exeDirectory());
    EXPECT_EQ(runLog(), Records({"curl: (22) 404", "\r\n",
                                 "\r\n\tHasERROR No Restart: C:\\reload.cmd" + fields()}));
    EXPECT_EQ(ReadFile(hostPath("app.bin")), "old");
    EXPECT_TRUE(PathExists(hostPath("app.bin.tempdownloader")));
    EXPECT_TRUE(platform().launches.empty());
}

TEST_F(CompletionTest, MissingTemporaryFileStillReportsRenameAndActs) {
    WriteFile(hostPath("logs/curlerrors_app.txt"), "");
    WriteFile(hostPath("app.bin"), "old");
    const DownloadEntry e = entry("C:\\reload.cmd");
    openRunLog();
    RunCompletionActions(e, e.errorFile, exeDirectory());
    EXPECT_EQ(runLog(), Records({"", "\r\n", "\r\n\tRename File: " + e.targetPath + fields(),
                                 "\r\n\tNeed Restart: C:\\reload.cmd" + fields(),
                                 "\r\n\tRun Execute Reload! C:\\reload.cmd" + fields()}));
    EXPECT_EQ(ReadFile(hostPath("app.bin")), "old");
}

TEST_F(CompletionTest, RefusedMoveIsReportedAndTheActionStillFollows) {
    cleanDownload();
    platform().refuseMoves = true;
    const DownloadEntry e = entry("C:\\reload.cmd");
    openRunLog();
    RunCompletionActions(e, e.errorFile, exeDirectory());
    EXPECT_EQ(runLog(), Records({"100", "\r\n",
                                 "\r\n\tRename File Failed: " + e.targetPath + fields(),
                                 "\r\n\tNeed Restart: C:\\reload.cmd" + fields(),
                                 "\r\n\tRun Execute Reload! C:\\reload.cmd" + fields()}));
    EXPECT_EQ(ReadFile(hostPath("app.bin")), "old");
    EXPECT_EQ(ReadFile(hostPath("app.bin.tempdownloader")), "new");
}

TEST_F(CompletionTest, ExceptionDuringTheActionIsReported) {
    cleanDownload();
    platform().onShellOpen = [](const fake::Launch&) { throw std::bad_alloc(); };
    const DownloadEntry e = entry("C:\\reload.cmd");
    openRunLog();
    RunCompletionActions(e, e.errorFile, exeDirectory());
    const std::string log = runLog();
    EXPECT_NE(log.find("\r\n\tRun Execute Reload! C:\\reload.cmd" + fields() + "\n"
                       "\r\n\tError Running Reload: C:\\reload.cmd" + fields() + "\n"),
              std::string::npos)
        << log;
}

TEST_F(CompletionTest, CommitDownloadOutcomes) {
    const std::string target = exeDirectory() + "app.bin";
    EXPECT_EQ(CommitDownload(target), CommitOutcome::NoTemporaryFile);
    WriteFile(hostPath("app.bin.tempdownloader"), "new");
    EXPECT_EQ(CommitDownload(target), CommitOutcome::Moved);
    EXPECT_EQ(ReadFile(hostPath("app.bin")), "new");
    std::filesystem::create_directories(hostPath("dir.bin.tempdownloader"));
    EXPECT_EQ(CommitDownload(exeDirectory() + "dir.bin"), CommitOutcome::NoTemporaryFile);
}

}  // namespace
