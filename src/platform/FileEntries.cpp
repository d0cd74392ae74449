#include "FileEntries.h"

#include <QFile>
#include <sys/stat.h>

namespace files {

bool isDirectoryEntry(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (p.isEmpty())
        return false;
    struct stat st {};
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode);
}

} // namespace files
