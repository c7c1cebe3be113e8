// Shared fixture: a fresh temporary directory that plays the executable's
// directory, a reset fake platform and reset globals, and a run log in a
// temporary file whose exact bytes the tests compare.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "fake_platform.h"

namespace testing_support {

// Writes and reads files as raw bytes.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);

// The run-log bytes that EmitMessage produces for these texts, in order.
std::string Records(std::initializer_list<std::string> texts);

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The directory as GetExeDirectory returns it (ends in a separator).
    const std::string& exeDirectory() const { return exeDirectory_; }
    // A path inside the executable's directory, in host form.
    std::string hostPath(const std::string& relative) const;

    // Opens the run log on a file of the test's own; runLog() closes it and
    // returns its bytes.
    void openRunLog();
    std::string runLog();

    fake::State& platform() { return fake::Get(); }

private:
    std::string root_;
    std::string exeDirectory_;
    std::string runLogPath_;
};

}  // namespace testing_support
