// The options dialog's filters and program-wide options: how stored values are shown, how
// input is validated and stored, and what "Save as default" writes.
#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QLayout>
#include <QTest>
#include <QTimeEdit>

#include "test_options_fixture.h"

namespace {

constexpr const char* kSizeOrder = "The file size \"to\" can not be lower then file size \"from\"!";
constexpr const char* kTimeOrder = "The file time \"to\" can not be lower then file time \"from\"!";

void SetSize(QCheckBox* check, TSpinEdit* number, QComboBox* units, const char* text, int unit) {
  check->setChecked(true);
  number->SetText(QString::fromLatin1(text));
  units->setCurrentIndex(unit);
}

TEST_F(OptionsTest, LayoutCaptionsAndRoots) {
  auto dialog = Open();
  EXPECT_EQ(dialog->windowTitle(), "Options");
  EXPECT_EQ(dialog->width(), 369);
  EXPECT_GE(dialog->height(), 323) << "taller only where the font needs it";
  EXPECT_LT(dialog->minimumWidth(), dialog->maximumWidth()) << "resizable, for long names";
  ASSERT_EQ(dialog->PageControl->count(), 3);
  EXPECT_EQ(dialog->PageControl->tabText(0), "Network");
  EXPECT_EQ(dialog->PageControl->tabText(1), "Filters");
  EXPECT_EQ(dialog->PageControl->tabText(2), "Common");
  EXPECT_EQ(dialog->btnOk->text(), "Ok");
  EXPECT_TRUE(dialog->btnOk->isDefault());
  EXPECT_TRUE(dialog->btnOk->isEnabled());  // nothing chosen yet: the location is kept
  EXPECT_EQ(dialog->cmbSizeFrom->count(), 4);
  EXPECT_EQ(dialog->cmbSizeTo->itemText(3), "GB");
  EXPECT_EQ(dialog->spnSizeFrom->maximum(), 999999);
  EXPECT_EQ(dialog->spnMaxThread->minimum(), 1);
  EXPECT_EQ(dialog->spnMaxThread->maximum(), 12);
  EXPECT_TRUE(dialog->cmbFileTimeType->isHidden());
  EXPECT_EQ(dialog->dtpTimeFrom->displayFormat(), "HH:mm");

  TNetNode* root = dialog->NetworkRoot();
  EXPECT_EQ(root->Caption(), "Entire network");
  EXPECT_EQ(root->ImageIndex, kImageNetworkRoot);
  ASSERT_TRUE(root->Record);
  EXPECT_EQ(*root->Record, EntireNetworkResource());
  EXPECT_TRUE(root->HasChildrenMark());
  EXPECT_EQ(dialog->LocalRoot()->Caption(), "Local folders");
  EXPECT_FALSE(dialog->LocalRoot()->flags() & Qt::ItemIsSelectable);
}

struct TShownSize {
  int32_t Bound;
  bool Ticked;
  int Number;
  const char* Unit;
};

class ShownSizeTest : public OptionsTest, public ::testing::WithParamInterface<TShownSize> {};

TEST_P(ShownSizeTest, StoredBoundOpensAsNumberAndUnit) {
  const TShownSize c = GetParam();
  Setting.FileSizeFrom = c.Bound;
  Setting.FileSizeTo = c.Bound;
  auto dialog = Open();
  EXPECT_EQ(dialog->chbSizeFrom->isChecked(), c.Ticked);
  EXPECT_EQ(dialog->spnSizeFrom->isEnabled(), c.Ticked);
  EXPECT_EQ(dialog->cmbSizeFrom->isEnabled(), c.Ticked);
  EXPECT_EQ(dialog->spnSizeFrom->value(), c.Number);
  EXPECT_EQ(dialog->cmbSizeFrom->currentText(), c.Unit);
  EXPECT_EQ(dialog->spnSizeTo->value(), c.Number);
  EXPECT_EQ(dialog->cmbSizeTo->currentText(), c.Unit);
}

INSTANTIATE_TEST_SUITE_P(Bounds, ShownSizeTest,
                         ::testing::Values(TShownSize{-1, false, 0, "B"}, TShownSize{0, false, 0, "B"},
                                           TShownSize{1023, true, 1023, "B"}, TShownSize{1500, true, 1, "KB"},
                                           TShownSize{3 * 1048576 + 5, true, 3, "MB"},
                                           TShownSize{1073741823, true, 1023, "MB"},
                                           TShownSize{1073741824, true, 1, "GB"},
                                           TShownSize{2147483647, true, 1, "GB"}));

TEST_F(OptionsTest, OpeningAndOkStoresTheShownBound) {
  Setting.FileSizeFrom = 1500;
  auto dialog = Open();
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.FileSizeFrom, 1024);
  EXPECT_EQ(Setting.FileSizeTo, -1);
}

