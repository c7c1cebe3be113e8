#include <fcntl.h>
#include <io.h>
#include <share.h>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

std::string ModuleFileName() {
    char buffer[kPathBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kPathBufferSize);
    // A full buffer means the path was cut; a cut path names the wrong place.
    if (length == 0 || length >= kPathBufferSize) return std::string();
    return std::string(buffer, length);
}

uint32_t FileAttributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

std::FILE* OpenSharedRead(const std::string& path) {
    // FILE_SHARE_DELETE too, so curl or an editor can replace the file while
    // it is being read.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "rb");
    if (file == nullptr) _close(descriptor);
    return file;
}

std::string FileSystemPath(const std::string& path) { return path; }

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool MoveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace platform
