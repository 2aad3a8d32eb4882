#include "page/search_page.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

#include "engine/masks.h"
#include "engine/search_manager.h"
#include "os/ui_thread.h"
#include "page/file_masks_menu.h"
#include "page/index_typing.h"
#include "page/log_model.h"
#include "page/message_box.h"
#include "page/result_actions.h"
#include "page/result_model.h"
#include "results/logger.h"
#include "results/result_manager.h"
#include "settings/program_options.h"
#include "settings/setting.h"

namespace {

TSearchPage::TImageSource& ImageSourceSlot() {
  static TSearchPage::TImageSource source;
  return source;
}

QString ToDisplay(const std::string& text) { return QString::fromLocal8Bit(text); }
std::string FromDisplay(const QString& text) { return text.toLocal8Bit().toStdString(); }

// Leading and trailing blanks (spaces, tabs, line breaks) removed; blanks inside stay.
std::string Trimmed(const std::string& text) {
  const auto isBlank = [](unsigned char c) { return c <= ' '; };
  auto first = std::find_if_not(text.begin(), text.end(), isBlank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return QString::compare(ToDisplay(a), ToDisplay(b), Qt::CaseInsensitive) == 0;
}

QAction* NewAction(QObject* owner, const char* caption, const char* hint, int image) {
  auto* action = new QAction(QString::fromLatin1(caption), owner);
  if (hint != nullptr) {
    // A hint is "short|long": the short part is the tool tip, the long one the status tip.
    const QString text = QString::fromLatin1(hint);
    action->setToolTip(text.section(QLatin1Char('|'), 0, 0));
    action->setStatusTip(text.section(QLatin1Char('|'), -1));
  }
  action->setProperty("ImageIndex", image);
  if (image >= 0) action->setIcon(TSearchPage::Image(image));
  return action;
}

QTableView* NewListView(QWidget* parent) {
  auto* view = new QTableView(parent);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setShowGrid(true);
  view->setWordWrap(false);
  view->setCornerButtonEnabled(false);
  view->verticalHeader()->hide();
  // Fixed row heights: the view never measures rows, whatever their number.
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
  view->horizontalHeader()->setHighlightSections(false);
  return view;
}

}  // namespace

void TSearchPage::SetImageSource(TImageSource source) { ImageSourceSlot() = std::move(source); }

QIcon TSearchPage::Image(int slot) {
  return ImageSourceSlot() ? ImageSourceSlot()(slot) : QIcon();
}

TSearchPage::TSearchPage(QWidget* owner, std::vector<std::string>& inputHistory)
    : QWidget(owner), InputHistory(inputHistory) {
  CreateActions();
  CreateComponents();

  Store = std::make_unique<TResultManager>();
  Store->OnChange = [this](TResultManager*) { SyncResultCount(); };
  Log = std::make_unique<TLogger>();
  Log->OnChange = [this](TLogger*) { SyncLogCount(); };
  Manager = std::make_unique<TSearchManager>(*Store, *Log);
  Manager->OnThreadChange = [this](TSearchManager*) { SearchStateChanged(); };
  Settings = std::make_unique<TSetting>();
  LoadPageDefaults(*Settings);

  Results = new TResultModel(*Store, this);
  lvResults->setModel(Results);
  auto* header = lvResults->horizontalHeader();
  header->setSectionResizeMode(TResultModel::colFileName, QHeaderView::Stretch);
  for (int column : {TResultModel::colSize, TResultModel::colDate, TResultModel::colTime})
    lvResults->setColumnWidth(column, 70);
  header->setStretchLastSection(false);
  // A long full name loses its middle, not its end: the file name stays readable.
  lvResults->setTextElideMode(Qt::ElideMiddle);
  LogRows = new TLogModel(*Log, this);
  lvLog->setModel(LogRows);
  lvLog->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  connect(lvResults->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ScheduleUpdateActions(); });
  TResultListParts parts;
  parts.Page = this;
  parts.lvResults = lvResults;
  parts.popMain = popMain;
  parts.Store = Store.get();
  parts.Model = Results;
  parts.actOpenFile = actOpenFile;
  parts.actBrowseDir = actBrowseDir;
  parts.actSaveToFile = actSaveToFile;
  parts.actLoadFromFile = actLoadFromFile;
  parts.actExport = actExport;
  parts.actSort = SortActions();
  parts.actClearResults = actClearResults;
  parts.actFastFind = actFastFind;
  parts.Searching = [this] { return IsSearching; };
  parts.SyncResultCount = [this] { SyncResultCount(); };
  parts.ClearResultsAndLog = [this] {
    ClearResultsAndLog();
    if (OnPageChange) OnPageChange(this);
  };
  ResultCommands = std::make_unique<TResultListActions>(std::move(parts));
  TypingAnswers = new TIndexTyping(*this);
  UpdateActions();
}