struct TSizeInput {
  const char* From;
  int FromUnit;
  const char* To;
  int ToUnit;
  const char* Error;  // nullptr: accepted
  int32_t StoredFrom;
  int32_t StoredTo;
};

class SizeInputTest : public OptionsTest, public ::testing::WithParamInterface<TSizeInput> {};

TEST_P(SizeInputTest, ValidatedThenStoredInBytes) {
  const TSizeInput c = GetParam();
  auto dialog = Open();
  SetSize(dialog->chbSizeFrom, dialog->spnSizeFrom, dialog->cmbSizeFrom, c.From, c.FromUnit);
  SetSize(dialog->chbSizeTo, dialog->spnSizeTo, dialog->cmbSizeTo, c.To, c.ToUnit);
  const bool closed = PressOk(*dialog);
  if (c.Error != nullptr) {
    EXPECT_FALSE(closed);
    EXPECT_EQ(Messages, std::vector<std::string>{c.Error});
    EXPECT_EQ(Setting.FileSizeFrom, -1) << "nothing is stored before validation passes";
    EXPECT_EQ(Setting.FileAttr, 49u);
  } else {
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Messages.empty()) << Messages.front();
    EXPECT_EQ(Setting.FileSizeFrom, c.StoredFrom);
    EXPECT_EQ(Setting.FileSizeTo, c.StoredTo);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SizeInputTest,
    ::testing::Values(TSizeInput{"2", 1, "1000", 0, kSizeOrder, 0, 0},
                      TSizeInput{"1000", 0, "1", 1, nullptr, 1000, 1024},
                      TSizeInput{"5", 2, "5", 2, nullptr, 5 * 1048576, 5 * 1048576},
                      TSizeInput{"", 0, "1", 1, "'' is not a valid integer value", 0, 0},
                      TSizeInput{"1", 0, "x7", 0, "'x7' is not a valid integer value", 0, 0},
                      // Bounds above 2147483647 bytes are refused rather than stored wrapped.
                      TSizeInput{"1", 0, "2", 3,
                                 "The file size \"to\" can not be larger than 2147483647 bytes (just under 2 GB)!", 0,
                                 0},
                      TSizeInput{"999999", 2, "1", 3,
                                 "The file size \"from\" can not be larger than 2147483647 bytes (just under 2 GB)!",
                                 0, 0},
                      TSizeInput{"1", 3, "2047", 2, nullptr, 1073741824, 2047 * 1048576},
                      // A number above the box's maximum becomes the maximum.
                      TSizeInput{"1234567", 0, "1", 2, nullptr, 999999, 1048576}));

// The boxes show their largest value whole, and a number typed past it becomes it.
TEST_F(OptionsTest, NumberBoxesFitTheirMaximumAndClampWhatIsTyped) {
  auto dialog = Open();
  dialog->PageControl->setCurrentIndex(1);
  dialog->show();
  dialog->chbSizeFrom->setChecked(true);
  dialog->chbSizeTo->setChecked(true);
  for (TSpinEdit* box : {dialog->spnSizeFrom, dialog->spnSizeTo}) {
    box->SetText(QString());
    QTest::keyClicks(box, QStringLiteral("1234567"));
    EXPECT_EQ(box->Text(), QStringLiteral("999999"));
    const QLineEdit* edit = box->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(QStringLiteral("999999")))
        << "the largest value shows whole";
  }
  QWidget* filters = dialog->PageControl->widget(1);
  EXPECT_LE(filters->layout()->minimumSize().height(), filters->height()) << "nothing is squeezed";
  dialog->spnMaxThread->SetText(QString());
  QTest::keyClicks(dialog->spnMaxThread, QStringLiteral("13"));
  EXPECT_EQ(dialog->spnMaxThread->Text(), QStringLiteral("12"));
}

