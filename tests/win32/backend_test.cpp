// The Win32 backend of the platform seam, against the real system calls (run
// under Wine on Linux). Each test works in a fresh directory of its own under
// the system's temporary directory.
#include <gtest/gtest.h>

#include "platform/win32/windows_api.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "common/common.h"
#include "test_files.h"
#include "platform/platform.h"
#include "schedule/schedule.h"

namespace {

std::string ReadAll(std::FILE* file) {
    std::string bytes;
    char buffer[256];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    return bytes;
}

// Holds a file open through the raw API with the given sharing; closes on scope exit.
class RawHandle {
public:
    RawHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition)
        : handle_(CreateFileA(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~RawHandle() {
        if (valid()) CloseHandle(handle_);
    }
    RawHandle(const RawHandle&) = delete;
    RawHandle& operator=(const RawHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool write(const std::string& bytes) {
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) != 0 &&
               written == bytes.size();
    }

private:
    HANDLE handle_;
};

class Win32Backend : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        char temp[MAX_PATH] = {};
        ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        dir_ = std::string(temp) + "kelvoran-backend-" + std::to_string(GetCurrentProcessId()) +
               "-" + std::to_string(counter++) + "\\";
        std::filesystem::remove_all(dir_);
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return dir_ + name; }

    std::string dir_;
};

// ---- Module path ---------------------------------------------------------------

TEST(ExeDirectory, IsTheDriveAndDirectoryOfThisProgram) {
    const std::string module = platform::ModuleFileName();
    const std::string dir = GetExeDirectory();
    ASSERT_GE(dir.size(), 3u) << dir;
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(dir[0]))) << dir;
    EXPECT_EQ(dir[1], ':') << dir;
    EXPECT_EQ(dir.back(), '\\') << dir;
    // The directory is a prefix of the module path and holds this very program.
    EXPECT_EQ(module.compare(0, dir.size(), dir), 0) << module;
    EXPECT_EQ(module.find_first_of("\\/", dir.size()), std::string::npos) << module;
    EXPECT_TRUE(FileExists(module)) << module;
    const std::string exeName = module.substr(dir.size());
    EXPECT_TRUE(FileExists(dir + exeName));
}

// ---- FileExists / FileAttributes ---------------------------------------------

