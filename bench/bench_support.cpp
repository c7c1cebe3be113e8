#include "bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fake_platform.h"

namespace benchsupport {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directories(fs::path(root_) / "app" / "logs");
    exeDirectory_ = root_ + "/app/";
    fake::Reset();
    fake::Get().modulePath = exeDirectory_ + "kelvoran.exe";
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void WriteFile(const std::string& hostPath, const std::string& bytes) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + hostPath);
}

std::string ReadFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string EntryText(int number) {
    const std::string n = std::to_string(number);
    return "file" + n + "@@files\\file" + n + ".bin@@none@@@@http://127.0.0.1:8080/files/file" +
           n + ".bin";
}

int WriteConfiguration(const std::string& hostPath, int intv, int entries) {
    std::string text = "intv=" + std::to_string(intv) + "\r\n";
    text += "# downloads of plant 7\r\n";
    text += "clientid=plant-7\r\n";
    for (int i = 0; i < entries; ++i) text += "url=" + EntryText(i) + "\r\n";
    WriteFile(hostPath, text);
    return 3 + entries;
}

}  // namespace benchsupport