TSearchPage::~TSearchPage() {
  ShutDown();
  // Workers' last notifications still arrive while the manager waits for them; they
  // must not reach a page whose members are going.
  Manager->OnThreadChange = nullptr;
  Store->OnChange = nullptr;
  Log->OnChange = nullptr;
  ResultCommands.reset();
  delete TypingAnswers;  // its query thread ends before the store goes
  TypingAnswers = nullptr;
  // The manager waits for its workers, so nothing delivers to the store or the log
  // once it is gone; the views let go of the models before the store and log go.
  Manager.reset();
  lvResults->setModel(nullptr);
  lvLog->setModel(nullptr);
  delete Results;
  delete LogRows;
  Store.reset();
  Log.reset();
  Settings.reset();
}

void TSearchPage::CreateActions() {
  actStartSearch = NewAction(this, "Start search", "Start search|Start search", kStartImage);
  actSelectMask = NewAction(this, "", "Select file mask", 28);
  actOpenFile = NewAction(this, "Open file", "Open", -1);
  actBrowseDir = NewAction(this, "Open folder", "Open folder", -1);
  actSaveToFile = NewAction(this, "Save results", "Save", 12);
  actLoadFromFile = NewAction(this, "Load result", nullptr, 10);
  actExport = NewAction(this, "Export results", "Export results", 11);
  static const char* const kSortCaptions[6] = {"Path", "File name", "Size", "Date", "Time", "Attr"};
  QAction** sorts[6] = {&actSort_1, &actSort_2, &actSort_3, &actSort_4, &actSort_5, &actSort_6};
  for (int i = 0; i < 6; ++i) {
    *sorts[i] = NewAction(this, kSortCaptions[i], nullptr, -1);
    (*sorts[i])->setData(i + 1);  // the sort key (tag) of the action
  }
  actClearResults = NewAction(this, "Clear results", nullptr, -1);
  actFastFind = NewAction(this, "Find in results", nullptr, 2);

  connect(actStartSearch, &QAction::triggered, this, [this] { actStartSearchExecute(); });
  connect(actSelectMask, &QAction::triggered, this, [this] { actSelectMaskExecute(); });
}

std::array<QAction*, 6> TSearchPage::SortActions() const {
  return {actSort_1, actSort_2, actSort_3, actSort_4, actSort_5, actSort_6};
}

