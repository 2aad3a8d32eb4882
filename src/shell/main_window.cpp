#include "shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <exception>

#include "page/search_page.h"
#include "page/message_box.h"
#include "results/lan_error.h"
#include "results/logger.h"
#include "settings/main_settings.h"
#include "settings/program_options.h"
#include "settings/setting.h"
#include "shell/conn_dialog.h"
#include "shell/html_help.h"
#include "shell/icons.h"
#include "shell/index_refresh.h"
#include "page/index_shelf.h"
#include "page/index_typing.h"
#include "settings/index_settings.h"
#include "shell/options_dialog.h"
#include "shell/about_box.h"
#include "shell/search_tab.h"
#include "shell/texts.h"
#include "shell/tip_dialog.h"
#include "shell/tray_icon.h"
#include "shell/window_memory.h"

TMainWindow::TMainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(ApplicationTitle());
  setMinimumSize(500, 400);
  resize(650, 450);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), QSize(650, 450));
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }

  CreateActions();
  CreateMenusAndToolBar();
  StatusTimer = new QTimer(this);
  StatusTimer->setSingleShot(true);
  connect(StatusTimer, &QTimer::timeout, this, [this] { RefreshStatus(); });
  pgcMain = new QTabWidget(this);
  pgcMain->setDocumentMode(true);
  // Four tabs always fit: a long pattern caption is shortened instead of pushing the other
  // tabs behind scroll arrows.
  pgcMain->setElideMode(Qt::ElideRight);
  pgcMain->setUsesScrollButtons(false);
  setCentralWidget(pgcMain);
  StatusBar = statusBar();
  // The panels are permanent: a command's hint shown in the status bar (the pointer resting
  // on a button) goes to the free space beside them instead of hiding them.
  static constexpr int kPanelWidths[3] = {100, 100, 150};
  for (int i = 0; i < 3; ++i) {
    StatusPanels[i] = new QLabel(StatusBar);
    StatusPanels[i]->setMinimumWidth(kPanelWidths[i]);
    StatusBar->addPermanentWidget(StatusPanels[i]);
  }
  connect(pgcMain, &QTabWidget::currentChanged, this, [this] { PageChange(); });

  // Window creation: 1. defaults, 2. history and file masks, 3. the first page, 4. the
  // page-change step, 5. the saved window state.
  ShowTipAtStartup = true;
  LogHeight = 92;
  InputHistory = LoadInputHistory();
  FileMaskGroups = LoadFileMasks();
  actNewPageExecute();
  PageChange();
  ApplyMainSettings();
  // 6. The tray icon, shown only while the window is minimised to the tray.
  pupTray = CreateTrayMenu(actRestore, actHelp, actExit, this);
  TrayIcon = std::make_unique<TTrayIcon>(this, kTrayCallbackMessage);
  TrayIcon->SetTip(QString::fromLatin1(kAppTitle));
  TrayIcon->SetMenu(pupTray.get());
  TrayIcon->SetMinimizeToTrayQuery([] { return ProgramOptions().MinimazeToTray; });
  // 7. The indexed locations, refreshed in the background; a search of the user comes first.
  IndexPanel = new QLabel(StatusBar);
  StatusBar->addPermanentWidget(IndexPanel);
  IndexRefresh = std::make_unique<TIndexRefresh>(IndexShelf());
  IndexRefresh->SetUserSearchQuery([this] {
    for (int i = 0; i < PageCount(); ++i)
      if (Page(i) != nullptr && Page(i)->Searching()) return true;
    return false;
  });
  connect(IndexRefresh.get(), &TIndexRefresh::Changed, this, [this] { RefreshIndexStatus(); });
  IndexRefresh->SetSettings(LoadIndexSettings());

  qApp->installEventFilter(this);
}

TMainWindow::~TMainWindow() {
  TrayIcon.reset();  // removes the icon before the settings are saved
  qApp->removeEventFilter(this);
  FinishRun(0);
  // Pages go before the window's own members; every page is already detached.
  while (pgcMain->count() > 0) {
    QWidget* sheet = pgcMain->widget(0);
    pgcMain->removeTab(0);
    delete sheet;
  }
}

TSearchTab* TMainWindow::Sheet(int index) const {
  return qobject_cast<TSearchTab*>(pgcMain->widget(index));
}

int TMainWindow::PageCount() const { return pgcMain->count(); }

TSearchPage* TMainWindow::Page(int index) const {
  TSearchTab* sheet = Sheet(index);
  return sheet != nullptr ? sheet->Page : nullptr;
}

TSearchPage* TMainWindow::ActivePage() const { return Page(pgcMain->currentIndex()); }

