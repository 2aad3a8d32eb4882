#include "page/file_masks_menu.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QToolButton>

#include "page/search_page.h"
#include "page/mask_groups_dialog.h"

namespace {

// A group name as a menu caption: "&" stands for itself, not for a shortcut mark.
QString MenuCaption(const std::string& name) {
  return QString::fromLocal8Bit(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

TFileMasksMenu::TFileMasksMenu(TSearchPage& page, std::vector<std::string>& groups)
    : QObject(&page), Page(page), Groups(groups) {
  actEditMasks = new QAction(QStringLiteral("Edit file mask"), &page);
  actEditMasks->setToolTip(QStringLiteral("Edit file mask"));
  actEditMasks->setStatusTip(QStringLiteral("Edit file mask"));
  actEditMasks->setProperty("ImageIndex", -1);
  connect(actEditMasks, &QAction::triggered, this, [this] { actEditMasksExecute(); });
  RunEditor = [](TMaskGroupsDialog& editor) { return editor.exec(); };
}

void TFileMasksMenu::actSelectMaskExecute() {
  BuildMaskMenu();
  QToolButton* button = Page.btnSelectMask;
  Page.popFileMasks->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void TFileMasksMenu::BuildMaskMenu() {
  QMenu* menu = Page.popFileMasks;
  // The group items and the separator belong to the menu, so clearing it destroys them;
  // actEditMasks belongs to the page and stays.
  menu->clear();
  for (const std::string& entry : Groups) {
    QAction* item = menu->addAction(MenuCaption(SplitMaskGroup(entry).Name));
    connect(item, &QAction::triggered, this, [this, item] { MaskMenuItemClick(item); });
  }
  menu->addSeparator();
  menu->addAction(actEditMasks);
}

void TFileMasksMenu::MaskMenuItemClick(QAction* item) {
  const qsizetype index = Page.popFileMasks->actions().indexOf(item);
  if (index < 0 || size_t(index) >= Groups.size()) return;
  const QString masks = QString::fromLocal8Bit(SplitMaskGroup(Groups[size_t(index)]).Masks);
  {
    // The handler is called once, below, as it would be for a typed change.
    const QSignalBlocker quiet(Page.cmbPattern);
    Page.cmbPattern->setEditText(masks);
  }
  if (const TSearchPage::TPatternChange& change = Page.GetPatternChange()) change(Page.cmbPattern);
}

void TFileMasksMenu::actEditMasksExecute() {
  TMaskGroupsDialog editor(&Page, Groups);
  RunEditor(editor);
}
