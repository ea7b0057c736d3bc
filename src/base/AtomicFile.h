#pragma once
// Replacing a file that users keep, so that it always holds either its old or its
// new whole text: write a temporary file in the same folder, flush it to disk,
// rename it over the target, then flush the folder.

#include <cstdint>
#include <functional>
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

// Called with the temporary file written and flushed, right before the rename,
// so a file that others may change meanwhile can be read once more. Sets
// `changed` after changing `contents` (the temporary file is then written
// again and the look repeated), or returns a negative code to leave the old
// file as it is.
using LastLook = std::function<int32_t(std::string& contents, bool& changed)>;
int32_t Replace(const std::string& path, std::string contents, const LastLook& lastLook);

// Removes the temporary files that a Replace(path) killed before its rename
// left beside the file. Only for a caller that keeps every other writer of
// `path` away (a lock): another writer's temporary file would go too.
void RemoveLeftovers(const std::string& path);

// The path of the file that Replace(path) writes: `path` with the symbolic
// links at its last component followed. 0, or a negative code (ELOOP after 40
// links) with `path` left at the last link read.
int32_t FollowLinks(std::string& path);

// The folder part of `path`: "." when it has none, "/" for a file at the root.
std::string FolderOf(const std::string& path);

// Flushes a folder to disk, so that entries just made in it survive a power cut.
// Returns 0 or the errno of the failure.
int SyncFolder(const std::string& path);

}  // namespace AtomicFile
