#pragma once
// A location in the file system, file or folder, that may or may not exist.
// Holds only a path; every query asks the OS afresh. Failed operations leave a
// code in LastErrorCode(): 0, kPermissionDenied for permission problems, or
// another negative code derived from errno.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FolderItem {
 public:
  // The code that file-system operations report for EACCES, EPERM and EROFS.
  static constexpr int32_t kPermissionDenied = -5000;

  explicit FolderItem(std::string nativePath);

  bool Exists() const;
  bool IsFolder() const;
  bool IsReadable() const;
  bool IsWriteable() const;

  // Last path component ("" for the root).
  std::string Name() const;
  const std::string& NativePath() const { return mPath; }
  // None for the root.
  std::optional<FolderItem> Parent() const;
  FolderItem Child(const std::string& name) const;

  // Creates this location as one folder (mode 0777 less the umask). Returns false
  // and sets LastErrorCode() on failure; an existing folder is a failure too.
  bool CreateAsFolder();
  // The items of this folder in the order the OS lists them ("." and ".." left out).
  // Empty, with LastErrorCode() set, when it cannot be read.
  std::vector<FolderItem> Children();

  int32_t LastErrorCode() const { return mLastErrorCode; }

  // The code of an errno value: kPermissionDenied for permission problems,
  // otherwise that of base/SysError.h (0, or -errno).
  static int32_t CodeFromErrno(int err);

  bool operator==(const FolderItem& other) const { return mPath == other.mPath; }

 private:
  std::string mPath;
  int32_t mLastErrorCode = 0;
};