void TSearchPage::CreateComponents() {
  PatternPanel = new QFrame(this);
  PatternPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PatternPanel->setFixedHeight(35);
  PatternLabel = new QLabel(QStringLiteral("File name or mask:"), PatternPanel);
  cmbPattern = new QComboBox(PatternPanel);
  cmbPattern->setEditable(true);
  cmbPattern->setInsertPolicy(QComboBox::NoInsert);
  // The history is offered as a list of suggestions under the box; it never completes the
  // text in place, so the pattern searched is always the one typed.
  cmbPattern->completer()->setCompletionMode(QCompleter::PopupCompletion);
  // 241 pixels wide; narrower only when the window is too narrow for the whole row, so the
  // buttons beside it never overlap its drop-down arrow.
  cmbPattern->setMinimumWidth(120);
  cmbPattern->setMaximumWidth(241);
  cmbPattern->setProperty("HelpContext", 10);
  PatternLabel->setBuddy(cmbPattern);
  btnSelectMask = new QToolButton(PatternPanel);
  btnSelectMask->setDefaultAction(actSelectMask);
  btnSelectMask->setAutoRaise(true);
  btnSelectMask->setFixedSize(21, 21);
  btnStart = new QToolButton(PatternPanel);
  btnStop = new QToolButton(PatternPanel);
  for (QToolButton* button : {btnStart, btnStop}) {
    button->setDefaultAction(actStartSearch);
    button->setAutoRaise(true);
    button->setFixedSize(105, 22);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  }
  btnStop->hide();

  auto* panelLayout = new QHBoxLayout(PatternPanel);
  panelLayout->setContentsMargins(6, 4, 6, 4);
  panelLayout->addWidget(PatternLabel);
  panelLayout->addWidget(cmbPattern, 1000);
  panelLayout->addWidget(btnSelectMask);
  panelLayout->addWidget(btnStart);
  panelLayout->addWidget(btnStop);
  panelLayout->addStretch(1);

  LogSplitter = new QSplitter(Qt::Vertical, this);
  LogSplitter->setHandleWidth(4);
  LogSplitter->setChildrenCollapsible(false);
  lvResults = NewListView(LogSplitter);
  lvResults->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvResults->setContextMenuPolicy(Qt::CustomContextMenu);
  lvLog = NewListView(LogSplitter);
  lvLog->setSelectionMode(QAbstractItemView::SingleSelection);
  lvLog->setMinimumHeight(40);
  LogSplitter->addWidget(lvResults);
  LogSplitter->addWidget(lvLog);
  // Growing the window grows the result list; the log pane keeps its height.
  LogSplitter->setStretchFactor(0, 1);
  LogSplitter->setStretchFactor(1, 0);
  popMain = new QMenu(this);
  popFileMasks = new QMenu(this);

  auto* pageLayout = new QVBoxLayout(this);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->setSpacing(0);
  pageLayout->addWidget(PatternPanel);
  pageLayout->addWidget(LogSplitter, 1);

  connect(cmbPattern, &QComboBox::editTextChanged, this, [this] { cmbPatternChange(); });
  // Enter in the pattern box starts the search; during a search it stops nothing.
  connect(cmbPattern->lineEdit(), &QLineEdit::returnPressed, this, [this] {
    if (actStartSearch->property("ImageIndex").toInt() == kStartImage) actStartSearchExecute();
  });
}

void TSearchPage::cmbPatternChange() {
  if (PatternChange) PatternChange(cmbPattern);
  if (TypingAnswers != nullptr) TypingAnswers->PatternChanged();
}

void TSearchPage::actSelectMaskExecute() {
  if (MaskMenu != nullptr) MaskMenu->actSelectMaskExecute();
}

void TSearchPage::SetFileMaskGroups(std::vector<std::string>& groups) {
  delete MaskMenu;
  MaskMenu = new TFileMasksMenu(*this, groups);
}

std::string TSearchPage::PatternText() const { return FromDisplay(cmbPattern->currentText()); }

void TSearchPage::SetPatternItems(const std::vector<std::string>& items) {
  const QSignalBlocker quiet(cmbPattern);
  const QString text = cmbPattern->currentText();
  cmbPattern->clear();
  for (const std::string& item : items) cmbPattern->addItem(ToDisplay(item));
  cmbPattern->setEditText(text);
}

bool TSearchPage::Sorting() const { return ResultCommands && ResultCommands->Busy(); }

int TSearchPage::ResultRowCount() const { return Results->RowCount(); }
int TSearchPage::LogRowCount() const { return LogRows->RowCount(); }

std::vector<int> TSearchPage::ColumnWidths() const {
  std::vector<int> widths;
  for (int column = TResultModel::colSize; column < TResultModel::kColumnCount; ++column)
    widths.push_back(lvResults->columnWidth(column));
  return widths;
}

void TSearchPage::SetColumnWidths(const std::vector<int>& widths) {
  for (size_t i = 0; i < widths.size() && TResultModel::colSize + int(i) < TResultModel::kColumnCount; ++i)
    lvResults->setColumnWidth(TResultModel::colSize + int(i), widths[i]);
}

int TSearchPage::LogHeight() const {
  // Once laid out, the pane's own height (also after the window has been hidden at exit);
  // before that, the height asked for.
  if (WasShown) return lvLog->height();
  return lvLog->property("RequestedHeight").isValid() ? lvLog->property("RequestedHeight").toInt()
                                                      : lvLog->sizeHint().height();
}

void TSearchPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  WasShown = true;
}

void TSearchPage::SetLogHeight(int height) {
  height = std::max(height, lvLog->minimumHeight());
  lvLog->setProperty("RequestedHeight", height);
  const QList<int> sizes = LogSplitter->sizes();
  const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
  if (total > height)
    LogSplitter->setSizes({total - height, height});
  else
    LogSplitter->setSizes({std::max(height * 3, 200), height});
}

