#include "page/file_mime_data.h"

#include <QDrag>
#include <QFile>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
// Pasted into a text field, a copy gives the full names as the list shows them.
const QString kPlainText = QStringLiteral("text/plain");
const QString kPlainTextUtf8 = QStringLiteral("text/plain;charset=utf-8");

bool IsUncPath(const std::string& path) { return path.size() > 2 && path[0] == '\\' && path[1] == '\\'; }

}  // namespace

QUrl UrlOfPath(const std::string& path) {
  if (!IsUncPath(path)) return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
  // \\server\share\dir\name -> smb://server/share/dir/name
  const QString rest = QFile::decodeName(QByteArray::fromStdString(path.substr(2)));
  const qsizetype hostEnd = rest.indexOf(QLatin1Char('\\'));
  QUrl url;
  url.setScheme(QStringLiteral("smb"));
  url.setHost(hostEnd < 0 ? rest : rest.left(hostEnd));
  QString folders = hostEnd < 0 ? QStringLiteral("/") : rest.mid(hostEnd);
  folders.replace(QLatin1Char('\\'), QLatin1Char('/'));
  url.setPath(folders, QUrl::DecodedMode);
  return url;
}

TFileMimeData::TFileMimeData(TComPtr<IDataObject> dataObject, TPurpose purpose)
    : DataObject(std::move(dataObject)), Purpose(purpose) {}

TFileMimeData::TFileMimeData(HGLOBAL block, TPurpose purpose) : Block(std::move(block)), Purpose(purpose) {}

TFileMimeData::~TFileMimeData() = default;

QStringList TFileMimeData::formats() const {
  QStringList list{kUriList};
  if (Purpose == TPurpose::ClipboardCopy) list << kGnomeCopiedFiles << kPlainTextUtf8 << kPlainText;
  return list;
}

bool TFileMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

std::vector<std::string> TFileMimeData::FileNames() const {
  if (Block) return ReadFileDropBlock(*Block);
  if (!DataObject) return {};
  FORMATETC format = kFileDropFormats[0];
  STGMEDIUM medium;
  if (DataObject->GetData(&format, &medium) != S_OK || !medium.hGlobal) return {};
  return ReadFileDropBlock(*medium.hGlobal);  // the medium's block is ours and goes with it
}

QVariant TFileMimeData::retrieveData(const QString& mimeType, QMetaType) const {
  if (!hasFormat(mimeType)) return {};
  const std::vector<std::string> names = FileNames();
  QByteArray data;
  if (mimeType == kUriList) {
    for (const std::string& name : names) data += UrlOfPath(name).toEncoded() + "\r\n";
  } else if (mimeType == kPlainText || mimeType == kPlainTextUtf8) {
    // One full name a line, as typed in a terminal or a file dialog: not a link.
    QStringList lines;
    for (const std::string& name : names) lines << QFile::decodeName(QByteArray::fromStdString(name));
    if (mimeType == kPlainText) return lines.join(QLatin1Char('\n'));
    return lines.join(QLatin1Char('\n')).toUtf8();
  } else {
    data = "copy";
    for (const std::string& name : names) data += '\n' + UrlOfPath(name).toEncoded();
  }
  return data;
}

HRESULT DoDragDrop(QObject* dragSource, IDataObject* dataObject, IDropSource* dropSource, uint32_t okEffects,
                   uint32_t* effect) {
  if (effect != nullptr) *effect = DROPEFFECT_NONE;
  if (dragSource == nullptr || dataObject == nullptr || dropSource == nullptr) return E_POINTER;
  // The toolkit runs its own loop and ends it by the drop source's rule (Escape cancels,
  // releasing the left button drops), so dropSource is held for the loop, not polled.
  dataObject->AddRef();
  auto* drag = new QDrag(dragSource);  // owned by dragSource, deleted by the toolkit after exec
  drag->setMimeData(new TFileMimeData(TComPtr<IDataObject>::Adopt(dataObject), TFileMimeData::TPurpose::Drag));
  const Qt::DropActions allowed = (okEffects & DROPEFFECT_COPY) != 0 ? Qt::CopyAction : Qt::IgnoreAction;
  const Qt::DropAction done = drag->exec(allowed, Qt::CopyAction);
  if (done == Qt::IgnoreAction) return DRAGDROP_S_CANCEL;
  if (effect != nullptr) *effect = DROPEFFECT_COPY;
  return DRAGDROP_S_DROP;
}
