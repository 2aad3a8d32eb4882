#include "page/clipbrd_files.h"

#include <QClipboard>
#include <QGuiApplication>

#include "page/file_mime_data.h"

HGLOBAL BuildClipboardBlock(const std::vector<std::string>& paths) {
  return BuildFileDropBlock(paths, 0, 0, false, kClipboardBlockFlags);
}

bool PutFilesOnClipboard(HGLOBAL block) {
  if (!block) return false;
  // The clipboard takes the adapter, and the adapter owns the block.
  QGuiApplication::clipboard()->setMimeData(
      new TFileMimeData(std::move(block), TFileMimeData::TPurpose::ClipboardCopy));
  return true;
}

bool CopyFilesToClipboard(const std::vector<std::string>& paths) {
  if (paths.empty()) return true;
  return PutFilesOnClipboard(BuildClipboardBlock(paths));
}
