// The tip of the day: stepping through the tips file and what each showing remembers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>

#include "hive/registry.h"
#include "results/lan_error.h"
#include "settings/settings_layout.h"
#include "settings/tip_settings.h"
#include "shell/tip_dialog.h"
#include "test_tray_qt_app.h"

namespace {

class TipsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQApplication();
    Hive = std::make_unique<TRegistryHive>(std::filesystem::path(Dir.path().toStdString()) / "hive.reg");
  }

  QString WriteTips(const QByteArray& text) {
    const QString path = Dir.path() + "/tips.txt";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    return path;
  }

  // One showing: constructs, loads and hands the dialog to the test; destroying it saves.
  std::unique_ptr<TTipDialog> Open(const QString& path) {
    auto tip = std::make_unique<TTipDialog>(nullptr, *Hive);
    tip->LoadTips(path);
    return tip;
  }

  QTemporaryDir Dir;
  std::unique_ptr<TRegistryHive> Hive;
};

const QByteArray kFiveTips = "one\r\ntwo\nthree\rfour & more\r\nfive\n";

TEST_F(TipsTest, WalkThroughWrapsAndEachShowingStartsAfterTheLastTip) {
  const QString path = WriteTips(kFiveTips);
  SaveTipState(true, 4, *Hive);  // the last tip was on screen last time
  {
    auto tip = Open(path);
    ASSERT_EQ(tip->Tips.size(), 5u);
    EXPECT_EQ(tip->TipIndex, 0);
    EXPECT_EQ(tip->sttTip->text(), "one");
    tip->btnPrevTip->click();  // from the first to the last
    EXPECT_EQ(tip->sttTip->text(), "five");
    tip->btnNextTip->click();  // from the last to the first
    EXPECT_EQ(tip->sttTip->text(), "one");
    tip->btnNextTip->click();
    tip->btnNextTip->click();
    tip->btnNextTip->click();
    EXPECT_EQ(tip->sttTip->text(), "four & more");  // ampersand shown as it is
    tip->btnClose->click();
  }
  EXPECT_EQ(LoadTipState(*Hive).LastTip, 3);
  auto next = Open(path);
  EXPECT_EQ(next->sttTip->text(), "five");
}

TEST_F(TipsTest, EscapeSavesLikeCloseIncludingAnUntickedBox) {
  const QString path = WriteTips(kFiveTips);
  {
    auto tip = Open(path);
    EXPECT_TRUE(tip->chbStartUp->isChecked());  // ticked when nothing is stored
    tip->btnNextTip->click();
    tip->chbStartUp->setChecked(false);
    tip->show();
    QTest::keyClick(tip.get(), Qt::Key_Escape);
    EXPECT_FALSE(tip->isVisible());
  }
  const TTipState saved = LoadTipState(*Hive);
  EXPECT_EQ(saved.LastTip, 1);
  EXPECT_FALSE(saved.ShowTipAtStartup);
  // The command still shows the box, unticked.
  auto again = Open(path);
  EXPECT_FALSE(again->chbStartUp->isChecked());
  EXPECT_EQ(again->sttTip->text(), "three");
}

TEST_F(TipsTest, MissingFileFailsWithItsNameAndKeepsTheStoredChoice) {
  SaveTipState(false, 2, *Hive);
  const QString path = Dir.path() + "/no-such-tips.txt";
  try {
    auto tip = std::make_unique<TTipDialog>(nullptr, *Hive);
    tip->LoadTips(path);
    FAIL() << "a missing tips file must fail";
  } catch (const TLanError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Cannot open file \"" + path.toStdString() + "\". ", 0), 0u)
        << error.what();
  }
  const TTipState kept = LoadTipState(*Hive);
  EXPECT_EQ(kept.LastTip, 2);
  EXPECT_FALSE(kept.ShowTipAtStartup);
}

TEST_F(TipsTest, BlankAndEmptyFilesAndDamagedIndexNeverReadOutsideTheList) {
  {
    auto tip = Open(WriteTips("first\n\nthird"));
    ASSERT_EQ(tip->Tips.size(), 3u);
    tip->btnNextTip->click();
    EXPECT_EQ(tip->sttTip->text(), "");  // the blank line is an empty tip
  }
  {
    auto tip = Open(WriteTips(""));
    EXPECT_EQ(tip->sttTip->text(), "");
    tip->btnNextTip->click();
    tip->btnPrevTip->click();
    EXPECT_EQ(tip->sttTip->text(), "");
    EXPECT_EQ(tip->TipIndex, 0);
  }
  for (const int32_t stored : {-7, std::numeric_limits<int32_t>::max()}) {
    SaveTipState(true, stored, *Hive);
    auto tip = Open(WriteTips(kFiveTips));
    EXPECT_EQ(tip->sttTip->text(), "one") << "stored LastTip " << stored;
  }
}

TEST_F(TipsTest, ShippedTipsFileHasEnoughTips) {
  auto tip = Open(QStringLiteral(LQ_RESOURCES_DIR "/tips.txt"));
  EXPECT_GE(tip->Tips.size(), 15u);
  for (const std::string& line : tip->Tips) EXPECT_FALSE(line.empty());
}

}  // namespace