void TMainWindow::actNewPageExecute() {
  if (PageCount() >= kMaxPages) return;
  actNewPage->setEnabled(false);
  TSearchTab* sheet = nullptr;
  try {
    sheet = new TSearchTab(pgcMain, InputHistory);
    TSearchPage* page = sheet->Page;
    const QString pattern = QString::fromLocal8Bit(page->PatternText());
    {
      // The tab is added without running the page-change step yet.
      const QSignalBlocker quiet(pgcMain);
      pgcMain->addTab(sheet, pattern.isEmpty() ? QString::fromLatin1(kNoPatternCaption) : pattern);
    }
    page->SetPatternChange([this](QComboBox* sender) { PagePatternChange(sender); });
    page->OnPageChange = [this](TSearchPage* changed) { PageCountsChanged(changed); };
    page->OnSearchComplete = [this](TSearchPage* done) { SearchCompleted(done); };
    page->CompletionBoxPolicy = [this](TSearchPage*) { return CompletionBoxNow(); };
    page->SetLogHeight(LogHeight);
    page->SetColumnWidths(ColumnWidths);
    page->SetPatternItems(InputHistory);
    page->SetFileMaskGroups(FileMaskGroups);
    connect(page, &TSearchPage::ActionsUpdated, this, [this] { ScheduleUpdateActions(); });
    // A search that starts makes a background index update yield at once.
    connect(page, &TSearchPage::ActionsUpdated, this, [this] {
      if (IndexRefresh) IndexRefresh->UserSearchMayHaveChanged();
    });
    pgcMain->setCurrentWidget(sheet);
    PageChange();
  } catch (const std::exception&) {
    // A page that cannot be built is discarded without a word; the others stay.
    if (sheet != nullptr) {
      pgcMain->removeTab(pgcMain->indexOf(sheet));
      delete sheet;
    }
  }
  RefreshStatus();
  UpdateActions();
}

void TMainWindow::actClosePageExecute() {
  TSearchPage* page = ActivePage();
  if (page == nullptr || page->Searching() || page->Sorting() || PageCount() < 2) return;
  const int index = pgcMain->currentIndex();
  TSearchTab* sheet = Sheet(index);
  {
    const QSignalBlocker quiet(pgcMain);
    pgcMain->removeTab(index);
  }
  delete sheet;
  PageChange();
}

void TMainWindow::PageChange() {
  TSearchPage* page = ActivePage();
  if (page != nullptr) {
    BindItem(miLoad, page->actLoadFromFile);
    BindItem(miSave, page->actSaveToFile);
    BindItem(miExport, page->actExport);
    BindItem(miFastFind, page->actFastFind);
    const auto sorts = page->SortActions();
    for (int i = 0; i < 6; ++i) {
      BindItem(miSort[i], sorts[i]);
      BindItem(miSort1[i], sorts[i]);
    }
    page->SetPatternItems(InputHistory);
  }
  RefreshStatus();
  ScheduleUpdateActions();
}

void TMainWindow::PageCountsChanged(TSearchPage* page) {
  if (!page->Searching() || !LastStatusRefresh.isValid() || LastStatusRefresh.elapsed() >= kStatusRefreshMs) {
    RefreshStatus();
    return;
  }
  if (!StatusTimer->isActive()) StatusTimer->start(int(kStatusRefreshMs - LastStatusRefresh.elapsed()));
}

void TMainWindow::RefreshStatus() {
  StatusTimer->stop();
  LastStatusRefresh.start();
  TSearchPage* page = ActivePage();
  if (page == nullptr) return;
  StatusPanels[2]->setText(QString::fromLocal8Bit(page->Setting().NetResFullPath));
  const QLocale locale;
  StatusPanels[1]->setText(QString::fromLatin1(kResultsPanel) + locale.toString(page->ResultRowCount()));
  StatusPanels[0]->setText(QString::fromLatin1(kActiveThreadsPanel) + locale.toString(page->ActiveThreadCount()));
  RefreshIndexStatus();
}

void TMainWindow::RefreshIndexStatus() {
  if (!IndexRefresh) return;
  IndexRefresh->UserSearchMayHaveChanged();
  TSearchPage* page = ActivePage();
  IndexPanel->setText(IndexPanelText(page != nullptr ? page->IndexTyping().StatusText() : QString(), *IndexRefresh));
  if (!TrayIcon) return;
  const QString tip = IndexTrayTip(QString::fromLatin1(kAppTitle), *IndexRefresh);
  if (tip == TrayIcon->Tip()) return;
  TrayIcon->SetTip(tip);
  if (TrayIcon->IconShown()) TrayIcon->AddIcon(ApplicationIcon(), 0);
}

