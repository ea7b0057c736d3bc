#pragma once
// Creating and checking the folders that the download run works in.

#include <cstdint>
#include <optional>
#include <string>

#include "base/BaseError.h"
#include "base/FolderItem.h"

namespace FolderUtils {

// The family of folder errors; catching FolderUtilsException catches all four.
// ErrorNumber is 0 or a FolderItem code (FolderItem::kPermissionDenied for
// permission problems).
PELOX5_DECLARE_ERROR(FolderUtilsException, BaseError);
PELOX5_DECLARE_ERROR(FolderNotFoundException, FolderUtilsException);
PELOX5_DECLARE_ERROR(CreateFolderException, FolderUtilsException);
PELOX5_DECLARE_ERROR(RootPathException, FolderUtilsException);

// Creates every missing folder along `path`, one component at a time from the
// file-system root. A relative path is taken from the current working directory.
// Empty components ("//", a trailing "/") are skipped; existing components are
// passed through. Raises CreateFolderException at the first component that
// cannot be created (its ErrorNumber the failure's code); folders created before
// it stay.
void makedirs(const std::string& path);

// Asks the user a yes/no question. This tool never asks: the answer is 0 (no).
int32_t askme(const std::string& question);

// True when `folder` is given, exists, is a directory, is readable and, when
// `requireWriteable`, writeable; otherwise raises FolderUtilsException (ErrorNumber
// 0) naming the first test that failed, in that order.
bool checkfolder(const std::optional<FolderItem>& folder, bool requireWriteable);

}  // namespace FolderUtils