void TSearchPage::actStartSearchExecute() {
  // A sort in progress reads the store: a new search would empty it.
  if (!actStartSearch->isEnabled() || Sorting()) return;
  if (actStartSearch->property("ImageIndex").toInt() == kStartImage)
    StartSearch();
  else
    StopSearch(false);
}

void TSearchPage::StartSearch() {
  // 1. The pattern, trimmed; an empty one searches for everything.
  std::string pattern = Trimmed(PatternText());
  if (pattern.empty()) {
    pattern = "*.*";
    {
      const QSignalBlocker quiet(cmbPattern);
      cmbPattern->setEditText(QStringLiteral("*.*"));
    }
    if (PatternChange) PatternChange(cmbPattern);
  }
  // A malformed mask would search everything and silently find nothing: say so instead,
  // and start nothing.
  try {
    for (const std::string& mask : SplitMasks(pattern)) TMask check(mask);
  } catch (const TMaskError& error) {
    ShowErrorBox(this, QString::fromLocal8Bit(error.what()));
    return;
  }
  TypingAnswers->LiveSearchStarts();
  IsCompletionPending = true;                                     // 2
  Manager->MaxThreads = ProgramOptions().MaxThreads;              // 3
  SavedPatternChange = std::move(PatternChange);                  // 4
  PatternChange = nullptr;
  actStartSearch->setEnabled(false);                              // 5
  UpdatePatternHistory();                                         // 6
  SetSearchButtonState(kStopImage);                               // 7
  IsSearching = true;                                             // 8
  ScheduleUpdateActions();
  ClearResultsAndLog();                                           // 9

  auto task = std::make_unique<TSearchTask>();                    // 10
  task->Criteria() = CriteriaOf(pattern, *Settings);
  if (!Settings->NetResource)
    task->Path = Settings->NetResPath;
  else if (Settings->NetResource->dwUsage & RESOURCEUSAGE_CONNECTABLE)
    task->Path = Settings->NetResource->lpRemoteName.value_or(std::string());
  else
    CopyNetResource(*Settings->NetResource, task->NetResource);

  try {
    Manager->AddTask(std::move(task));                            // 11
  } catch (const std::exception& error) {
    // No worker could be started: the search ends here, without a completion message,
    // instead of staying "searching" for ever.
    IsCompletionPending = false;
    ShowErrorBox(this, QString::fromLocal8Bit(error.what()));
    if (Manager->IsFinished()) {
      SearchStateChanged();
      return;
    }
  }
  actStartSearch->setEnabled(true);                               // 12
}

void TSearchPage::UpdatePatternHistory() {
  const std::string text = Trimmed(PatternText());
  auto found = std::find_if(InputHistory.begin(), InputHistory.end(),
                            [&](const std::string& entry) { return SameIgnoringCase(entry, text); });
  if (found == InputHistory.end()) {
    if (InputHistory.size() >= size_t(TProgramOptions::InputHistoryLimit)) InputHistory.pop_back();
    InputHistory.insert(InputHistory.begin(), text);
  } else {
    std::rotate(InputHistory.begin(), found, found + 1);
  }
  const QSignalBlocker quiet(cmbPattern);
  SetPatternItems(InputHistory);
  cmbPattern->setEditText(ToDisplay(text));
}

void TSearchPage::SetSearchButtonState(int image) {
  actStartSearch->setProperty("ImageIndex", image);
  actStartSearch->setIcon(Image(image));
  const char* text = image == kStopImage ? "Stop search" : "Start search";
  actStartSearch->setText(QString::fromLatin1(text));
  actStartSearch->setToolTip(QString::fromLatin1(text));
  actStartSearch->setStatusTip(QString::fromLatin1(text));
  btnStart->setVisible(image == kStartImage);
  btnStop->setVisible(!btnStart->isVisibleTo(this));
}

void TSearchPage::StopSearch(bool force) {
  if (!IsSearching) return;
  if (!force && TProgramOptions::ConfirmStopSearch) {
    StopQuestionOpen = true;
    const bool yes = AskYesNo(this, QStringLiteral("Do you want stop search?"), QStringLiteral("Stop search"));
    StopQuestionOpen = false;
    if (IsSearching && !yes) return;
  }
  // The question is modal and the search goes on meanwhile: when it ended before the answer
  // came, there is nothing left to stop, and greying the command now would leave it greyed
  // for good (no further notification would enable it again). Its message comes now.
  if (!IsSearching) {
    ShowHeldCompletion();
    return;
  }
  actStartSearch->setEnabled(false);
  Manager->Stop();
}

