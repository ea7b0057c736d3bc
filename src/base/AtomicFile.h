#pragma once
// Replacing a file that users keep, so that it always holds either its old or its
// new whole text: write a temporary file in the same folder, flush it to disk,
// rename it over the target, then flush the folder.

#include <cstdint>
#include <string>
#include <string_view>

namespace AtomicFile {

// Writes `contents` to `path`. Returns 0 on success, else a negative code
// (FolderItem::CodeFromErrno); on failure the old file is untouched and the
// temporary file is removed. A new file gets mode 0644 less the umask; an
// existing file keeps its mode. A symbolic link at `path` stays: the file it
// names is replaced (created when missing), in that file's folder. An existing
// file that this account may not write is refused with kPermissionDenied, also
// for root when the file has no write bit at all.
int32_t Replace(const std::string& path, std::string_view contents);

}  // namespace AtomicFile
