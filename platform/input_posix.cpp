#include "platform/platform.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace teloria::platform {

int openForReading(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is a directory");
        return -1;
    }
    return fd;
}

void closeInput(int fd)
{
    ::close(fd);
}

std::int64_t readSome(int fd, char* buffer, std::int64_t size, QString* error)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<std::size_t>(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, -1);
            continue;
        }
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

bool inputWaiting(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

std::int64_t regularFileSize(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

void keepFreedMemory()
{
#ifdef __GLIBC__
    // Blocks up to 32 MiB come from the heap, and up to 64 MiB free at its top stays.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

} // namespace teloria::platform