void TSearchPage::ClearResultsAndLog() {
  HeldCompletion.clear();
  Results->SetRowCount(0);
  Store->Clear();
  LogRows->SetRowCount(0);
  Log->Clear();
  lvResults->viewport()->update();
  lvLog->viewport()->update();
  ScheduleUpdateActions();
}

void TSearchPage::SearchStateChanged() {
  ActiveThreads = Manager->ActiveThreads();
  if (Manager->IsFinished()) {
    SyncResultCount();
    Results->Flush();
    IsSearching = false;
    SetSearchButtonState(kStartImage);
    PatternChange = SavedPatternChange;
    actStartSearch->setEnabled(true);
    ScheduleUpdateActions();
    if (IsCompletionPending) {
      IsCompletionPending = false;
      // The status bar shows the finished search while the modal message is up.
      ActiveThreads = Manager->ActiveThreads();
      if (OnPageChange) OnPageChange(this);
      if (OnSearchComplete && !IsShutDown) OnSearchComplete(this);
      if (ProgramOptions().MessageWhenComplete && !IsShutDown) {
        // One box at a time: a search that ends under the stop question reports once the
        // question is answered.
        TCompletionBox box = StopQuestionOpen ? TCompletionBox::Hold : TCompletionBox::Show;
        if (box == TCompletionBox::Show && CompletionBoxPolicy) box = CompletionBoxPolicy(this);
        HeldCompletion = box == TCompletionBox::Hold ? CompletionText() : QString();
        if (box == TCompletionBox::Show)
          ShowMessageBox({this, CompletionText(), ApplicationTitle(), TMsgIcon::Information, TMsgButtons::Ok});
      }
    }
  }
  if (OnPageChange) OnPageChange(this);
}

QString TSearchPage::CompletionText() const {
  const QLocale locale;
  QString text = QStringLiteral("Search complete.\r\n") + locale.toString(ResultRowCount()) +
                 QStringLiteral(" files found");
  // Every place that could not be searched has a line in the Errors log.
  if (const qlonglong errors = qlonglong(Log->Count()); errors > 0)
    text += QStringLiteral("\r\n") + locale.toString(errors) +
            (errors == 1 ? QStringLiteral(" error: see the Errors log.") : QStringLiteral(" errors: see the Errors log."));
  return text;
}

void TSearchPage::ShowHeldCompletion() {
  if (HeldCompletion.isEmpty()) return;
  const QString text = std::exchange(HeldCompletion, QString());
  ShowMessageBox({this, text, ApplicationTitle(), TMsgIcon::Information, TMsgButtons::Ok});
}

void TSearchPage::SyncResultCount() {
  const int count = int(Store->Count());
  if (count == Results->RowCount()) return;
  Results->SetRowCount(count);
  ScheduleUpdateActions();
  if (OnPageChange) OnPageChange(this);
}

void TSearchPage::SyncLogCount() {
  const int count = int(Log->Count());
  if (count == LogRows->RowCount()) return;
  LogRows->SetRowCount(count);
  // Brings the last row fully into view (the pending layout of the new rows runs first).
  if (count > 0) lvLog->scrollToBottom();
}

void TSearchPage::ScheduleUpdateActions() {
  if (UpdateScheduled) return;
  UpdateScheduled = true;
  QTimer::singleShot(0, this, [this] { UpdateActions(); });
}

void TSearchPage::UpdateActions() {
  UpdateScheduled = false;
  if (ResultCommands) ResultCommands->UpdateActions();
  emit ActionsUpdated();
}

void TSearchPage::ShutDown() {
  IsShutDown = true;
  PatternChange = nullptr;
  SavedPatternChange = nullptr;
  OnPageChange = nullptr;
  OnSearchComplete = nullptr;
}

bool TSearchPage::WaitForSearchEnd(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!Manager->IsFinished()) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0) return false;
    UiThread().PumpUiCalls(int(std::min<qint64>(left, 20)));
  }
  return true;
}
