// The about box's version line and links, and the help command.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEnterEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <string_view>
#include <vector>

#include "shell/html_help.h"
#include "shell/about_box.h"
#include "shell/ver_info.h"
#include "test_tray_qt_app.h"

namespace {

using namespace std::string_view_literals;

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQApplication();
    Previous = SetUrlOpener([this](const QUrl& url) {
      Opened.push_back(url);
      return true;
    });
  }
  void TearDown() override { SetUrlOpener(Previous); }

  // A file that carries stamp somewhere among other bytes.
  QString FileWith(const QByteArray& stamp, qsizetype junkBefore = 4096) {
    const QString path = Dir.path() + "/program";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(junkBefore, '\x7f'));
    file.write(stamp);
    file.write(QByteArray(1, '\0'));
    file.write(QByteArray(100, 'x'));
    return path;
  }

  QTemporaryDir Dir;
  std::vector<QUrl> Opened;
  TUrlOpener Previous;
};

TEST_F(AboutTest, VersionLineShowsMajorAndMinorOfTheFile) {
  // The test program carries the build's own stamp, like the executable does.
  ASSERT_STREQ(OwnVersionStamp(), "LQ-FILE-VERSION:" LQ_VERSION_STRING);
  EXPECT_EQ(VersionLine(QCoreApplication::applicationFilePath()).toStdString(), "Version 1.1");

  struct Case { std::string_view Contents; const char* Line; };
  const Case cases[] = {
      {"LQ-FILE-VERSION:2.15.3.7"sv, "Version 2.15"},
      {"LQ-FILE-VERSION:\0LQ-FILE-VERSION:3.0.0.1"sv, "Version 3.0"},  // a bare prefix is skipped
      {"LQ-FILE-VERSION:70000.1.0.0"sv, "Version unknown"},             // a part above 65535
      {"LQ-FILE-VERSION:1.2.3"sv, "Version unknown"},
      {"no stamp at all"sv, "Version unknown"},
  };
  for (const Case& c : cases) {
    const QByteArray contents(c.Contents.data(), static_cast<qsizetype>(c.Contents.size()));
    EXPECT_EQ(VersionLine(FileWith(contents)).toStdString(), c.Line) << c.Contents;
  }
  EXPECT_EQ(VersionLine(Dir.path() + "/missing").toStdString(), "Version unknown");

  // A stamp that straddles the boundary between two read blocks is found whole.
  const TVersionInfo across(FileWith("LQ-FILE-VERSION:2.15.3.7", (1 << 20) - 20).toStdString());
  EXPECT_EQ(across.FileVersion(), (std::pair<uint32_t, uint32_t>{2u << 16 | 15u, 3u << 16 | 7u}));
}

TEST_F(AboutTest, LinksOpenTheSiteAndMailAndTurnBlueUnderTheMouse) {
  TAboutBox about(nullptr, FileWith("LQ-FILE-VERSION:2.15.3.7"));
  EXPECT_EQ(about.lblVersion->text(), "Version 2.15");
  EXPECT_EQ(about.size(), QSize(254, 191));

  const QColor navy(0, 0, 0x80), blue(0, 0, 0xFF);
  EXPECT_EQ(about.lblSite->palette().color(QPalette::WindowText), navy);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(about.lblSite, &enter);
  EXPECT_EQ(about.lblSite->palette().color(QPalette::WindowText), blue);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(about.lblSite, &leave);
  EXPECT_EQ(about.lblSite->palette().color(QPalette::WindowText), navy);

  QTest::mouseClick(about.lblSite, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseClick(about.lblEmail, Qt::LeftButton, {}, QPoint(2, 2));
  ASSERT_EQ(Opened.size(), 2u);
  EXPECT_EQ(Opened[0], QUrl(about.lblSite->text()));
  EXPECT_EQ(Opened[1].scheme(), "mailto");
  EXPECT_EQ(Opened[1].path(), about.lblEmail->text());
}

TEST_F(AboutTest, HelpOpensTheOverviewPageAsALocalFile) {
  ShowProgramHelp(nullptr);
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_TRUE(Opened[0].isLocalFile());
  EXPECT_TRUE(Opened[0].toLocalFile().endsWith("/help/overview.html")) << Opened[0].toString().toStdString();
}

}  // namespace
