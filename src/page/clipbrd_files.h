#pragma once
// Puts found files on the clipboard as files (a file-drop block served as URLs by
// TFileMimeData), so a file manager's paste copies the real files. UI thread only.
#include <string>
#include <vector>

// Replaces the clipboard's content with the given paths, in their order. An empty list
// leaves the clipboard untouched. Returns false only when the block cannot be built
// (out of memory, or a path holding a zero byte); the clipboard is then left as it was.
bool CopyFilesToClipboard(const std::vector<std::string>& paths);
