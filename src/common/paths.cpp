#include "common/common.h"

std::string DirectoryOfPath(const std::string& fullPath) {
    std::string drive;
    std::string rest = fullPath;
    const bool hasDrive = fullPath.size() >= 2 && fullPath[1] == ':' &&
                          ((fullPath[0] >= 'A' && fullPath[0] <= 'Z') ||
                           (fullPath[0] >= 'a' && fullPath[0] <= 'z'));
    if (hasDrive) {
        drive = fullPath.substr(0, 2);
        rest = fullPath.substr(2);
    }
    const std::size_t lastSeparator = rest.find_last_of("\\/");
    const std::string directory =
        lastSeparator == std::string::npos ? std::string() : rest.substr(0, lastSeparator + 1);
    return drive + directory;
}

std::string GetExeDirectory() {
    return DirectoryOfPath(platform::ModuleFileName());
}

bool FileExists(const std::string& path) {
    const uint32_t attributes = platform::FileAttributes(path);
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) == 0;
}
