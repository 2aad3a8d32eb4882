#pragma once
// Puts found files on the clipboard as files (a file-drop block served as URLs by
// TFileMimeData), so a file manager's paste copies the real files.
#include <string>
#include <vector>

#include "page/data_obj.h"

// Replaces the clipboard's content with the given paths, in their order. An empty list
// leaves the clipboard untouched. Returns false only when the block cannot be built
// (out of memory, or a path holding a zero byte); the clipboard is then left as it was.
// UI thread.
bool CopyFilesToClipboard(const std::vector<std::string>& paths);

// The two halves of it, for a long list whose block is built away from the UI thread:
// the block for paths (null when it cannot be built; any thread), and the block put on
// the clipboard (false for a null block, the clipboard then left as it was; UI thread).
HGLOBAL BuildClipboardBlock(const std::vector<std::string>& paths);
bool PutFilesOnClipboard(HGLOBAL block);
