// The window's commands: its actions, menus and tool bar, and the menu items bound to
// the active page's actions. The rest of the window is in main_window.cpp.
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

namespace {

QIcon ImageOf(int slot) {
  TIcons* icons = TIcons::Instance();
  return icons != nullptr ? icons->Icon(slot) : QIcon();
}

QAction* NewAction(QObject* owner, const char* category, const char* caption, const char* hint,
                   int image) {
  auto* action = new QAction(QString::fromLatin1(caption), owner);
  action->setProperty("Category", QString::fromLatin1(category));
  if (hint != nullptr) {
    const QString text = QString::fromLatin1(hint);
    action->setToolTip(text.section(QLatin1Char('|'), 0, 0));
    action->setStatusTip(text.section(QLatin1Char('|'), -1));
  }
  action->setProperty("ImageIndex", image);
  if (image >= 0) action->setIcon(ImageOf(image));
  return action;
}

}  // namespace

void TMainWindow::CreateActions() {
  actNewPage = NewAction(this, "Actions", "New page", "New page", 9);
  actClosePage = NewAction(this, "Actions", "Close page", "Close page", 16);
  actExit = NewAction(this, "File", "E&xit", "Exit|Quits the application", 1);
  actOptions = NewAction(this, "Actions", "Options", nullptr, 0);
  actAbout = NewAction(this, "Help", "About...", nullptr, 7);
  actHelp = NewAction(this, "Help", "Help", nullptr, 4);
  actTipOfDay = NewAction(this, "Help", "Tip of day", nullptr, 17);
  actRestore = NewAction(this, "File", "Restore", "Restore", -1);
  actConnDialog = NewAction(this, "Actions", "Connect network resource",
                            "Connect network resource", 26);
  actDisconnDialog = NewAction(this, "Actions", "Disconnect network resource",
                               "Disconnect network resource", 27);
  actBugReport = NewAction(this, "Help", "Bug report", "Bug report", -1);
  actInfoRequest = NewAction(this, "Help", "Information request", "Information request", -1);
  actHomePage = NewAction(this, "Help", "WWW Home page", "WWW Home page", -1);
  actNull = new QAction(this);

  // Every command re-checks its enabling rule right before it runs.
  const auto wire = [this](QAction* action, void (TMainWindow::*execute)()) {
    connect(action, &QAction::triggered, this, [this, action, execute] {
      UpdateActions();
      if (action->isEnabled()) (this->*execute)();
    });
  };
  wire(actNewPage, &TMainWindow::actNewPageExecute);
  wire(actClosePage, &TMainWindow::actClosePageExecute);
  connect(actExit, &QAction::triggered, this, &QWidget::close);
  wire(actOptions, &TMainWindow::actOptionsExecute);
  wire(actAbout, &TMainWindow::actAboutExecute);
  wire(actHelp, &TMainWindow::actHelpExecute);
  wire(actTipOfDay, &TMainWindow::actTipOfDayExecute);
  wire(actRestore, &TMainWindow::actRestoreExecute);
  wire(actConnDialog, &TMainWindow::actConnDialogExecute);
  wire(actDisconnDialog, &TMainWindow::actDisconnDialogExecute);
  connect(actBugReport, &QAction::triggered, this, [this] {
    OpenAddress((std::string("mailto:") + kBugReportAddress).c_str());
  });
  connect(actInfoRequest, &QAction::triggered, this, [this] {
    OpenAddress((std::string("mailto:") + kInfoRequestAddress).c_str());
  });
  connect(actHomePage, &QAction::triggered, this, [this] { OpenAddress(kHomePageUrl); });

  actSearchAgain = NewAction(this, "Actions", "Search again", "Search again|Starts the active page's search again", -1);
  wire(actSearchAgain, &TMainWindow::actSearchAgainExecute);

  miLoad = NewItem(QStringLiteral("miLoad"));
  miSave = NewItem(QStringLiteral("miSave"));
  miExport = NewItem(QStringLiteral("miExport"));
  miFastFind = NewItem(QStringLiteral("miFastFind"));
  // The menus show "..." after the items that open a dialog; the commands keep their
  // captions (tool tips, tool buttons). Proxies of the window's own commands do that.
  miOptions = NewItem(QStringLiteral("miOptions"));
  miConnDialog = NewItem(QStringLiteral("miConnDialog"));
  miDisconnDialog = NewItem(QStringLiteral("miDisconnDialog"));
  miTipOfDay = NewItem(QStringLiteral("miTipOfDay"));
  for (QAction* item : {miLoad, miSave, miExport, miFastFind, miOptions, miConnDialog, miDisconnDialog, miTipOfDay})
    item->setProperty("OpensDialog", true);
  BindItem(miOptions, actOptions);
  BindItem(miConnDialog, actConnDialog);
  BindItem(miDisconnDialog, actDisconnDialog);
  BindItem(miTipOfDay, actTipOfDay);

  // The desktop's standard keys, shown in the menus. F1 (help) and Ctrl+C (copy in the
  // result list) are handled where they always were.
  const auto keys = [](QAction* action, std::initializer_list<QKeySequence> sequences) {
    QList<QKeySequence> list;
    for (const QKeySequence& sequence : sequences)
      if (!sequence.isEmpty() && !list.contains(sequence)) list << sequence;
    action->setShortcuts(list);
  };
  const auto standard = [](QKeySequence::StandardKey key) {
    const QList<QKeySequence> bindings = QKeySequence::keyBindings(key);
    return bindings.isEmpty() ? QKeySequence() : bindings.first();
  };
  keys(actNewPage, {standard(QKeySequence::AddTab)});
  keys(actClosePage, {standard(QKeySequence::Close)});
  keys(actExit, {standard(QKeySequence::Quit)});
  keys(miFastFind, {standard(QKeySequence::Find)});
  keys(miSave, {standard(QKeySequence::Save)});
  keys(miLoad, {standard(QKeySequence::Open)});
  keys(actSearchAgain, {QKeySequence(Qt::Key_F5), standard(QKeySequence::Refresh)});
  // Not every desktop names a key for preferences; Ctrl+, is the common one.
  const QKeySequence preferences = standard(QKeySequence::Preferences);
  keys(miOptions, {preferences.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Comma) : preferences});
  for (QAction* action : {actNewPage, actClosePage, actExit, actSearchAgain}) addAction(action);
  for (QAction* item : {miFastFind, miSave, miLoad, miOptions}) addAction(item);
  for (int i = 0; i < 6; ++i) {
    miSort[i] = NewItem(QStringLiteral("miSort_%1").arg(i + 1));
    miSort1[i] = NewItem(QStringLiteral("miSort1_%1").arg(i + 1));
  }
}

