#include "page/clipbrd_files.h"

#include <QClipboard>
#include <QGuiApplication>

#include "page/data_obj.h"
#include "page/file_mime_data.h"

bool CopyFilesToClipboard(const std::vector<std::string>& paths) {
  if (paths.empty()) return true;
  HGLOBAL block = BuildFileDropBlock(paths, 0, 0, false, kClipboardBlockFlags);
  if (!block) return false;
  // The clipboard takes the adapter, and the adapter owns the block.
  QGuiApplication::clipboard()->setMimeData(
      new TFileMimeData(std::move(block), TFileMimeData::TPurpose::ClipboardCopy));
  return true;
}
