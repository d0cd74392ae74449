#include "FileRead.h"

#include "ForeignError.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

CappedFile readFileCapped(const QString& path, qint64 cap)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        // Non-blocking so a FIFO planted at the path cannot hang the open.
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {CappedFile::Status::Missing, {}};
        throw ForeignError::posix(error);
    }
    Descriptor file(fd);

    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throw ForeignError::posix(errno);
    if (S_ISDIR(info.st_mode))
        throw ForeignError::posix(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw ForeignError::posix(EINVAL);
    if (cap < 0 || info.st_size > cap)
        return {CappedFile::Status::TooLarge, {}};

    // The file may still grow after fstat: read no more than cap + 1 bytes.
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(cap) + 1);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + total, static_cast<size_t>(bytes.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ForeignError::posix(errno);
        }
        if (n == 0)
            break;
        total += n;
    }
    if (total > cap)
        return {CappedFile::Status::TooLarge, {}};
    bytes.truncate(total);
    return {CappedFile::Status::Read, bytes};
}

std::optional<double> fileModificationTimeSince1970(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const timespec& t = info.st_mtimespec;
#else
    const timespec& t = info.st_mtim;
#endif
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
