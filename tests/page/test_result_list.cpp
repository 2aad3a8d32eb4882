// The result list's commands: sorting, enabling, type-to-find, copy, drag, open, and
// the save, load and export dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "page/data_obj.h"
#include "page/desktop_open.h"
#include "test_result_list_harness.h"

namespace {

// Day 45000 is 2023-03-15; fractions are times of day.
const std::vector<TResultRow> kRows = {
    {"/srv/b/", "zeta.txt", 300, 45000.50, 0x20},
    {"/srv/a/", "Mid.doc", 100, 45002.25, 0x01},
    {"/srv/c/", "alpha.bin", 2000, 45001.75, 0x21},
};

std::vector<std::string> Names(std::initializer_list<const char*> names) { return {names.begin(), names.end()}; }

}  // namespace

TEST(ResultListSort, HeaderClicksFlipAndOtherColumnsStartAscending) {
  TResultListHarness list(kRows);
  list.Actions->lvResultsColumnClick(TResultModel::colFileName);
  EXPECT_EQ(list.Store.SortKey, 1);
  EXPECT_EQ(list.Shown(), Names({"/srv/a/Mid.doc", "/srv/b/zeta.txt", "/srv/c/alpha.bin"}));
  list.Actions->lvResultsColumnClick(TResultModel::colFileName);
  EXPECT_EQ(list.Store.SortKey, -1);
  EXPECT_EQ(list.Shown(), Names({"/srv/c/alpha.bin", "/srv/b/zeta.txt", "/srv/a/Mid.doc"}));
  list.Actions->lvResultsColumnClick(TResultModel::colSize);
  EXPECT_EQ(list.Store.SortKey, 3);
  EXPECT_EQ(list.Shown(), Names({"/srv/a/Mid.doc", "/srv/b/zeta.txt", "/srv/c/alpha.bin"}));
  // A real click on the header reaches the same command.
  QHeaderView* header = list.View->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(TResultModel::colDate) + 5, 5));
  EXPECT_EQ(list.Store.SortKey, 4);
  // The header shows the column and the direction of the order on screen, and no order
  // once rows arrive or are replaced.
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), TResultModel::colDate);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  list.Actions->lvResultsColumnClick(TResultModel::colDate);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  list.Searching = true;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(TResultModel::colSize) + 5, 5));
  EXPECT_EQ(header->sortIndicatorSection(), TResultModel::colDate) << "a click that sorts nothing turns no arrow";
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  list.Searching = false;
  list.Model->SetRowCount(0);  // cleared, as a new search does first
  EXPECT_FALSE(header->isSortIndicatorShown());
}

// The list sorts through the order worked out away from the UI thread; it must be the
// arrangement the store's own sort gives, for every key and direction, ties included.
TEST(ResultListSort, OrderWorkedOutAsideEqualsTheStoresSort) {
  std::vector<TResultRow> rows;
  static const char* const kPaths[] = {"/srv/a/", "/srv/B/", "/srv/b/", "/x/"};
  static const char* const kNames[] = {"one.txt", "Two.txt", "two.txt", "b", "a b"};
  for (int i = 0; i < 200; ++i)
    rows.push_back({kPaths[i % 4], kNames[(i * 7) % 5], (i * 37) % 11, 45000 + (i % 3) + ((i * 13) % 5) / 5.0,
                    uint32_t((i % 2) | ((i % 3) == 0 ? 0x20 : 0))});
  for (int key = -6; key <= 6; ++key) {
    if (key == 0) continue;
    TResultListHarness list(rows);
    TResultListHarness reference(rows);
    list.Store.SortKey = -key;  // the command flips it to key
    list.Actions->actSort_1Execute(std::abs(key));
    ASSERT_EQ(list.Store.SortKey, key);
    reference.Store.SortKey = key;
    reference.Store.Sort();
    reference.Model->RowsChanged();
    EXPECT_EQ(list.Shown(), reference.Shown()) << key;
    std::vector<std::string> attrs, otherAttrs;
    for (size_t i = 0; i < list.Store.Count(); ++i) {
      attrs.push_back(std::to_string(list.Store.Item(i).Attr) + std::to_string(list.Store.Item(i).Size));
      otherAttrs.push_back(std::to_string(reference.Store.Item(i).Attr) + std::to_string(reference.Store.Item(i).Size));
    }
    EXPECT_EQ(attrs, otherAttrs) << key;
  }
}

