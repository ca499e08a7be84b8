// Replacing a file so that it holds either all of its old bytes or all of the new ones: a full
// disk, a file size limit or a read-only mount must never leave it empty or cut short.
#pragma once

#include <string>
#include <string_view>

namespace app {

// Writes data to a new file beside path, flushes it to the disk and renames it over path,
// keeping the old file's permission bits and, where allowed, its owner. A symbolic link is
// followed: the file it names is replaced and the link stays. False when any step fails; path
// is then as it was and no temporary file is left.
bool ReplaceFileAtomically(const std::string& path, std::string_view data);

}  // namespace app
