#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

// Watches one folder for files created, written, moved or removed in it
// (inotify on Linux). Each burst of events that arrives together calls the
// handler once, on the thread that created the watcher. Destroying the
// watcher stops it and closes its descriptor.
class FolderWatcher final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;

    // Creates the folder (and missing parents) with mode 0700 when absent, then
    // starts watching. Returns none when the folder cannot be created or watched.
    static std::unique_ptr<FolderWatcher> create(const QString& folder, Handler handler);
    ~FolderWatcher() override;

    const QString& folder() const { return m_folder; }

private:
    FolderWatcher(QString folder, int fd, Handler handler);
    void drain();

    QString m_folder;
    int m_fd;
    Handler m_handler;
    QSocketNotifier* m_notifier;
};

// Creates `folder` and its missing parents with `mode`; true when it exists as a folder afterwards.
bool makeFolders(const QString& folder, unsigned mode);