TEST(ResultListSort, BareFileNameOnlyThroughTheMenu) {
  TResultListHarness list(kRows);
  list.Sorts[1]->trigger();  // "Sort by" / "File name"
  EXPECT_EQ(list.Store.SortKey, 2);
  EXPECT_EQ(list.Shown(), Names({"/srv/c/alpha.bin", "/srv/a/Mid.doc", "/srv/b/zeta.txt"}));
  list.Sorts[1]->trigger();
  EXPECT_EQ(list.Store.SortKey, -2);
  const QList<QAction*> sortBy = list.Actions->Sortby1->actions();
  ASSERT_EQ(sortBy.size(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(sortBy[i], list.Sorts[i]);
  for (int column = 0; column < TResultModel::kColumnCount; ++column)
    EXPECT_NE(TResultModel::ColumnTag(column), 2) << "no header sorts by the bare name";
}

TEST(ResultListSort, NothingHappensWhileSearchingOrEmpty) {
  TResultListHarness searching(kRows);
  searching.Searching = true;
  searching.Actions->lvResultsColumnClick(TResultModel::colSize);
  searching.Actions->actSort_1Execute(2);
  EXPECT_EQ(searching.Store.SortKey, 0);
  EXPECT_EQ(searching.Shown().front(), "/srv/b/zeta.txt");

  TResultListHarness empty;
  empty.Actions->lvResultsColumnClick(TResultModel::colFileName);
  EXPECT_EQ(empty.Store.SortKey, 0);
}

TEST(ResultListMenu, PopupItemsInOrder) {
  TResultListHarness list(kRows);
  const QList<QAction*> items = list.Menu->actions();
  ASSERT_EQ(items.size(), 7);
  EXPECT_EQ(items[0], list.OpenFile);
  EXPECT_EQ(items[1], list.BrowseDir);
  EXPECT_TRUE(items[2]->isSeparator());
  EXPECT_EQ(items[3], list.Actions->miCopy);
  EXPECT_TRUE(items[4]->isSeparator());
  EXPECT_EQ(items[5]->menu(), list.Actions->Sortby1);
  EXPECT_EQ(items[5]->text(), QString("Sort by"));
  EXPECT_EQ(items[6], list.ClearResults);
  EXPECT_EQ(list.Actions->miCopy->text(), QString("&Copy"));
  EXPECT_EQ(list.Actions->miCopy->shortcut(), QKeySequence(QKeySequence::Copy));
}

struct EnablingCase {
  const char* what;
  bool searching;
  bool rows;
  std::vector<int> selected;
  // open, browse, save, load, export, sort, clear, find, copy
  std::array<bool, 9> enabled;
};

class ResultListEnabling : public ::testing::TestWithParam<EnablingCase> {};

TEST_P(ResultListEnabling, FollowsSearchingRowsAndSelection) {
  const EnablingCase& c = GetParam();
  TResultListHarness list(c.rows ? kRows : std::vector<TResultRow>{});
  list.Searching = c.searching;
  for (int row : c.selected)
    list.View->selectionModel()->select(list.Model->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
  list.Actions->UpdateActions();
  const std::array<QAction*, 9> actions{list.OpenFile,     list.BrowseDir,    list.SaveToFile,
                                        list.LoadFromFile, list.Export,       list.Sorts[0],
                                        list.ClearResults, list.FastFind,     list.Actions->miCopy};
  for (size_t i = 0; i < actions.size(); ++i)
    EXPECT_EQ(actions[i]->isEnabled(), c.enabled[i]) << c.what << ": " << actions[i]->text().toStdString();
  for (QAction* sort : list.Sorts) EXPECT_EQ(sort->isEnabled(), c.enabled[5]) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultListEnabling,
    ::testing::Values(
        EnablingCase{"empty", false, false, {}, {false, false, false, true, false, false, false, false, false}},
        EnablingCase{"rows", false, true, {}, {false, false, true, true, true, true, true, true, false}},
        EnablingCase{"one selected", false, true, {1}, {true, true, true, true, true, true, true, true, true}},
        EnablingCase{"two selected", false, true, {0, 2}, {false, false, true, true, true, true, true, true, true}},
        EnablingCase{"searching", true, true, {1}, {true, true, false, false, false, false, false, true, true}},
        EnablingCase{"searching empty", true, false, {}, {false, false, false, false, false, false, false, false, false}}));

struct KeyCase {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  const char* text;
  bool opens;
};

TEST(ResultListKeys, OnlyLettersAndMainKeyboardDigitsOpenFind) {
  const KeyCase cases[] = {
      {Qt::Key_A, Qt::NoModifier, "a", true},          {Qt::Key_7, Qt::NoModifier, "7", true},
      {Qt::Key_Z, Qt::ShiftModifier, "Z", true},       {Qt::Key_7, Qt::KeypadModifier, "7", false},
      {Qt::Key_Down, Qt::NoModifier, "", false},       {Qt::Key_Return, Qt::NoModifier, "\r", false},
      {Qt::Key_Enter, Qt::KeypadModifier, "\r", false}, {Qt::Key_A, Qt::ControlModifier, "\x01", false},
      {Qt::Key_Period, Qt::NoModifier, ".", false},
  };
  for (const KeyCase& c : cases) {
    TResultListHarness list(kRows);
    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, QString::fromLatin1(c.text));
    QCoreApplication::sendEvent(list.View, &press);
    ASSERT_EQ(list.FindTexts.size(), c.opens ? 1u : 0u) << "key " << c.key;
    EXPECT_EQ(list.Opened.size(), 0u) << "no key opens a file";
    if (!c.opens) continue;
    EXPECT_TRUE(press.isAccepted() && list.Actions->TypeToFind);
    EXPECT_EQ(list.FindTexts[0], QString::fromLatin1(c.text));
    EXPECT_EQ(list.FindTags[0], -2);
  }
}

TEST(ResultListKeys, FindActionOpensAnEmptyDialog) {
  TResultListHarness list(kRows);
  list.Searching = true;  // find stays available while searching
  list.FastFind->trigger();
  ASSERT_EQ(list.FindTexts.size(), 1u);
  EXPECT_TRUE(list.FindTexts[0].isEmpty());
}

TEST(ResultListCopy, ThreeSelectedResultsReachTheClipboardAsThreeUrls) {
  TResultListHarness list({{"/home/ann/", "a.txt", 1, 0, 0},
                           {"\\\\srv\\share\\dir\\", "b c.txt", 2, 0, 0},
                           {"/home/ann/", "skipped", 3, 0, 0},
                           {"/tmp/", "d.txt", 4, 0, 0}});
  list.SelectRows({3, 0, 1});
  list.Actions->UpdateActions();
  list.Actions->miCopy->trigger();
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl("file:///home/ann/a.txt"), QUrl("smb://srv/share/dir/b c.txt"),
                                       QUrl("file:///tmp/d.txt")}));
  EXPECT_TRUE(data->hasFormat("x-special/gnome-copied-files"));
  // Pasted as text: the full names, one a line, not links.
  EXPECT_EQ(data->text(), QStringLiteral("/home/ann/a.txt\n\\\\srv\\share\\dir\\b c.txt\n/tmp/d.txt"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The desktop's launcher reports nothing when no program handles a file: the page says
// why. Empty desktop associations stand for a desktop without a program for the type.
TEST(ResultListOpen, NoProgramForTheFileOrAFileGoneIsSaid) {
  QTemporaryDir home;
  const QByteArray empty = QFile::encodeName(home.path());
  const char* const variables[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"};
  std::vector<QByteArray> saved;
  for (const char* name : variables) {
    saved.push_back(qgetenv(name));
    qputenv(name, empty);
  }
  const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
  qunsetenv("XDG_CURRENT_DESKTOP");
  const QString file = home.filePath(QStringLiteral("plan.lqtest-unknown"));
  std::ofstream(file.toStdString()) << "x";
  const QString noProgram = OpenWithDesktop(QUrl::fromLocalFile(file));
  const QString gone = OpenWithDesktop(QUrl::fromLocalFile(home.filePath(QStringLiteral("gone.txt"))));
  for (size_t i = 0; i < saved.size(); ++i) qputenv(variables[i], saved[i]);
  qputenv("XDG_CURRENT_DESKTOP", desktop);
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
    GTEST_SKIP() << "xdg-mime is not installed (xdg-utils)";
  EXPECT_TRUE(noProgram.startsWith(QStringLiteral("No program is set to open \"%1\"").arg(file))) << noProgram.toStdString();
  EXPECT_EQ(gone, QStringLiteral("\"%1\" does not exist any more.").arg(home.filePath(QStringLiteral("gone.txt"))));
}

TEST(ResultListOpen, FileAndFolderOfTheOneSelectedRow) {
  TResultListHarness list({{"/home/ann/", "a.txt", 1, 0, 0}, {"\\\\srv\\share\\dir\\", "b.txt", 2, 0, 0}});
  list.SelectRows({1});
  list.OpenFile->trigger();
  list.BrowseDir->trigger();
  EXPECT_EQ(list.Opened, (std::vector<QUrl>{QUrl("smb://srv/share/dir/b.txt"), QUrl("smb://srv/share/dir/")}));

  list.SelectRows({0, 1});
  list.Actions->actOpenFileExecute();
  list.Actions->actBrowseDirExecute();
  EXPECT_EQ(list.Opened.size(), 2u) << "disabled with two rows selected";
  EXPECT_TRUE(list.Actions->miCopy->isEnabled());
}

TEST(ResultListMouse, DoubleClickOnlySelects) {
  TResultListHarness list(kRows);
  list.Page->show();
  const QRect row1 = list.View->visualRect(list.Model->index(1, 0));
  QTest::mouseDClick(list.View->viewport(), Qt::LeftButton, {}, row1.center());
  QTest::keyClick(list.View, Qt::Key_Return);
  EXPECT_TRUE(list.Opened.empty());
  EXPECT_TRUE(list.FindTexts.empty());
  EXPECT_TRUE(list.View->selectionModel()->isRowSelected(1));
}

TEST(ResultListDrag, StartsOnlyPastTenPixelsAndCarriesTheSelection) {
  TResultListHarness list(kRows);
  list.Page->show();
  list.SelectRows({0, 2});
  QWidget* viewport = list.View->viewport();
  const QPoint start = list.View->visualRect(list.Model->index(2, 0)).center();
  QTest::mousePress(viewport, Qt::LeftButton, {}, start);
  EXPECT_TRUE(list.View->selectionModel()->isRowSelected(0)) << "a press keeps a multi-row selection";
  QMouseEvent ten(QEvent::MouseMove, start + QPoint(6, 4), viewport->mapToGlobal(start + QPoint(6, 4)),
                  Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &ten);
  EXPECT_EQ(list.Drags, 0) << "10 pixels is not enough";
  QMouseEvent eleven(QEvent::MouseMove, start + QPoint(6, -5), viewport->mapToGlobal(start + QPoint(6, -5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &eleven);
  ASSERT_EQ(list.Drags, 1);
  EXPECT_EQ(list.DragEffects, DROPEFFECT_COPY);
  EXPECT_TRUE(list.DraggingDuringLoop);
  EXPECT_FALSE(list.Actions->Dragging);
  EXPECT_EQ(list.Actions->DragStartX, -1);

  const std::vector<uint8_t> header(list.DraggedBlock.begin(), list.DraggedBlock.begin() + 20);
  EXPECT_EQ(header, (std::vector<uint8_t>{20, 0, 0, 0, 100, 0, 0, 0, 100, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  TGlobalMemory block(0, list.DraggedBlock.size());
  std::copy(list.DraggedBlock.begin(), list.DraggedBlock.end(), block.Lock());
  EXPECT_EQ(ReadFileDropBlock(block), Names({"/srv/b/zeta.txt", "/srv/c/alpha.bin"}));

  // A second move before any new press does not start another drag.
  QCoreApplication::sendEvent(viewport, &eleven);
  EXPECT_EQ(list.Drags, 1);
}

TEST(ResultListDrag, NoSelectionDragsNothingAndAFailureIsReported) {
  TResultListHarness list(kRows);
  list.Actions->DragStartX = 0;
  list.Actions->DragStartY = 0;
  QMouseEvent far(QEvent::MouseMove, QPointF(30, 30), QPointF(30, 30), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list.View->viewport(), &far);
  EXPECT_EQ(list.Drags, 0);
  EXPECT_FALSE(list.Actions->Dragging);

  list.SelectRows({1});
  list.DragResult = E_NOTIMPL;
  list.Actions->DragStartX = 0;
  list.Actions->DragStartY = 0;
  QCoreApplication::sendEvent(list.View->viewport(), &far);
  EXPECT_EQ(list.Drags, 1);
  ASSERT_EQ(list.Boxes.size(), 1u);
  EXPECT_EQ(list.Boxes[0].Icon, TMsgIcon::Stop);
  EXPECT_FALSE(list.Actions->Dragging);
}

class ResultListFiles : public ::testing::Test {
 protected:
  QString PathOf(const char* name) const { return QDir(Folder.path()).filePath(name); }
  static std::string Head(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::string text(64, '\0');
    in.read(text.data(), 64);
    text.resize(size_t(in.gcount()));
    return text;
  }
  QTemporaryDir Folder;
};

TEST_F(ResultListFiles, ExportChoosesXmlByExtensionInAnyCase) {
  TResultListHarness list(kRows);
  const struct {
    const char* name;
    bool xml;
  } cases[] = {{"a.xml", true}, {"b.XmL", true}, {"c.htm", false}, {"d.txt", false}, {"e", false}};
  for (const auto& c : cases) {
    list.Answer = PathOf(c.name);
    list.Export->trigger();
    EXPECT_EQ(Head(list.Answer).rfind("<?xml", 0) == 0, c.xml) << c.name;
    EXPECT_NE(Head(list.Answer).find(c.xml ? "<?xml" : "<HTML"), std::string::npos) << c.name;
  }
  const TFileDialogRequest& first = list.Asked.front();
  EXPECT_TRUE(first.Save);
  EXPECT_EQ(first.NameFilters, (QStringList{"HTML file (*.html)", "XML file (*.xml)"}));
  EXPECT_EQ(first.SelectedFilter, QString("HTML file (*.html)"));
  EXPECT_EQ(first.DefaultSuffix, QString("xml"));
  EXPECT_EQ(list.Asked.back().Directory, QDir(Folder.path()).absolutePath()) << "LastDialogFolder";
  EXPECT_TRUE(list.Boxes.empty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ResultListFiles, SaveAndLoadRoundTripThroughTheDialogs) {
  TResultListHarness list(kRows);
  list.Answer = PathOf("r.dat");
  list.SaveToFile->trigger();
  ASSERT_TRUE(list.Boxes.empty());
  list.SetRows({{"/x/", "other", 1, 0, 0}});
  list.LoadFromFile->trigger();
  EXPECT_EQ(list.Shown(), Names({"/srv/b/zeta.txt", "/srv/a/Mid.doc", "/srv/c/alpha.bin"}));
  ASSERT_EQ(list.Asked.size(), 2u);
  EXPECT_TRUE(list.Asked[0].Save);
  EXPECT_FALSE(list.Asked[1].Save);
  for (const TFileDialogRequest& request : list.Asked) {
    EXPECT_EQ(request.NameFilters, (QStringList{"Search results (*.dat)", "All files (*)"}));
    EXPECT_EQ(request.DefaultSuffix, QString("dat"));
  }
  EXPECT_EQ(list.Asked[1].Directory, QDir(Folder.path()).absolutePath());
}

TEST_F(ResultListFiles, FailedLoadLeavesTheViewEqualToTheStoreAndReportsOnce) {
  TResultListHarness list(kRows);
  {
    std::ofstream bad(PathOf("bad.dat").toStdString(), std::ios::binary);
    bad << "not a result file";
  }
  list.Answer = PathOf("bad.dat");
  list.LoadFromFile->trigger();
  ASSERT_EQ(list.Boxes.size(), 1u);
  EXPECT_EQ(list.Boxes[0].Icon, TMsgIcon::Stop);
  EXPECT_EQ(list.Boxes[0].Buttons, TMsgButtons::Ok);
  EXPECT_FALSE(list.Boxes[0].Text.isEmpty());
  EXPECT_EQ(size_t(list.Model->rowCount()), list.Store.Count());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  list.Answer.clear();  // a cancelled dialog changes nothing
  list.SetRows(kRows);
  list.LoadFromFile->trigger();
  EXPECT_EQ(list.Store.Count(), 3u);
}

TEST_F(ResultListFiles, AFileCutShortShowsWhatItHoldsAndSaysSo) {
  TResultListHarness list(kRows);
  list.Answer = PathOf("cut.dat");
  list.SaveToFile->trigger();
  ASSERT_TRUE(list.Boxes.empty());
  std::filesystem::resize_file(PathOf("cut.dat").toStdString(),
                               std::filesystem::file_size(PathOf("cut.dat").toStdString()) - 3);
  list.SetRows({});
  list.LoadFromFile->trigger();
  EXPECT_EQ(list.Shown(), Names({"/srv/b/zeta.txt", "/srv/a/Mid.doc"}));
  ASSERT_EQ(list.Boxes.size(), 1u);
  EXPECT_EQ(list.Boxes[0].Icon, TMsgIcon::Information);
  EXPECT_TRUE(list.Boxes[0].Text.contains("ends inside a record")) << list.Boxes[0].Text.toStdString();
}

TEST_F(ResultListFiles, SaveFailureIsShownAndTheCursorRestored) {
  TResultListHarness list(kRows);
  list.Answer = PathOf("missing-folder/r.dat");
  list.SaveToFile->trigger();
  ASSERT_EQ(list.Boxes.size(), 1u);
  EXPECT_EQ(list.Boxes[0].Caption, ApplicationTitle());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
