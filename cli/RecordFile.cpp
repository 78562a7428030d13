#include "RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace q218::flash {

namespace {

#ifdef _WIN32
int Open(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
}
bool EndsInNewline(int fd, const std::string& path) {
    struct _stat64 info {};
    if (::_fstat64(fd, &info) != 0 || info.st_size == 0) {
        return true;
    }
    const int reader = ::_open(path.c_str(), _O_RDONLY | _O_BINARY);
    char last = '\n';
    if (reader >= 0) {
        ::_lseeki64(reader, -1, SEEK_END);
        if (::_read(reader, &last, 1) != 1) {
            last = '\n';
        }
        ::_close(reader);
    }
    return last == '\n';
}
bool WriteAll(int fd, const std::string& text) {
    return ::_write(fd, text.data(), static_cast<unsigned>(text.size())) ==
           static_cast<int>(text.size());
}
bool Sync(int fd) {
    // A pipe, the console or NUL has no disk to reach, and FlushFileBuffers fails on some.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return ::GetFileType(handle) != FILE_TYPE_DISK || ::_commit(fd) == 0;
}
void Close(int fd) {
    ::_close(fd);
}
#else
int Open(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}
bool EndsInNewline(int fd, const std::string& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size == 0) {
        return true;
    }
    // The appending descriptor is write-only: a second one reads the last byte.
    char last = '\n';
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader >= 0) {
        if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    return last == '\n';
}
bool WriteAll(int fd, const std::string& text) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    return written == static_cast<ssize_t>(text.size());
}
bool Sync(int fd) {
    // A pipe, a terminal or /dev/stdout takes no fsync (EINVAL): there is no disk to reach.
    return ::fsync(fd) == 0 || errno == EINVAL;
}
void Close(int fd) {
    ::close(fd);
}
#endif

}  // namespace

std::string CheckRecordFile(const std::string& path) {
    const int fd = Open(path);
    if (fd < 0) {
        return std::strerror(errno);
    }
    Close(fd);
    return {};
}

std::optional<std::string> CheckedLogPath(const std::optional<QString>& logFile) {
    if (!logFile) {
        return std::string();
    }
    std::string path = QFile::encodeName(*logFile).toStdString();
    if (const std::string why = CheckRecordFile(path); !why.empty()) {
        std::fprintf(stderr, "q218-flash: cannot open the log %s: %s\n", path.c_str(), why.c_str());
        return std::nullopt;
    }
    return path;
}

std::string AppendRecord(const std::string& path, const std::string& line) {
    const int fd = Open(path);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const std::string text = (EndsInNewline(fd, path) ? "" : "\n") + line + "\n";
    errno = 0;
    const bool written = WriteAll(fd, text) && Sync(fd);
    const int error = errno != 0 ? errno : EIO;
    Close(fd);
    return written ? std::string() : std::string(std::strerror(error));
}

}  // namespace q218::flash