QAction* TMainWindow::NewItem(const QString& name) {
  auto* item = new QAction(this);
  item->setObjectName(name);
  connect(item, &QAction::triggered, this, [this, item] { RunBoundAction(item); });
  BindItem(item, actNull);
  return item;
}

void TMainWindow::CreateMenusAndToolBar() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->addAction(miLoad);
  mnuFile->addAction(miSave);
  mnuFile->addAction(miExport);
  mnuFile->addSeparator();
  mnuFile->addAction(actExit);

  mnuActions = menuBar()->addMenu(QStringLiteral("&Actions"));
  mnuActions->addAction(actNewPage);
  mnuActions->addAction(actClosePage);
  mnuActions->addSeparator();
  mnuActions->addAction(miConnDialog);
  mnuActions->addAction(miDisconnDialog);
  mnuActions->addSeparator();
  mnuActions->addAction(actSearchAgain);
  mnuActions->addAction(miFastFind);
  mnuSortSub = mnuActions->addMenu(ImageOf(14), QStringLiteral("Sort by"));
  for (QAction* item : miSort1) mnuSortSub->addAction(item);
  mnuActions->addSeparator();
  mnuActions->addAction(miOptions);

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->addAction(actHelp);
  mnuHelp->addAction(miTipOfDay);
  mnuHelp->addSeparator();
  mnuFeedback = mnuHelp->addMenu(QStringLiteral("Feedback"));
  mnuFeedback->addAction(actBugReport);
  mnuFeedback->addAction(actInfoRequest);
  mnuHelp->addAction(actHomePage);
  mnuHelp->addAction(actAbout);

  mnuSort = new QMenu(this);
  for (QAction* item : miSort) mnuSort->addAction(item);

  ToolBar = addToolBar(QStringLiteral("Main"));
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setMovable(false);
  const auto button = [this](QAction* item) {
    auto* tool = new QToolButton(ToolBar);
    tool->setDefaultAction(item);
    tool->setAutoRaise(true);
    ToolBar->addWidget(tool);
    return tool;
  };
  ToolBar->addAction(actNewPage);
  ToolBar->addAction(actClosePage);
  ToolBar->addSeparator();
  tbLoad = button(miLoad);
  tbSave = button(miSave);
  tbExport = button(miExport);
  ToolBar->addSeparator();
  tbFastFind = button(miFastFind);
  tbSort = new QToolButton(ToolBar);
  tbSort->setIcon(ImageOf(14));
  tbSort->setToolTip(QStringLiteral("Sort"));
  tbSort->setMenu(mnuSort);
  tbSort->setPopupMode(QToolButton::InstantPopup);
  tbSort->setAutoRaise(true);
  ToolBar->addWidget(tbSort);
  // The drop-down is greyed, like the other page buttons, while none of its sorts can run.
  const auto followSorts = [this] {
    tbSort->setEnabled(std::any_of(miSort.begin(), miSort.end(),
                                   [](const QAction* item) { return item->isEnabled(); }));
  };
  for (QAction* item : miSort) connect(item, &QAction::changed, tbSort, followSorts);
  followSorts();
  ToolBar->addSeparator();
  ToolBar->addAction(actConnDialog);
  ToolBar->addAction(actDisconnDialog);
  ToolBar->addSeparator();
  ToolBar->addAction(actOptions);
  ToolBar->addSeparator();
  ToolBar->addAction(actHelp);
}

// A page-specific item mirrors its action's caption, hint, image and enabled state,
// and runs it when clicked.
void TMainWindow::BindItem(QAction* item, QAction* target) {
  if (auto link = BindingLinks.find(item); link != BindingLinks.end()) {
    disconnect(link->second);
    BindingLinks.erase(link);
  }
  Bindings[item] = target;
  const auto mirror = [item, target] {
    const bool dots = item->property("OpensDialog").toBool() && target->text() != QString() &&
                      !target->text().endsWith(QStringLiteral("..."));
    item->setText(dots ? target->text() + QStringLiteral("...") : target->text());
    item->setIcon(target->icon());
    item->setToolTip(target->toolTip());
    item->setStatusTip(target->statusTip());
    item->setEnabled(target != nullptr && target->isEnabled());
  };
  mirror();
  BindingLinks[item] = connect(target, &QAction::changed, item, mirror);
}

QAction* TMainWindow::BoundAction(QAction* item) const {
  auto found = Bindings.find(item);
  return found == Bindings.end() ? nullptr : found->second;
}

void TMainWindow::RunBoundAction(QAction* item) {
  QAction* target = BoundAction(item);
  if (target == nullptr || target == actNull) return;
  if (TSearchPage* page = ActivePage()) page->UpdateActions();
  if (target->isEnabled()) target->trigger();
}