TEST_F(OptionsTest, AttributesAreCompletedAndStored) {
  auto dialog = Open();
  for (QCheckBox* box : {dialog->chbReadOnly, dialog->chbHidden, dialog->chbSystem, dialog->chbArchive})
    box->setChecked(false);
  dialog->chbFolder->setChecked(false);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.FileAttr, 0x29u);
  EXPECT_TRUE(dialog->chbReadOnly->isChecked());
  EXPECT_TRUE(dialog->chbArchive->isChecked());

  Setting.FileAttr = 0x3F;
  auto again = Open();
  again->chbReadOnly->setChecked(false);
  ASSERT_TRUE(PressOk(*again));
  EXPECT_EQ(Setting.FileAttr, 0x3Eu);
}

TEST_F(OptionsTest, TimeRangeIsRefusedWhenFromIsLaterOnTheSameDay) {
  auto dialog = Open();
  dialog->chbTimeFrom->setChecked(true);
  dialog->chbTimeTo->setChecked(true);
  EXPECT_TRUE(dialog->dtpDateTo->isEnabled());
  dialog->dtpDateFrom->setDate(QDate(2021, 3, 4));
  dialog->dtpDateTo->setDate(QDate(2021, 3, 4));
  dialog->dtpTimeFrom->setTime(QTime(10, 30));
  dialog->dtpTimeTo->setTime(QTime(9, 0));
  EXPECT_FALSE(PressOk(*dialog));
  EXPECT_EQ(Messages, std::vector<std::string>{kTimeOrder});
  EXPECT_EQ(Setting.FileTimeFrom, 0.0);

  dialog->dtpTimeTo->setTime(QTime(10, 30));
  ASSERT_TRUE(PressOk(*dialog));
  // 2021-03-04 is day 44259 of the count; 10:30 is 0.4375 of a day.
  EXPECT_DOUBLE_EQ(Setting.FileTimeFrom, 44259.4375);
  EXPECT_DOUBLE_EQ(Setting.FileTimeTo, 44259.4375);
}

TEST_F(OptionsTest, StoredTimesOpenAndComeBackUnchanged) {
  // Only an upper bound, long ago: the "From" date shows today, and the earlier "to" date
  // must not be pulled up to it.
  Setting.FileTimeTo = 36526.75;  // 2000-01-01 18:00
  Setting.FileTimeType = 1;
  auto dialog = Open();
  EXPECT_FALSE(dialog->chbTimeFrom->isChecked());
  EXPECT_FALSE(dialog->dtpDateFrom->isEnabled());
  EXPECT_EQ(dialog->dtpDateFrom->date(), QDate::currentDate());
  EXPECT_EQ(dialog->dtpDateTo->date(), QDate(2000, 1, 1));
  EXPECT_EQ(dialog->cmbFileTimeType->currentIndex(), 1);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.FileTimeFrom, 0.0);
  EXPECT_DOUBLE_EQ(Setting.FileTimeTo, 36526.75);
  EXPECT_EQ(Setting.FileTimeType, 1);

  // Ticking "From" then keeps the "to" date from going before it.
  auto again = Open();
  again->chbTimeFrom->setChecked(true);
  again->dtpDateFrom->setDate(QDate(1999, 6, 1));
  EXPECT_EQ(again->dtpDateTo->minimumDate(), QDate(1999, 6, 1));
}

TEST_F(OptionsTest, ProgramOptionsAreStoredOnOkOnly) {
  Options.MaxThreads = 7;
  auto dialog = Open();
  EXPECT_EQ(dialog->spnMaxThread->value(), 7);
  EXPECT_TRUE(dialog->chbMinimazeToTray->isChecked());
  dialog->spnMaxThread->SetText("3");
  dialog->chbMinimazeToTray->setChecked(false);
  dialog->chbMsgWhenComplete->setChecked(false);
  dialog->chbHidden->setChecked(true);
  dialog->reject();  // Cancel and Esc
  EXPECT_EQ(Options.MaxThreads, 7);
  EXPECT_TRUE(Options.MinimazeToTray);
  EXPECT_EQ(Setting.FileAttr, 49u);

  auto again = Open();
  again->spnMaxThread->SetText("3");
  again->chbMinimazeToTray->setChecked(false);
  again->chbMsgWhenComplete->setChecked(false);
  ASSERT_TRUE(PressOk(*again));
  EXPECT_EQ(Options.MaxThreads, 3);
  EXPECT_FALSE(Options.MinimazeToTray);
  EXPECT_FALSE(Options.MessageWhenComplete);

  auto blank = Open();
  blank->spnMaxThread->SetText("");
  ASSERT_TRUE(PressOk(*blank));
  EXPECT_EQ(Options.MaxThreads, 1);
  EXPECT_FALSE(Hive->KeyExists(SettingsKey(kOptionsKey))) << "options reach the settings file only at exit";
}

