#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "io/output_stream.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::ServiceTest;
using testing_support::WriteFile;

class FileOutputStreamTest : public ServiceTest {};

TEST_F(FileOutputStreamTest, WritesBytesExactly) {
    const std::string path = hostPath("out.log");
    {
        VxIO::FileOutputStream stream(path);
        stream.writeLine("abc");
        stream.writeLine("Wrapper Service End.\r\n");
        stream.writeLine("");
        stream.write(-5L);
        stream.write('x');
        stream.write(std::string("tail"));
        stream.write("12345", 3);
        stream.close();
    }
    EXPECT_EQ(ReadFile(path), "abc\nWrapper Service End.\r\n\n\n-5xtail123");
}

TEST_F(FileOutputStreamTest, OpeningEmptiesAnExistingFile) {
    const std::string path = hostPath("out.log");
    WriteFile(path, "old contents");
    VxIO::FileOutputStream stream(path);
    stream.close();
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(FileOutputStreamTest, DestructionClosesAndKeepsWhatWasWritten) {
    const std::string path = hostPath("out.log");
    { VxIO::FileOutputStream stream(path); stream.writeLine("kept"); }
    EXPECT_EQ(ReadFile(path), "kept\n");
}

TEST_F(FileOutputStreamTest, FailedOpenIgnoresEverythingAndCreatesNoFile) {
    const std::string path = hostPath("no-such-dir/out.log");
    VxIO::FileOutputStream stream(path);
    EXPECT_NO_THROW({
        stream.writeLine("lost");
        stream.write(std::string("lost"));
        stream.write('c');
        stream.write(7L);
        stream.flush();
        stream.close();
        stream.close();
    });
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(stream.queryFlag());
}

TEST_F(FileOutputStreamTest, UseAfterCloseThrowsTheFixedMessage) {
    VxIO::FileOutputStream stream(hostPath("out.log"));
    stream.close();
    auto expectThrows = [](const std::function<void()>& use) {
        try {
            use();
            ADD_FAILURE() << "no exception";
        } catch (const VxIO::IOException& e) {
            EXPECT_EQ(e.message(), "File Out Pointer Not INIT.");
        }
    };
    expectThrows([&] { stream.writeLine("x"); });
    expectThrows([&] { stream.write(std::string("x")); });
    expectThrows([&] { stream.write('x'); });
    expectThrows([&] { stream.write(1L); });
    // The same exception is a VxUtils::Exception and a std::exception.
    EXPECT_THROW(stream.writeLine("x"), VxUtils::Exception);
    EXPECT_THROW(stream.writeLine("x"), std::exception);
    // Raw writes, flush and a second close stay quiet.
    EXPECT_NO_THROW({ stream.write("x", 1); stream.flush(); stream.close(); });
}

}  // namespace
