#include "accounts/StatusLineWatcher.h"

#include "platform/FolderWatcher.h"

std::unique_ptr<StatusLineWatcher> StatusLineWatcher::create(const QString& folder, Handler handler)
{
    std::unique_ptr<FolderWatcher> source = FolderWatcher::create(folder, std::move(handler));
    if (!source)
        return nullptr;
    return std::unique_ptr<StatusLineWatcher>(new StatusLineWatcher(std::move(source)));
}

StatusLineWatcher::StatusLineWatcher(std::unique_ptr<FolderWatcher> source)
    : m_source(std::move(source))
{
}

StatusLineWatcher::~StatusLineWatcher() = default;

const QString& StatusLineWatcher::folder() const
{
    return m_source->folder();
}