void TMainWindow::PagePatternChange(QComboBox* sender) {
  const int index = pgcMain->currentIndex();
  if (index < 0 || sender == nullptr) return;
  const QString text = sender->currentText();
  pgcMain->setTabText(index, text.isEmpty() ? QString::fromLatin1(kNoPatternCaption) : text);
}

void TMainWindow::StopAllSearches() {
  for (int i = 0; i < PageCount(); ++i)
    if (TSearchPage* page = Page(i); page != nullptr && page->Searching()) page->StopSearch(true);
}

TSearchPage::TCompletionBox TMainWindow::CompletionBoxNow() const {
  // The exit question is open: a search that ends under it needs no box of its own.
  if (ExitQuestionOpen) return TSearchPage::TCompletionBox::Drop;
  // Out of sight, the box waits for the user to come back (a notification tells them).
  if (TrayIcon && TrayIcon->OwnerOutOfSight()) return TSearchPage::TCompletionBox::Hold;
  return TSearchPage::TCompletionBox::Show;
}

void TMainWindow::ShowHeldCompletions() {
  if (TrayIcon && TrayIcon->OwnerOutOfSight()) return;
  // The active page's message first: a click on a notification has just made it active.
  if (TSearchPage* active = ActivePage()) active->ShowHeldCompletion();
  for (int i = 0; i < PageCount(); ++i)
    if (TSearchPage* page = Page(i)) page->ShowHeldCompletion();
}

void TMainWindow::ScheduleHeldCompletions() {
  // Not from inside the show or state change: the window first has to be on screen.
  QTimer::singleShot(0, this, [this] { ShowHeldCompletions(); });
}

void TMainWindow::SearchCompleted(TSearchPage* page) {
  if (!TrayIcon || !TrayIcon->OwnerOutOfSight()) return;
  const QLocale locale;
  QString text = locale.toString(page->ResultRowCount()) + QStringLiteral(" files found");
  if (const qlonglong errors = qlonglong(page->ErrorLog().Count()); errors > 0)
    text += QStringLiteral(", %1 %2").arg(locale.toString(errors)).arg(errors == 1 ? "error" : "errors");
  QPointer<TSearchPage> shown(page);  // the page may be closed before the click
  TrayIcon->Notify(QString::fromLatin1(kSearchCompleteTitle), text, [this, shown] {
    if (shown != nullptr) ShowPage(shown);
  });
}

void TMainWindow::ShowPage(TSearchPage* page) {
  for (int i = 0; i < PageCount(); ++i)
    if (Page(i) == page) pgcMain->setCurrentIndex(i);
  TrayIcon->BringToFront();
}

void TMainWindow::ScheduleUpdateActions() {
  if (UpdateScheduled) return;
  UpdateScheduled = true;
  QTimer::singleShot(0, this, [this] { UpdateActions(); });
}

void TMainWindow::UpdateActions() {
  UpdateScheduled = false;
  const TSearchPage* page = ActivePage();
  actNewPage->setEnabled(PageCount() < kMaxPages);
  const bool pageSearches = page != nullptr && (page->Searching() || page->Sorting());
  actClosePage->setEnabled(PageCount() >= 2 && !pageSearches);
  // A greyed command says why in its hint.
  const QString closeHint = pageSearches ? QStringLiteral("Close page (not while its search runs: stop it first)")
                                         : QStringLiteral("Close page");
  if (actClosePage->toolTip() != closeHint) {
    actClosePage->setToolTip(closeHint);
    actClosePage->setStatusTip(closeHint);
  }
  actOptions->setEnabled(!OptionsOpen);
  actSearchAgain->setEnabled(page != nullptr && !page->Searching() && !page->Sorting());
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  bool searching = false;
  for (int i = 0; i < PageCount(); ++i)
    if (TSearchPage* page = Page(i); page != nullptr && page->Searching()) searching = true;
  if (searching) {
    ExitQuestionOpen = true;
    const bool yes = AskYesNo(this, QString::fromLatin1(kExitQuestion), QString::fromLatin1(kExitCaption));
    ExitQuestionOpen = false;
    if (!yes) {
      event->ignore();
      return;
    }
    // The user chose to leave: a search that ends from now on announces nothing, the
    // window being already gone.
    for (int i = 0; i < PageCount(); ++i)
      if (TSearchPage* page = Page(i)) page->ShutDown();
    StopAllSearches();
  }
  event->accept();
}

void TMainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ScheduleHeldCompletions();
}

void TMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isMinimized() && isVisible()) ScheduleHeldCompletions();
  if (event->type() != QEvent::ActivationChange || !isActiveWindow() || !ShowTipAtStartup) return;
  // Cleared first: a failing tip dialog still counts as shown.
  ShowTipAtStartup = false;
  QTimer::singleShot(0, actTipOfDay, &QAction::trigger);
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Every key press passes once through its top-level window before it reaches a widget:
  // F1 there opens the help wherever the focus is; the key still goes on.
  if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F1 && !key->isAutoRepeat()) actHelp->trigger();
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainWindow::ApplyMainSettings() {
  // Reading stops at the first damaged value; what was read before it is applied.
  const TMainSettings saved = LoadMainSettings();
  if (saved.PlacementFound) {
    QRect bounds = geometry();
    if (saved.Left) bounds.moveLeft(*saved.Left);
    if (saved.Top) bounds.moveTop(*saved.Top);
    if (saved.Width) bounds.setWidth(*saved.Width);
    if (saved.Height) bounds.setHeight(*saved.Height);
    setGeometry(bounds);
  }
  if (saved.Maximised) setWindowState(windowState() | Qt::WindowMaximized);
  if (saved.LogHeight) {
    LogHeight = *saved.LogHeight;
    if (TSearchPage* page = ActivePage()) page->SetLogHeight(LogHeight);
  }
  ShowTipAtStartup = saved.ShowTipAtStartup;
  ColumnWidths = LoadResultColumnWidths();
  if (TSearchPage* page = ActivePage()) page->SetColumnWidths(ColumnWidths);
}

void TMainWindow::SaveSettingsOnce() {
  if (SettingsSaved) return;
  SettingsSaved = true;
  TMainWindowState state;
  state.WindowState = isMaximized()   ? kWindowStateMaximised
                      : isMinimized() ? kWindowStateMinimised
                                      : kWindowStateNormal;
  // A maximised or minimised window is saved with its normal bounds.
  const QRect bounds = (isMaximized() || isMinimized()) ? normalGeometry() : geometry();
  state.Left = bounds.left();
  state.Top = bounds.top();
  state.Width = bounds.width();
  state.Height = bounds.height();
  const TSearchPage* page = ActivePage();
  state.LogHeight = page != nullptr ? page->LogHeight() : LogHeight;
  state.InputHistory = InputHistory;
  state.FileMaskGroups = FileMaskGroups;
  try {
    SaveMainSettings(state);
    if (page != nullptr) SaveResultColumnWidths(page->ColumnWidths());
  } catch (const std::exception&) {
    // Nothing can be reported while the program ends; the settings file keeps its
    // previous contents.
  }
}

bool TMainWindow::FinishRun(int timeoutMs) {
  SaveSettingsOnce();
  // An update ended now leaves the previous index as it was.
  if (IndexRefresh) IndexRefresh->Shutdown();
  for (int i = 0; i < PageCount(); ++i)
    if (TSearchPage* page = Page(i)) page->ShutDown();
  StopAllSearches();
  QElapsedTimer clock;
  clock.start();
  bool allEnded = true;
  for (int i = 0; i < PageCount(); ++i) {
    TSearchPage* page = Page(i);
    const int left = std::max<int>(0, timeoutMs - int(clock.elapsed()));
    if (page != nullptr && !page->WaitForSearchEnd(left)) allEnded = false;
  }
  return allEnded;
}

void TMainWindow::actOptionsExecute() {
  // The options dialog edits the active page's settings. The command stays disabled
  // while it is open.
  TSearchPage* page = ActivePage();
  if (page == nullptr) return;
  OptionsOpen = true;
  UpdateActions();
  {
    TOptionsDialog dialog(this, page->Setting());
    dialog.AddIndexTab(*IndexRefresh);
    dialog.exec();
  }
  OptionsOpen = false;
  RefreshStatus();
  UpdateActions();
}

void TMainWindow::actAboutExecute() {
  TAboutBox about(this);
  about.exec();
}

void TMainWindow::actHelpExecute() { ShowProgramHelp(this); }

void TMainWindow::actTipOfDayExecute() {
  try {
    ShowTipOfDay(this);
  } catch (const TLanError& error) {
    ShowErrorBox(this, QString::fromLocal8Bit(error.what()));
  }
}

void TMainWindow::actRestoreExecute() { TrayIcon->BringToFront(); }

void TMainWindow::actSearchAgainExecute() {
  TSearchPage* page = ActivePage();
  if (page == nullptr || page->Searching() || page->Sorting()) return;
  page->actStartSearchExecute();
}

void TMainWindow::actConnDialogExecute() { ShowConnectDialog(this); }

void TMainWindow::actDisconnDialogExecute() { ShowDisconnectDialog(this); }

void TMainWindow::OpenAddress(const char* address) {
  // Like the shell's "open": the outcome is not examined.
  OpenUrl(QUrl(QString::fromLatin1(address)));
}
