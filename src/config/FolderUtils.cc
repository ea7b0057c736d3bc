#include "config/FolderUtils.h"

#include <vector>

#include "base/SpecialFolders.h"

namespace FolderUtils {

namespace {

std::vector<std::string> SplitAtSlash(const std::string& path) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) {
      pieces.push_back(path.substr(start));
      return pieces;
    }
    pieces.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
}

}  // namespace

void makedirs(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute.front() != '/')
    absolute = SpecialFolders::CurrentWorkingDirectory().NativePath() + "/" + absolute;

  FolderItem current("/");
  if (!current.Exists())
    throw RootPathException("Root folder does not exist.", current.LastErrorCode());

  std::vector<std::string> pieces = SplitAtSlash(absolute);
  // The first piece is the empty text before the leading "/".
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string& piece = pieces[i];
    if (piece.empty()) continue;
    // A NUL byte would silently cut the path short at the OS call.
    if (piece.find('\0') != std::string::npos)
      throw CreateFolderException("Child subfolder: " + piece + " cant be created on path.",
                                  current.LastErrorCode());
    FolderItem child = current.Child(piece);
    // A folder made meanwhile by another run is as good as one made here.
    if (!child.Exists() && !child.CreateAsFolder() && !child.IsFolder()) {
      int32_t code = child.LastErrorCode();
      std::string message = "Failed to create subdir: " + piece;
      message += code == FolderItem::kPermissionDenied ? " (Possible File permissions error)" : " ";
      throw CreateFolderException(message, code);
    }
    current = child;
  }
}

int32_t askme(const std::string& /*question*/) { return 0; }

bool checkfolder(const std::optional<FolderItem>& folder, bool requireWriteable) {
  if (!folder) throw FolderUtilsException("chkfolder(): - target folder object is nil.");
  if (!folder->Exists()) throw FolderUtilsException("chkfolder(): - target folder does not exist.");
  if (!folder->IsFolder())
    throw FolderUtilsException("chkfolder(): - target folder is not a directory.");
  if (!folder->IsReadable())
    throw FolderUtilsException("chkfolder(): - target folder is not readable (permissions?)");
  if (requireWriteable && !folder->IsWriteable())
    throw FolderUtilsException("chkfolder(): - target folder is not writeable (permissions?).");
  return true;
}

}  // namespace FolderUtils
