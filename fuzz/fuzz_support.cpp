#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_platform.h"

namespace fuzzing {

namespace fs = std::filesystem;

namespace {

std::string g_root;
std::string g_exeDirectory;

void RemoveRoot() {
    std::error_code ignored;
    if (!g_root.empty()) fs::remove_all(g_root, ignored);
}

void MakeRoot() {
    std::string pattern = (fs::temp_directory_path() / "kelvoran-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_root = pattern;
    fs::create_directories(fs::path(g_root) / "app" / "logs");
    g_exeDirectory = g_root + "/app/";
    std::atexit(RemoveRoot);
}

}  // namespace

const std::string& ResetPlatform() {
    if (g_root.empty()) MakeRoot();
    fake::Reset();
    fake::Get().modulePath = g_exeDirectory + "kelvoran.exe";
    return g_exeDirectory;
}

void SilenceStandardOutput() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::perror("freopen");
}

void WriteBytes(const std::string& hostPath, const std::string& bytes) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("writing a scratch file", hostPath);
}

std::string ReadBytes(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string TextMode(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text.push_back(bytes[i]);
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    return text.substr(first, last - first);
}

std::string Show(const std::string& text) {
    constexpr std::size_t kShown = 300;
    std::string shown = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '"') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    shown += "\"";
    if (text.size() > kShown) shown += "... (" + std::to_string(text.size()) + " bytes)";
    return shown;
}

void Fail(const std::string& property, const std::string& details) {
    std::fprintf(stderr, "\n==== PROPERTY BROKEN: %s\n%s\n", property.c_str(), details.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzing
