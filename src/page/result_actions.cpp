#include "page/result_actions.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTableView>

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "page/busy_cursor.h"
#include "page/clipbrd_files.h"
#include "page/desktop_open.h"
#include "page/file_mime_data.h"
#include "page/find_form.h"
#include "page/search_page.h"
#include "page/message_box.h"
#include "page/off_ui_thread.h"
#include "page/result_model.h"
#include "results/find_in_results.h"
#include "results/result_manager.h"

namespace {

const QString kResultFilter = QStringLiteral("Search results (*.dat)");
// "*" rather than "*.*": on this system many files have no extension at all.
const QString kAllFilesFilter = QStringLiteral("All files (*)");
const QString kHtmlFilter = QStringLiteral("HTML file (*.html)");
const QString kXmlFilter = QStringLiteral("XML file (*.xml)");

// A drag starts once the pointer has moved more than this many pixels (horizontal plus
// vertical distance) from the left-button press.
constexpr int kDragThreshold = 10;

std::string Bytes(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

// The extension a filter entry names ("HTML file (*.html)" -> "html"), empty for none.
QString SuffixOfFilter(const QString& filter) {
  static const QRegularExpression pattern(QStringLiteral("\\(\\*\\.(\\w+)\\)"));
  const QRegularExpressionMatch match = pattern.match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

QString AskWithFileDialog(QWidget* owner, const TFileDialogRequest& request) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(request.NameFilters);
  dialog.selectNameFilter(request.SelectedFilter);
  if (!request.Directory.isEmpty()) dialog.setDirectory(request.Directory);
  // A name typed without extension gets the one of the chosen filter entry, so that
  // choosing "HTML file" writes HTML; the request's suffix serves entries without one.
  const auto suffixFor = [&request](const QString& filter) {
    const QString suffix = SuffixOfFilter(filter);
    return suffix.isEmpty() ? request.DefaultSuffix : suffix;
  };
  dialog.setDefaultSuffix(suffixFor(request.SelectedFilter));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog, suffixFor](const QString& filter) { dialog.setDefaultSuffix(suffixFor(filter)); });
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

// The rows of lvResults as the find step sees them: the rows the view shows, their
// full names from the store, and the view's focus and selection.
class TViewFindRows final : public TFindRows {
 public:
  TViewFindRows(QTableView& view, const TResultManager& store) : View(view), Store(store) {}

  size_t RowCount() const override {
    return std::min<size_t>(size_t(View.model()->rowCount()), Store.Count());
  }
  void RowCaption(size_t row, std::string& caption) const override {
    const TSearchResult& result = Store.Item(row);
    caption.clear();
    if (result.Path) caption += *result.Path;
    caption += result.Name;
  }
  ptrdiff_t FocusedRow() const override {
    const QModelIndex current = View.currentIndex();
    return current.isValid() ? current.row() : -1;
  }
  void ClearSelection() override { View.selectionModel()->clearSelection(); }
  void SelectFound(size_t row) override {
    const QModelIndex index = View.model()->index(int(row), 0);
    View.selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    View.scrollTo(index, QAbstractItemView::EnsureVisible);
    // Repaint the list while the dialog stays open; typing and clicks wait for the step.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }

 private:
  QTableView& View;
  const TResultManager& Store;
};

}  // namespace

TResultListActions::TResultListActions(TResultListParts parts) : Parts(std::move(parts)) {
  QTableView* view = Parts.lvResults;
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setDragEnabled(false);  // the drag of found files is started here, as files
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  view->horizontalHeader()->setSectionsClickable(true);
  view->horizontalHeader()->setSortIndicatorShown(false);

  miCopy = new QAction(QStringLiteral("&Copy"), this);
  miCopy->setToolTip(QStringLiteral("Copy"));
  miCopy->setStatusTip(QStringLiteral("Copies the selection and puts it on the Clipboard"));
  miCopy->setProperty("ImageIndex", 23);
  miCopy->setIcon(TSearchPage::Image(23));
  miCopy->setShortcut(QKeySequence::Copy);
  miCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  miCopy->setEnabled(false);
  view->addAction(miCopy);  // Ctrl+C works while the list has the focus
  connect(miCopy, &QAction::triggered, this, [this] { actEditCopyExecute(); });

  QMenu* menu = Parts.popMain;
  menu->addAction(Parts.actOpenFile);
  menu->addAction(Parts.actBrowseDir);
  menu->addSeparator();
  menu->addAction(miCopy);
  menu->addSeparator();
  Sortby1 = menu->addMenu(TSearchPage::Image(14), QStringLiteral("Sort by"));
  for (QAction* sort : Parts.actSort) Sortby1->addAction(sort);
  menu->addAction(Parts.actClearResults);
  connect(menu, &QMenu::aboutToShow, this, [this] { UpdateActions(); });
  connect(view, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { Parts.popMain->popup(Parts.lvResults->viewport()->mapToGlobal(at)); });

  connect(Parts.actOpenFile, &QAction::triggered, this, [this] { actOpenFileExecute(); });
  connect(Parts.actBrowseDir, &QAction::triggered, this, [this] { actBrowseDirExecute(); });
  connect(Parts.actSaveToFile, &QAction::triggered, this, [this] { actSaveToFileExecute(); });
  connect(Parts.actLoadFromFile, &QAction::triggered, this, [this] { actLoadFromFileExecute(); });
  connect(Parts.actExport, &QAction::triggered, this, [this] { actExportExecute(); });
  for (int tag = 1; tag <= 6; ++tag)
    connect(Parts.actSort[tag - 1], &QAction::triggered, this, [this, tag] { actSort_1Execute(tag); });
  connect(Parts.actClearResults, &QAction::triggered, this, [this] { actClearResultsExecute(); });
  connect(Parts.actFastFind, &QAction::triggered, this, [this] { actFastFindExecute(); });

  // Rows that arrive, or a store replaced or emptied, are in no sorted order.
  connect(Parts.Model, &QAbstractItemModel::rowsInserted, this, [this] { ShowSortIndicator(0); });
  connect(Parts.Model, &QAbstractItemModel::modelReset, this, [this] { ShowSortIndicator(0); });
  connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int column) { lvResultsColumnClick(column); });
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateActions(); });
  view->installEventFilter(this);
  view->viewport()->installEventFilter(this);

  OpenUrl = [this](const QUrl& url) {
    // The desktop says nothing when it cannot open the file: the page does.
    if (const QString failure = OpenWithDesktop(url); !failure.isEmpty()) ShowErrorBox(Parts.Page, failure);
  };
  AskFileName = [this](const TFileDialogRequest& request) { return AskWithFileDialog(Parts.Page, request); };
  RunDragLoop = [this](IDataObject* data, IDropSource* source, uint32_t okEffects, uint32_t* effect) {
    return DoDragDrop(Parts.lvResults->viewport(), data, source, okEffects, effect);
  };
  ShowModal = [](TFindForm& dialog) { dialog.exec(); };
  UpdateActions();
}

TResultListActions::~TResultListActions() = default;

int TResultListActions::ShownRows() const {
  return std::min<int>(Parts.lvResults->model()->rowCount(), int(std::min<size_t>(Parts.Store->Count(), INT32_MAX)));
}

void TResultListActions::UpdateActions() {
  const bool searching = (Parts.Searching && Parts.Searching()) || IsBusy;
  const bool hasRows = Parts.Model->RowCount() > 0;
  const bool idleWithRows = !searching && hasRows;
  const int selected = SelectedRowCount();
  Parts.actOpenFile->setEnabled(selected == 1);
  Parts.actBrowseDir->setEnabled(selected == 1);
  Parts.actSaveToFile->setEnabled(idleWithRows);
  Parts.actLoadFromFile->setEnabled(!searching);
  Parts.actExport->setEnabled(idleWithRows);
  for (QAction* sort : Parts.actSort) sort->setEnabled(idleWithRows);
  Parts.actClearResults->setEnabled(idleWithRows);
  Parts.actFastFind->setEnabled(hasRows);
  miCopy->setEnabled(selected > 0);
}

int TResultListActions::SelectedRowCount() const {
  // Stops at the second distinct row: the rules only tell zero, one and several apart.
  int firstRow = -1;
  for (const QItemSelectionRange& range : Parts.lvResults->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      if (firstRow < 0)
        firstRow = row;
      else if (row != firstRow)
        return 2;
    }
  }
  return firstRow < 0 ? 0 : 1;
}

std::vector<int> TResultListActions::SelectedRows() const {
  std::vector<int> rows;
  const int shown = ShownRows();
  for (const QItemSelectionRange& range : Parts.lvResults->selectionModel()->selection())
    for (int row = range.top(); row <= range.bottom() && row < shown; ++row) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

bool TResultListActions::Allowed(QAction* action) {
  UpdateActions();
  return action->isEnabled();
}

std::vector<std::string> TResultListActions::SelectedFileNames() const {
  const std::vector<int> rows = SelectedRows();
  std::vector<std::string> names;
  names.reserve(rows.size());
  for (int row : rows) names.push_back(Parts.Store->Item(size_t(row)).FullName());
  return names;
}

void TResultListActions::actSort_1Execute(int tag) {
  if (tag < 1 || tag > 6 || !Allowed(Parts.actSort[tag - 1])) return;
  TBusyCursor busy;
  const int32_t old = Parts.Store->SortKey;
  const int32_t key = (old != 0 && std::abs(old) == tag) ? (old > 0 ? -tag : tag) : tag;
  // A million results take seconds to sort: the order is worked out on a thread of its
  // own while the window keeps drawing, and the records move only once it is known.
  // The commands that change the store are disabled meanwhile; user input waits.
  // The sorted records are a copy built there too: the UI thread only swaps them in, and
  // the old ones are freed away from it.
  std::unique_ptr<TSortedList<TSearchResult>> sorted;
  {
    TBusyScope busy(*this);
    RunOffUiThread([&] { sorted = Parts.Store->CopyInOrder(Parts.Store->SortedOrder(key)); },
                   QEventLoop::ExcludeUserInputEvents);
  }
  Parts.Store->SortKey = key;
  Parts.Store->SwapRecords(*sorted);
  Parts.Model->RowsChanged();
  ShowSortIndicator(key);
  UpdateActions();
  RunOffUiThread([&] { sorted.reset(); }, QEventLoop::ExcludeUserInputEvents);
}

TResultListActions::TBusyScope::TBusyScope(TResultListActions& owner) : Owner(owner) {
  Owner.IsBusy = true;
  Owner.UpdateActions();
}

TResultListActions::TBusyScope::~TBusyScope() {
  Owner.IsBusy = false;
  Owner.UpdateActions();
}

void TResultListActions::ShowSortIndicator(int32_t key) {
  QHeaderView* header = Parts.lvResults->horizontalHeader();
  const int tag = std::abs(key);
  int column = -1;
  for (int c = 0; c < TResultModel::kColumnCount; ++c)
    if (TResultModel::ColumnTag(c) == tag) column = c;
  // The bare file name has no column of its own: it is part of the full name.
  if (tag == skFileName) column = TResultModel::colFileName;
  const QSignalBlocker quiet(header);
  header->setSortIndicatorShown(column >= 0);
  header->setSortIndicator(column, key < 0 ? Qt::DescendingOrder : Qt::AscendingOrder);
  SortShown = column >= 0 ? key : 0;
}

void TResultListActions::lvResultsColumnClick(int column) {
  const int tag = TResultModel::ColumnTag(column);
  if (tag == skPath || tag == skSize || tag == skDate || tag == skTime || tag == skAttr) actSort_1Execute(tag);
  // The header turns its arrow at every click, also one that sorted nothing.
  ShowSortIndicator(SortShown);
}

void TResultListActions::actOpenFileExecute() {
  if (!Allowed(Parts.actOpenFile)) return;
  const std::vector<int> rows = SelectedRows();
  if (!rows.empty()) OpenUrl(UrlOfPath(Parts.Store->Item(size_t(rows.front())).FullName()));
}

void TResultListActions::actBrowseDirExecute() {
  if (!Allowed(Parts.actBrowseDir)) return;
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  const TSearchResult& result = Parts.Store->Item(size_t(rows.front()));
  if (result.Path) OpenUrl(UrlOfPath(*result.Path));
}

void TResultListActions::actEditCopyExecute() {
  if (!Allowed(miCopy)) return;
  bool copied = false;
  {
    TBusyCursor busy;
    // All of a million rows: their names and the clipboard's block are made away from
    // the UI thread (records below the shown count stay readable while a search adds).
    const std::vector<int> rows = SelectedRows();
    HGLOBAL block;
    {
      TBusyScope reading(*this);
      RunOffUiThread([&] {
        std::vector<std::string> names;
        names.reserve(rows.size());
        for (int row : rows) names.push_back(Parts.Store->Item(size_t(row)).FullName());
        block = BuildClipboardBlock(names);
      }, QEventLoop::ExcludeUserInputEvents);
    }
    copied = rows.empty() || PutFilesOnClipboard(std::move(block));
  }
  if (!copied) ShowErrorBox(Parts.Page, QStringLiteral("The selected files could not be put on the clipboard."));
}

void TResultListActions::actClearResultsExecute() {
  if (Allowed(Parts.actClearResults)) Parts.ClearResultsAndLog();
}

void TResultListActions::actFastFindExecute() {
  if (Allowed(Parts.actFastFind)) ShowFindDialog(QChar());
}

void TResultListActions::ShowFindDialog(QChar initialChar) {
  auto* dialog = new TFindForm(Parts.Page, initialChar);  // deletes itself when closed
  dialog->Tag = kFindJustOpened;
  dialog->OnFind = [this](TFindForm& form) { FindInResults(form); };
  ShowModal(*dialog);
}

void TResultListActions::FindInResults(TFindForm& dialog) {
  TBusyCursor busy;
  TViewFindRows rows(*Parts.lvResults, *Parts.Store);
  dialog.Tag = ::FindInResults(rows, dialog.edtFind->text().toLocal8Bit().toStdString(), dialog.Tag);
}

QString TResultListActions::AskAndRemember(const TFileDialogRequest& request) {
  const QString name = AskFileName(request);
  if (!name.isEmpty()) LastDialogFolder = Bytes(QFileInfo(name).absolutePath());
  return name;
}

void TResultListActions::ShowError(const std::exception& error) {
  ShowErrorBox(Parts.Page, QString::fromLocal8Bit(error.what()));
}

void TResultListActions::actSaveToFileExecute() {
  if (!Allowed(Parts.actSaveToFile)) return;
  const QString name = AskAndRemember({true, {kResultFilter, kAllFilesFilter}, kResultFilter, QStringLiteral("dat"),
                                       QFile::decodeName(LastDialogFolder.c_str())});
  if (name.isEmpty()) return;
  try {
    TBusyCursor busy;
    Parts.Store->SaveToFile(Bytes(name));
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void TResultListActions::actLoadFromFileExecute() {
  if (!Allowed(Parts.actLoadFromFile)) return;
  const QString name = AskAndRemember({false, {kResultFilter, kAllFilesFilter}, kResultFilter,
                                       QStringLiteral("dat"), QFile::decodeName(LastDialogFolder.c_str())});
  if (name.isEmpty()) return;
  QString failure;
  try {
    TBusyCursor busy;
    // Let the dialog vanish from the screen before the load starts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Parts.Store->LoadFromFile(Bytes(name));
  } catch (const std::exception& error) {
    failure = QString::fromLocal8Bit(error.what());
  }
  // Also after a failed load (the store empties itself first): the view shows exactly
  // what the store now holds, before the error is reported.
  Parts.SyncResultCount();
  Parts.Model->RowsChanged();
  ShowSortIndicator(0);  // a file's records come in its own order
  UpdateActions();
  if (!failure.isEmpty())
    ShowErrorBox(Parts.Page, failure);
  else if (const std::string& notice = Parts.Store->LoadNotice(); !notice.empty())
    // A file cut short: what it held is shown, and the user learns that more was lost.
    ShowInformation(Parts.Page, QString::fromLocal8Bit(notice.c_str()), ApplicationTitle());
}

void TResultListActions::actExportExecute() {
  if (!Allowed(Parts.actExport)) return;
  const QString name = AskAndRemember({true, {kHtmlFilter, kXmlFilter}, kHtmlFilter, QStringLiteral("xml"),
                                       QFile::decodeName(LastDialogFolder.c_str())});
  if (name.isEmpty()) return;
  try {
    TBusyCursor busy;
    if (QFileInfo(name).suffix().toUpper() == QStringLiteral("XML"))
      Parts.Store->ExportToXML(Bytes(name));
    else
      Parts.Store->ExportToHTML(Bytes(name));
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

bool TResultListActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Parts.lvResults && event->type() == QEvent::KeyPress)
    return lvResultsKeyPress(static_cast<QKeyEvent*>(event));
  if (watched == Parts.lvResults->viewport()) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: return lvResultsMouseDown(static_cast<QMouseEvent*>(event));
      case QEvent::MouseMove: return lvResultsMouseMove(static_cast<QMouseEvent*>(event));
      case QEvent::MouseButtonRelease: return lvResultsMouseUp(static_cast<QMouseEvent*>(event));
      default: break;
    }
  }
  return QObject::eventFilter(watched, event);
}

bool TResultListActions::lvResultsKeyPress(QKeyEvent* event) {
  // The view would copy the current cell as text; found files leave only as files.
  if (event->matches(QKeySequence::Copy)) return true;
  const int key = event->key();
  TypeToFind = ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) &&
               !event->modifiers().testFlag(Qt::KeypadModifier);
  if (!TypeToFind) return false;
  // Ctrl, Alt and Meta combinations are shortcuts (select all, menus), not typing.
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = event->text();
  if (text.isEmpty() || !text.front().isPrint()) return false;
  ShowFindDialog(text.front());
  return true;  // the list's own keyboard search does not run
}

bool TResultListActions::lvResultsMouseDown(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return false;
  const QPoint at = event->position().toPoint();
  DragStartX = at.x();
  DragStartY = at.y();
  // A plain press on one of several selected rows keeps the selection until the button
  // is released without a drag, so that all of them can be dragged together.
  const QModelIndex index = Parts.lvResults->indexAt(at);
  if (event->modifiers() == Qt::NoModifier && index.isValid() &&
      Parts.lvResults->selectionModel()->isRowSelected(index.row()) && SelectedRowCount() > 1) {
    PressedSelectedRow = index.row();
    Parts.lvResults->setFocus(Qt::MouseFocusReason);
    return true;
  }
  PressedSelectedRow = -1;
  return false;
}

bool TResultListActions::lvResultsMouseUp(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return false;
  DragStartX = -1;
  DragStartY = -1;
  if (PressedSelectedRow < 0) return false;
  // A click without a drag: only the clicked row stays selected, as a press would have left it.
  const QModelIndex index = Parts.lvResults->model()->index(PressedSelectedRow, 0);
  PressedSelectedRow = -1;
  Parts.lvResults->selectionModel()->setCurrentIndex(index,
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  return true;
}

bool TResultListActions::lvResultsMouseMove(QMouseEvent* event) {
  if (Dragging || !event->buttons().testFlag(Qt::LeftButton) || DragStartX == -1 || DragStartY == -1) return false;
  const QPoint at = event->position().toPoint();
  if (std::abs(at.x() - DragStartX) + std::abs(at.y() - DragStartY) <= kDragThreshold) return false;
  StartDrag();
  return true;
}

void TResultListActions::StartDrag() {
  Dragging = true;
  DragStartX = -1;
  DragStartY = -1;
  PressedSelectedRow = -1;
  struct TDragEnd {
    bool& Flag;
    ~TDragEnd() { Flag = false; }
  } dragEnd{Dragging};

  std::vector<std::string> names = SelectedFileNames();
  if (names.empty()) return;
  TComPtr<IDropSource> source = TFileSource::Create();
  TComPtr<IDataObject> data = TDataObject::Create(std::move(names), true, 100, 100);
  uint32_t effect = DROPEFFECT_NONE;
  const HRESULT result = RunDragLoop(data.Get(), source.Get(), DROPEFFECT_COPY, &effect);
  if (result < 0)
    ShowErrorBox(Parts.Page, QStringLiteral("Drag and drop failed (error 0x%1).")
                                 .arg(static_cast<uint32_t>(result), 8, 16, QLatin1Char('0')));
}
