#include "FileEntries.h"

#include "Paths.h"

#include <QFile>
#include <sys/stat.h>

namespace files {

bool isDirectoryEntry(const QString& path)
{
    const QString p = paths::withoutTrailingSlashes(path);
    if (p.isEmpty())
        return false;
    struct stat st {};
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode);
}

} // namespace files
