#pragma once
// The options dialog under test: a page setting, program options and a private settings
// file per test, and every message box answered at once and recorded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hive/registry.h"
#include "page/message_box.h"
#include "settings/program_options.h"
#include "settings/setting.h"
#include "settings/settings_layout.h"
#include "shell/options_dialog.h"
#include "test_tray_qt_app.h"

// The child of node with that caption, or nullptr.
inline TNetNode* Child(TNetNode* node, const std::string& caption) {
  for (int i = 0; i < node->childCount(); ++i)
    if (node->ChildNode(i)->Caption() == caption) return node->ChildNode(i);
  return nullptr;
}

inline std::vector<std::string> Captions(TNetNode* node) {
  std::vector<std::string> captions;
  for (int i = 0; i < node->childCount(); ++i) captions.push_back(node->ChildNode(i)->Caption());
  return captions;
}

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQApplication();
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-options-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    Hive = std::make_unique<TRegistryHive>(Dir / "Lanternquest.reg");
    Previous = SetMessageBoxHook([this](const TMessageBoxRequest& request) {
      Messages.push_back(request.Text.toStdString());
      return TMsgResult::Ok;
    });
  }
  void TearDown() override {
    SetMessageBoxHook(Previous);
    Hive.reset();
    std::filesystem::remove_all(Dir);
  }

  std::unique_ptr<TOptionsDialog> Open(TNodeLister lister = PlatformNodeLister()) {
    return std::make_unique<TOptionsDialog>(nullptr, Setting, Options, *Hive, std::move(lister));
  }

  // Presses "Ok"; true when the dialog closed with OK.
  static bool PressOk(TOptionsDialog& dialog) {
    dialog.btnOkClick();
    return dialog.result() == QDialog::Accepted;
  }

  std::filesystem::path Dir;
  std::unique_ptr<TRegistryHive> Hive;
  TSetting Setting;
  TProgramOptions Options;
  std::vector<std::string> Messages;
  TMessageBoxHook Previous;
};
