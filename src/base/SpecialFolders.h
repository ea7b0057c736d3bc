#pragma once
// The user's folders, taken from the environment so tests can point them at
// temporary folders: HOME, XDG_CONFIG_HOME, XDG_DOCUMENTS_DIR.

#include "base/FolderItem.h"

namespace SpecialFolders {

// $HOME (or the password database entry when HOME is unset).
FolderItem Home();
// $XDG_CONFIG_HOME, else ~/.config.
FolderItem ApplicationData();
// $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR entry of ~/.config/user-dirs.dirs
// (or of $XDG_CONFIG_HOME/user-dirs.dirs), else ~/Documents.
FolderItem Documents();
FolderItem CurrentWorkingDirectory();

}  // namespace SpecialFolders
