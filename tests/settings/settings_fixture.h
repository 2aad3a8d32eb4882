#pragma once
// A private hive file in a temporary folder for each test; Restart() stands for the
// program ending and starting again (the hive is written, dropped and loaded anew).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "hive/registry.h"
#include "settings/settings_layout.h"

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    Restart();
  }
  void TearDown() override {
    Hive.reset();
    std::filesystem::remove_all(Dir);
  }

  void Restart() {
    Hive.reset();
    Hive = std::make_unique<TRegistryHive>(Dir / "Lanternquest.reg");
  }

  // A key below SettingsRoot, created for a test to fill in.
  TRegKey Key(std::string_view subKey) { return Hive->CreateKey(SettingsKey(subKey)); }

  std::filesystem::path Dir;
  std::unique_ptr<TRegistryHive> Hive;
};
