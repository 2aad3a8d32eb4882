#pragma once
// The toolkit side of found files leaving the program: a QMimeData that serves the
// paths of a file-drop block as URLs, so that a file manager copies the real files.
//
// Offered formats: "text/uri-list" (local names as file:// URLs, UNC names as smb://
// URLs, one per line, CR LF after each) and, for a clipboard copy, also
// "x-special/gnome-copied-files" ("copy" and the URLs, one per line). No plain text
// is offered: pasting into a text editor pastes nothing.
//
// UI thread only.
#include <QMimeData>
#include <QUrl>

#include <string>
#include <vector>

#include "page/data_obj.h"

class QObject;

// The URL that opens or names one path: "/a/b" -> file:///a/b, "\\srv\share\d\f" ->
// smb://srv/share/d/f. Bytes are decoded from the system code page.
QUrl UrlOfPath(const std::string& path);

class TFileMimeData : public QMimeData {
  Q_OBJECT

 public:
  enum class TPurpose { Drag, ClipboardCopy };

  // Over a data object: every request asks it for a fresh CF_HDROP block (drag).
  TFileMimeData(TComPtr<IDataObject> dataObject, TPurpose purpose);
  // Over a block this adapter owns from now on (clipboard: the clipboard owns the
  // adapter, and with it the block).
  TFileMimeData(HGLOBAL block, TPurpose purpose);
  ~TFileMimeData() override;

  QStringList formats() const override;
  bool hasFormat(const QString& mimeType) const override;

  // The paths the block carries, in the block's order.
  std::vector<std::string> FileNames() const;

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

 private:
  TComPtr<IDataObject> DataObject;
  HGLOBAL Block;
  TPurpose Purpose;
};

// Runs the toolkit's modal drag loop with the data object's files, allowing only copy.
// The toolkit decides the end of the loop itself, by the same rule as TFileSource
// (Escape cancels, releasing the left button drops); dropSource is held for the loop
// but not polled. Returns DRAGDROP_S_DROP (effect copy) or DRAGDROP_S_CANCEL (effect
// none). dragSource: the widget the drag starts from.
HRESULT DoDragDrop(QObject* dragSource, IDataObject* dataObject, IDropSource* dropSource,
                   uint32_t okEffects, uint32_t* effect);
