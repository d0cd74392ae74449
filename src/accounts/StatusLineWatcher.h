#pragma once

#include <QString>
#include <functional>
#include <memory>

class FolderWatcher;

// Watches the statusLine bridge folder: each burst of files created, written,
// moved or removed there calls the handler once, on the thread that built the
// watcher (the main thread). Destroying the watcher stops it and closes the
// folder's descriptor.
class StatusLineWatcher {
public:
    using Handler = std::function<void()>;

    // Creates the folder with missing parents (mode 0700; an existing folder is
    // kept as it is) and starts watching it. None when the folder cannot be
    // created or watched; the reason is dropped.
    static std::unique_ptr<StatusLineWatcher> create(const QString& folder, Handler handler);
    ~StatusLineWatcher();

    StatusLineWatcher(const StatusLineWatcher&) = delete;
    StatusLineWatcher& operator=(const StatusLineWatcher&) = delete;

    const QString& folder() const;

private:
    explicit StatusLineWatcher(std::unique_ptr<FolderWatcher> source);

    std::unique_ptr<FolderWatcher> m_source;
};
