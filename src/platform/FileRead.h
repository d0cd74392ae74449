#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A small file read in one go through one open descriptor, so the size that is
// checked is the size of the file that is read, even when the path is replaced
// meanwhile.
struct CappedFile {
    enum class Status {
        Read,      // `bytes` holds the whole file
        Missing,   // nothing at the path (or a component of it is not a folder)
        TooLarge,  // more than the cap; nothing beyond cap + 1 bytes was read
    };
    Status status = Status::Missing;
    QByteArray bytes;
};

// Opens `path` once, checks its size through the descriptor (fstat) and reads at
// most `cap` + 1 bytes. Other failures (permissions, a folder, a read error)
// throw ForeignError::posix.
CappedFile readFileCapped(const QString& path, qint64 cap);

// Modification time of `path` in seconds since 1970 (nanoseconds included);
// none when it cannot be read.
std::optional<double> fileModificationTimeSince1970(const QString& path);
