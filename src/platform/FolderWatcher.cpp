#include "FolderWatcher.h"

#include <QDir>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/inotify.h>
#endif

bool makeFolders(const QString& folder, unsigned mode)
{
    const QString clean = QDir::cleanPath(folder);
    if (clean.isEmpty())
        return false;
    QStringList missing;
    QString current = clean;
    struct stat st {};
    while (!current.isEmpty() && ::stat(QFile::encodeName(current).constData(), &st) != 0) {
        if (errno != ENOENT)
            return false;
        missing.prepend(current);
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        current = current.left(slash);
    }
    for (const QString& path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
            return false;
    }
    return ::stat(QFile::encodeName(clean).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<FolderWatcher> FolderWatcher::create(const QString& folder, Handler handler)
{
    if (!makeFolders(folder, 0700))
        return nullptr;
#ifdef __linux__
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE | IN_ATTRIB | IN_ONLYDIR;
    if (inotify_add_watch(fd, QFile::encodeName(folder).constData(), mask) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FolderWatcher>(new FolderWatcher(folder, fd, std::move(handler)));
#else
    Q_UNUSED(handler);
    return nullptr;
#endif
}

FolderWatcher::FolderWatcher(QString folder, int fd, Handler handler)
    : m_folder(std::move(folder))
    , m_fd(fd)
    , m_handler(std::move(handler))
    , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatcher::drain);
}

FolderWatcher::~FolderWatcher()
{
    m_notifier->setEnabled(false);
    ::close(m_fd);
}

void FolderWatcher::drain()
{
    // Read every queued event; the burst counts as one change.
    alignas(8) char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: drained
    }
    if (any && m_handler)
        m_handler();
}
