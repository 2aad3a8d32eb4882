// File-mask groups: the page's group menu, choosing a group, and the group editor.
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include "page/file_masks_menu.h"
#include "page/mask_groups_dialog.h"
#include "test_page_support.h"

namespace {

using namespace lqtest;

class FileMasksTest : public TWindowTest {
 protected:
  // The captions of popFileMasks after it was opened through the group button.
  static std::vector<std::string> OpenedMenu(TSearchPage& page) {
    page.actSelectMask->trigger();
    std::vector<std::string> captions;
    for (QAction* item : page.popFileMasks->actions())
      captions.push_back(item->isSeparator() ? "-" : item->text().toStdString());
    page.popFileMasks->hide();
    return captions;
  }

  static void SetRow(TMaskGroupsDialog& editor, int row, const char* name, const char* masks) {
    editor.vleGroups->item(row, 0)->setText(QString::fromLatin1(name));
    editor.vleGroups->item(row, 1)->setText(QString::fromLatin1(masks));
  }

  std::vector<std::string> History;
  std::vector<std::string> Groups;
};

TEST_F(FileMasksTest, MenuListsGroupsThenSeparatorAndEditor) {
  TSearchPage page(nullptr, History);
  page.SetFileMaskGroups(Groups);
  EXPECT_EQ(OpenedMenu(page), (std::vector<std::string>{"-", "Edit file mask"}));

  Groups = {"Documents=*.doc;*.txt", "Tom & Jerry=*.avi", "Plain"};
  EXPECT_EQ(OpenedMenu(page), (std::vector<std::string>{"Documents", "Tom && Jerry", "Plain", "-", "Edit file mask"}))
      << "rebuilt at each opening, never appended to";
}

TEST_F(FileMasksTest, ChoosingAGroupReplacesThePatternAndCallsTheHandlerOnce) {
  Groups = {"Docs=*.doc", "Odd=a=b;*.c", "Plain"};
  TSearchPage page(nullptr, History);
  page.SetFileMaskGroups(Groups);
  std::vector<QString> seen;
  page.SetPatternChange([&](QComboBox* sender) { seen.push_back(sender->currentText()); });
  page.cmbPattern->setEditText(QStringLiteral("*.old"));
  seen.clear();

  page.FileMasksMenu()->BuildMaskMenu();
  page.popFileMasks->actions().at(1)->trigger();
  EXPECT_EQ(page.cmbPattern->currentText(), "a=b;*.c") << "everything after the first \"=\"";
  EXPECT_EQ(seen, std::vector<QString>{"a=b;*.c"});
  EXPECT_FALSE(page.Searching());

  page.popFileMasks->actions().at(2)->trigger();
  EXPECT_EQ(page.cmbPattern->currentText(), "");
}

TEST_F(FileMasksTest, ChoosingAGroupWhileSearchingLeavesTheCaptionHandlerAlone) {
  TTempDir tree;
  MakeTree(tree.Path, 1, 1);
  TGate gate;
  TScriptedBoxes boxes;  // the completion message
  Groups = {"Docs=*.doc"};
  TSearchPage page(nullptr, History);
  page.SetFileMaskGroups(Groups);
  SearchIn(page, tree.Path);
  UseBlockedWorkers(page, gate);
  int calls = 0;
  page.SetPatternChange([&](QComboBox*) { ++calls; });
  page.cmbPattern->setEditText(QStringLiteral("*.txt"));
  page.actStartSearch->trigger();
  ASSERT_TRUE(page.Searching());
  calls = 0;
  page.FileMasksMenu()->BuildMaskMenu();
  page.popFileMasks->actions().at(0)->trigger();
  EXPECT_EQ(page.cmbPattern->currentText(), "*.doc");
  EXPECT_EQ(calls, 0);
  gate.Release();
  ASSERT_TRUE(WaitUntilIdle(page));
}

TEST_F(FileMasksTest, EditorShowsGroupsAndCancelKeepsThem) {
  Groups = {"Docs=*.doc;*.txt", "Pics=*.png"};
  TMaskGroupsDialog editor(nullptr, Groups);
  EXPECT_EQ(editor.windowTitle(), "Edit file masks");
  EXPECT_EQ(editor.size(), QSize(441, 205));
  EXPECT_EQ(editor.vleGroups->horizontalHeaderItem(0)->text(), "Group name");
  EXPECT_EQ(editor.vleGroups->horizontalHeaderItem(1)->text(), "File masks");
  EXPECT_EQ(editor.vleGroups->columnWidth(0), 154);
  EXPECT_TRUE(editor.btnSave->isDefault());
  EXPECT_EQ(editor.btnClose->text(), "Cancel");
  ASSERT_EQ(editor.vleGroups->rowCount(), 2);
  EXPECT_EQ(editor.vleGroups->item(0, 1)->text(), "*.doc;*.txt");

  SetRow(editor, 0, "Changed", "*.x");
  editor.DeleteRow();
  editor.AddRow();
  editor.btnClose->click();
  EXPECT_EQ(editor.result(), QDialog::Rejected);
  EXPECT_EQ(Groups, (std::vector<std::string>{"Docs=*.doc;*.txt", "Pics=*.png"}));
}

TEST_F(FileMasksTest, SaveWritesRowsInGridOrderOnEveryPage) {
  Groups = {"Docs=*.doc", "Pics=*.png"};
  TSearchPage first(nullptr, History);
  TSearchPage second(nullptr, History);
  first.SetFileMaskGroups(Groups);
  second.SetFileMaskGroups(Groups);

  TScriptedBoxes boxes;
  first.FileMasksMenu()->RunEditor = [&](TMaskGroupsDialog& editor) {
    editor.vleGroups->setCurrentCell(0, 0);
    editor.DeleteRow();
    editor.AddRow();
    SetRow(editor, 1, "Music", "*.mp3;*.ogg=x");
    editor.AddRow();  // left blank: dropped
    SetRow(editor, 0, "a=b", "*.png");
    editor.btnSave->click();
    EXPECT_EQ(editor.result(), 0) << "a name with \"=\" would read back as another group";
    EXPECT_EQ(boxes.Shown.size(), 1u);
    SetRow(editor, 0, "Pictures", "*.png");
    editor.btnSave->click();
    return editor.result();
  };
  first.FileMasksMenu()->actEditMasks->trigger();
  EXPECT_EQ(Groups, (std::vector<std::string>{"Pictures=*.png", "Music=*.mp3;*.ogg=x"}));
  EXPECT_EQ(OpenedMenu(second), (std::vector<std::string>{"Pictures", "Music", "-", "Edit file mask"}));

  first.FileMasksMenu()->RunEditor = [](TMaskGroupsDialog& editor) {
    while (editor.vleGroups->rowCount() > 0) {
      editor.vleGroups->setCurrentCell(0, 0);
      editor.DeleteRow();
    }
    editor.btnSave->click();
    return editor.result();
  };
  first.FileMasksMenu()->actEditMasks->trigger();
  EXPECT_TRUE(Groups.empty());
}

}  // namespace
