#pragma once

#include <QString>

namespace files {

// Whether the entry at `path` is itself a folder. A symbolic link is judged as
// the link, not as its target, so a link to a folder is no folder here. Trailing
// "/" are ignored (they would make the system follow the link). False when the
// entry cannot be read.
bool isDirectoryEntry(const QString& path);

} // namespace files
