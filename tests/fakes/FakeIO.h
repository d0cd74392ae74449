#pragma once

#include <QByteArray>

#include <cerrno>
#include <unistd.h>

// Writes every byte, retrying interrupted and partial writes; false on a write error.
inline bool writeFully(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}