TEST_F(Win32Backend, FileExistsOnlyForFiles) {
    WriteBytes(path("present.txt"), "x");
    ASSERT_TRUE(CreateDirectoryA(path("folder").c_str(), nullptr));
    WriteBytes(path("empty.txt"), "");

    struct Case { const char* name; bool exists; };
    const Case cases[] = {
        {"present.txt", true},
        {"empty.txt", true},
        {"folder", false},  // a directory counts as absent
        {"missing.txt", false},
        {"folder\\missing.txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(FileExists(path(c.name)), c.exists) << c.name;
    EXPECT_NE(platform::FileAttributes(path("folder")) & platform::kFileAttributeDirectory, 0u);
    EXPECT_EQ(platform::FileAttributes(path("missing.txt")), platform::kInvalidFileAttributes);
}

// ---- OpenSharedRead ------------------------------------------------------------

TEST_F(Win32Backend, OpenSharedReadReadsAFileAnotherHandleIsWriting) {
    const std::string file = path("shared.txt");
    RawHandle writer(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
    ASSERT_TRUE(writer.valid());
    ASSERT_TRUE(writer.write("first\r\nsecond\rthird\n"));

    std::FILE* reader = platform::OpenSharedRead(file);
    ASSERT_NE(reader, nullptr) << "a writer that shares read and write must not lock readers out";
    // Bytes come through untranslated: line handling is the caller's business.
    EXPECT_EQ(ReadAll(reader), "first\r\nsecond\rthird\n");

    // The writer goes on while the reader holds the file; a second reader sees it all.
    EXPECT_TRUE(writer.write("more"));
    std::FILE* second = platform::OpenSharedRead(file);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ReadAll(second), "first\r\nsecond\rthird\nmore");
    std::fclose(second);
    std::fclose(reader);
}

TEST_F(Win32Backend, OpenSharedReadLetsOthersWriteAndDelete) {
    const std::string file = path("conf.txt");
    WriteBytes(file, "intv=5\n");
    std::FILE* reader = platform::OpenSharedRead(file);
    ASSERT_NE(reader, nullptr);

    {
        RawHandle editor(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        EXPECT_TRUE(editor.valid()) << "an editor must be able to open the file for writing";
    }
    EXPECT_TRUE(platform::RemoveFile(file)) << "the file must stay deletable while read";
    std::fclose(reader);
    EXPECT_FALSE(FileExists(file));
}

TEST_F(Win32Backend, OpenSharedReadFailsForMissingFilesAndDirectories) {
    ASSERT_TRUE(CreateDirectoryA(path("folder").c_str(), nullptr));
    EXPECT_EQ(platform::OpenSharedRead(path("missing.txt")), nullptr);
    EXPECT_EQ(platform::OpenSharedRead(path("folder")), nullptr);
}

// ---- MoveReplacing -------------------------------------------------------------------

TEST_F(Win32Backend, MoveReplacingReplacesAnExistingTarget) {
    WriteBytes(path("target.bin"), "old content");
    WriteBytes(path("target.bin.tempdownloader"), std::string("new\0content\r\n", 13));
    EXPECT_TRUE(platform::MoveReplacing(path("target.bin.tempdownloader"), path("target.bin")));
    EXPECT_EQ(ReadBytes(path("target.bin")), std::string("new\0content\r\n", 13));
    EXPECT_FALSE(FileExists(path("target.bin.tempdownloader")));
}

TEST_F(Win32Backend, MoveReplacingCreatesAMissingTarget) {
    WriteBytes(path("fresh.tempdownloader"), "fresh");
    EXPECT_TRUE(platform::MoveReplacing(path("fresh.tempdownloader"), path("fresh")));
    EXPECT_EQ(ReadBytes(path("fresh")), "fresh");
    EXPECT_FALSE(FileExists(path("fresh.tempdownloader")));
}

TEST_F(Win32Backend, MoveReplacingFailsWithoutASource) {
    WriteBytes(path("target.bin"), "old");
    EXPECT_FALSE(platform::MoveReplacing(path("gone.tempdownloader"), path("target.bin")));
    EXPECT_EQ(ReadBytes(path("target.bin")), "old");
}

TEST_F(Win32Backend, MoveReplacingIsRefusedWhileTheTargetIsHeldWithoutDeleteSharing) {
    WriteBytes(path("busy.dll"), "running program");
    WriteBytes(path("busy.dll.tempdownloader"), "update");
    {
        RawHandle holder(path("busy.dll"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         OPEN_EXISTING);
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(platform::MoveReplacing(path("busy.dll.tempdownloader"), path("busy.dll")));
    }
    EXPECT_EQ(ReadBytes(path("busy.dll")), "running program");
    EXPECT_EQ(ReadBytes(path("busy.dll.tempdownloader")), "update");
    // Once released, the same move goes through.
    EXPECT_TRUE(platform::MoveReplacing(path("busy.dll.tempdownloader"), path("busy.dll")));
    EXPECT_EQ(ReadBytes(path("busy.dll")), "update");
}

// ---- RemoveFile ----------------------------------------------------------------------

TEST_F(Win32Backend, RemoveFileDeletesFilesOnly) {
    WriteBytes(path("stale.txt"), "x");
    ASSERT_TRUE(CreateDirectoryA(path("folder").c_str(), nullptr));
    EXPECT_TRUE(platform::RemoveFile(path("stale.txt")));
    EXPECT_FALSE(FileExists(path("stale.txt")));
    EXPECT_FALSE(platform::RemoveFile(path("stale.txt")));  // already gone
    EXPECT_FALSE(platform::RemoveFile(path("folder")));
    EXPECT_NE(platform::FileAttributes(path("folder")), platform::kInvalidFileAttributes);
}

// ---- Program launch ------------------------------------------------------------------

TEST_F(Win32Backend, ShellOpenProcessStartsInTheGivenDirectoryAndIsWaitedFor) {
    const platform::Handle process = platform::ShellOpenProcess(
        "cmd.exe", "/c echo launched> launched.txt", dir_, platform::kShowHidden);
    ASSERT_NE(process, nullptr);
    platform::WaitForProcessAndClose(process);
    // Written relative to the working directory, and complete once the wait returns.
    EXPECT_EQ(ReadBytes(path("launched.txt")), "launched\r\n");
}

TEST_F(Win32Backend, ShellOpenProcessGivesNullWhenNothingStarts) {
    const platform::Handle process = platform::ShellOpenProcess(
        "no-such-program-kelvoran.exe", "", dir_, platform::kShowHidden);
    EXPECT_EQ(process, nullptr);
    platform::WaitForProcessAndClose(process);  // returns at once
}

// ---- Time ------------------------------------------------------------------------------

// Windows' own conversion of a UTC instant to the local zone, as the reference.
SYSTEMTIME WindowsLocalTime(int64_t seconds) {
    constexpr int64_t kEpochDifference = 11644473600LL;  // 1601-01-01 to 1970-01-01
    const uint64_t ticks = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL;
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME utcSystem = {};
    SYSTEMTIME local = {};
    EXPECT_TRUE(FileTimeToSystemTime(&utc, &utcSystem));
    EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utcSystem, &local));
    return local;
}

TEST(Win32Time, LocalTimeAndItsTextFollowTheLocalZone) {
    static const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int64_t instants[] = {
        1583417229LL,  // 2020-03-05 14:07:09 UTC
        1719792000LL,  // 2024-07-01, northern summer time
        2147483648LL,  // one second past the 32-bit limit
        4102444799LL,  // 2099-12-31 23:59:59 UTC
    };
    for (const int64_t seconds : instants) {
        SCOPED_TRACE(seconds);
        const SYSTEMTIME expected = WindowsLocalTime(seconds);
        std::tm local{};
        ASSERT_TRUE(platform::LocalTime(seconds, &local));
        EXPECT_EQ(local.tm_year + 1900, expected.wYear);
        EXPECT_EQ(local.tm_mon + 1, expected.wMonth);
        EXPECT_EQ(local.tm_mday, expected.wDay);
        EXPECT_EQ(local.tm_hour, expected.wHour);
        EXPECT_EQ(local.tm_min, expected.wMinute);
        EXPECT_EQ(local.tm_sec, expected.wSecond);
        EXPECT_EQ(local.tm_wday, expected.wDayOfWeek);

        char text[64];
        std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n",
                      kWeekdays[expected.wDayOfWeek], kMonths[expected.wMonth - 1], expected.wDay,
                      expected.wHour, expected.wMinute, expected.wSecond, expected.wYear);
        EXPECT_EQ(FormatTimeText(seconds), text);
    }
}

TEST(Win32Time, FormatTimeTextOfNowHasTheFixedShape) {
    const std::string text = FormatTimeText(platform::CurrentTime());
    EXPECT_EQ(text.size(), 25u) << text;
    EXPECT_TRUE(std::regex_match(
        text, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                         "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                         "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n")))
        << text;
}

TEST(Win32Time, CurrentTimeCountsUtcSecondsSince1970) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t windowsSeconds =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) /
                             10000000ULL) -
        11644473600LL;
    // Two readings of the same clock; only a wrong epoch or zone could put them apart.
    EXPECT_NEAR(static_cast<double>(platform::CurrentTime()), static_cast<double>(windowsSeconds),
                5.0);
}

}  // namespace