TEST_F(OptionsTest, OkWithoutChoosingANodeKeepsTheLocation) {
  Setting.NetResPath = "\\\\srv\\docs\\old";
  FreeNetResource(Setting.NetResource);
  Setting.NetResFullPath = "Entire network\\SMB Network\\srv\\docs\\old";
  auto dialog = Open();
  EXPECT_EQ(dialog->LocationEdit->text().toStdString(), Setting.NetResFullPath);
  dialog->chbHidden->setChecked(true);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.NetResPath, "\\\\srv\\docs\\old");
  EXPECT_FALSE(Setting.NetResource);
  EXPECT_EQ(Setting.NetResFullPath, "Entire network\\SMB Network\\srv\\docs\\old");
  EXPECT_EQ(Setting.FileAttr & 0x02u, 0x02u);
}

TEST_F(OptionsTest, SaveAsDefaultWritesOnlyTheTickedGroup) {
  const std::string location = SettingsKey(kNetResourceKey);
  const std::string filters = SettingsKey(kOptionsKey);
  {
    auto dialog = Open();
    dialog->chbDefaultFilter->setChecked(true);
    SetSize(dialog->chbSizeFrom, dialog->spnSizeFrom, dialog->cmbSizeFrom, "4", 1);
    ASSERT_TRUE(PressOk(*dialog));
  }
  ASSERT_TRUE(Hive->KeyExists(filters));
  EXPECT_EQ(Hive->OpenKeyReadOnly(filters)->ReadInteger("FileSizeFrom"), 4096);
  EXPECT_FALSE(Hive->KeyExists(location));
  {
    auto dialog = Open();
    dialog->chbDefaultNetwork->setChecked(true);
    dialog->tvNet->setCurrentItem(dialog->NetworkRoot());
    SetSize(dialog->chbSizeFrom, dialog->spnSizeFrom, dialog->cmbSizeFrom, "9", 1);
    ASSERT_TRUE(PressOk(*dialog));
  }
  ASSERT_TRUE(Hive->KeyExists(location));
  EXPECT_EQ(Hive->OpenKeyReadOnly(location)->ReadString("NetResFullPath"), "Entire network");
  EXPECT_EQ(Hive->OpenKeyReadOnly(filters)->ReadInteger("FileSizeFrom"), 4096) << "filters not saved again";
  EXPECT_EQ(Setting.FileSizeFrom, 9216);

  // The stored record reads back with empty names where the root's record has none.
  TSetting loaded;
  LoadPageDefaults(loaded, *Hive);
  ASSERT_TRUE(loaded.NetResource);
  EXPECT_EQ(loaded.NetResource->lpRemoteName, std::optional<std::string>(""));
  EXPECT_EQ(*Setting.NetResource, EntireNetworkResource());
  // Such a location kept through "Ok" names the entire network again.
  Setting = loaded;
  auto kept = Open();
  ASSERT_TRUE(PressOk(*kept));
  ASSERT_TRUE(Setting.NetResource);
  EXPECT_EQ(*Setting.NetResource, EntireNetworkResource());
  EXPECT_EQ(Setting.NetResFullPath, "Entire network");
}

TEST_F(OptionsTest, ExcludeMasksAreCheckedStoredAndSavedWithTheFilters) {
  Setting.Exclude = ".git";
  auto dialog = Open();
  EXPECT_EQ(dialog->edtExclude->text(), ".git");
  dialog->edtExclude->setText(" node_modules;[a-");
  EXPECT_FALSE(PressOk(*dialog));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("[a-"), std::string::npos) << Messages[0];
  EXPECT_EQ(Setting.Exclude, ".git");

  dialog->edtExclude->setText(" node_modules;*.bak ");
  dialog->chbDefaultFilter->setChecked(true);
  ASSERT_TRUE(PressOk(*dialog));
  EXPECT_EQ(Setting.Exclude, "node_modules;*.bak");
  EXPECT_EQ(Hive->OpenKeyReadOnly(SettingsKey(kOptionsKey))->ReadString("FileExclude"), "node_modules;*.bak");
}

}  // namespace
