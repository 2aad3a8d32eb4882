#include <gtest/gtest.h>

#include "settings/main_settings.h"
#include "settings/setting.h"
#include "settings_fixture.h"

namespace {

using PageDefaultsTest = SettingsTest;

TSetting LoadedPage(TRegistryHive& hive) {
  TSetting setting;
  LoadPageDefaults(setting, hive);
  return setting;
}

void ExpectEntireNetworkAndNoFilters(const TSetting& s, uint32_t fileAttr) {
  ASSERT_TRUE(s.NetResource);
  EXPECT_EQ(*s.NetResource, EntireNetworkResource());
  EXPECT_FALSE(s.NetResource->lpRemoteName.has_value()) << "the entire network has nil names";
  EXPECT_EQ(s.NetResPath, "");
  EXPECT_EQ(s.FileAttr, fileAttr);
  EXPECT_EQ(s.FileSizeFrom, -1);
  EXPECT_EQ(s.FileSizeTo, -1);
  EXPECT_EQ(s.FileTimeType, 0);
  EXPECT_EQ(s.FileTimeFrom, 0.0);
  EXPECT_EQ(s.FileTimeTo, 0.0);
}

TEST_F(PageDefaultsTest, FirstRunSearchesTheEntireNetworkWith49ThenAFirstExitGives63) {
  ExpectEntireNetworkAndNoFilters(LoadedPage(*Hive), 49);

  SaveMainSettings(TMainWindowState{}, TProgramOptions{}, *Hive);
  Restart();
  ExpectEntireNetworkAndNoFilters(LoadedPage(*Hive), 63);
}

TEST_F(PageDefaultsTest, CopiesOwnTheirResource) {
  TSetting a;
  a.NetResource->lpRemoteName = "\\\\HOST";
  TSetting b(a);
  b.NetResource->lpRemoteName = "\\\\OTHER";
  TSetting c;
  c = a;
  FreeNetResource(a.NetResource);
  EXPECT_EQ(b.NetResource->lpRemoteName, "\\\\OTHER");
  EXPECT_EQ(c.NetResource->lpRemoteName, "\\\\HOST");
}

TEST_F(PageDefaultsTest, SavedLocationsAndFiltersComeBack) {
  TSetting share;
  share.NetResource->dwScope = RESOURCE_GLOBALNET;
  share.NetResource->dwType = RESOURCETYPE_DISK;
  share.NetResource->dwDisplayType = RESOURCEDISPLAYTYPE_SHARE;
  share.NetResource->dwUsage = RESOURCEUSAGE_CONNECTABLE;
  share.NetResource->lpRemoteName = "\\\\HOST\\Music";
  share.NetResource->lpComment = "caf\xE9";
  share.NetResFullPath = "\\\\HOST\\Music";
  share.FileAttr = 0x3F;
  share.FileSizeFrom = 1024;
  share.FileSizeTo = -1;
  share.FileTimeType = 1;
  share.FileTimeFrom = 45000.5;
  share.FileTimeTo = 45100.25;
  share.Exclude = ".git;node_modules;*.bak";
  SavePageDefaults(share, true, true, *Hive);
  Restart();

  TSetting loaded = LoadedPage(*Hive);
  ASSERT_TRUE(loaded.NetResource);
  NETRESOURCEA expected = *share.NetResource;
  // Names that were nil come back as empty strings.
  expected.lpLocalName = "";
  expected.lpProvider = "";
  EXPECT_EQ(*loaded.NetResource, expected);
  EXPECT_EQ(loaded.NetResFullPath, "\\\\HOST\\Music");
  EXPECT_EQ(loaded.FileAttr, 0x3Fu);
  EXPECT_EQ(loaded.FileSizeFrom, 1024);
  EXPECT_EQ(loaded.FileSizeTo, -1);
  EXPECT_EQ(loaded.FileTimeType, 1);
  EXPECT_EQ(loaded.FileTimeFrom, 45000.5);
  EXPECT_EQ(loaded.FileTimeTo, 45100.25);
  EXPECT_EQ(loaded.Exclude, ".git;node_modules;*.bak");

  // A folder saved later keeps the stored resource values but wins over them.
  TSetting folder;
  FreeNetResource(folder.NetResource);
  folder.NetResPath = "\\\\HOST\\Music\\Jazz";
  folder.NetResFullPath = "\\\\HOST\\Music\\Jazz";
  SavePageDefaults(folder, false, true, *Hive);
  Restart();
  std::optional<TRegKey> key = Hive->OpenKeyReadOnly(SettingsKey(kNetResourceKey));
  EXPECT_EQ(key->ReadString("lpRemoteName"), "\\\\HOST\\Music");
  EXPECT_EQ(key->ReadInteger("dwUsage"), static_cast<int32_t>(RESOURCEUSAGE_CONNECTABLE));
  loaded = LoadedPage(*Hive);
  EXPECT_FALSE(loaded.NetResource);
  EXPECT_EQ(loaded.NetResPath, "\\\\HOST\\Music\\Jazz");
  EXPECT_EQ(loaded.FileSizeFrom, 1024) << "saving the location alone leaves the filters";
}

TEST_F(PageDefaultsTest, AFolderPathWinsOverStoredResourceValuesWhateverTheySay) {
  TRegKey key = Key(kNetResourceKey);
  key.WriteString("NetResPath", "/home/ann/docs");
  key.WriteString("NetResFullPath", "/home/ann/docs");
  key.WriteString("dwScope", "not even an integer");
  TSetting loaded = LoadedPage(*Hive);
  EXPECT_FALSE(loaded.NetResource);
  EXPECT_EQ(loaded.NetResPath, "/home/ann/docs");
}

struct TDamage {
  const char* What;
  std::string_view SubKey;
  void (*Spoil)(TRegistryHive&, TRegKey&);
};

class DamagedGroupTest : public SettingsTest, public ::testing::WithParamInterface<TDamage> {};

// Good defaults for both groups are stored, one value is spoilt: the group holding it
// keeps the page's construction values, the other group still loads.
TEST_P(DamagedGroupTest, KeepsThatGroupsDefaultsAndLoadsTheOther) {
  TSetting saved;
  saved.NetResource->lpRemoteName = "\\\\HOST";
  saved.NetResource->dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
  saved.NetResFullPath = "\\\\HOST";
  saved.FileAttr = 0x21;
  saved.FileSizeFrom = 10;
  SavePageDefaults(saved, true, true, *Hive);
  TRegKey key = Key(GetParam().SubKey);
  GetParam().Spoil(*Hive, key);
  Restart();

  TSetting loaded = LoadedPage(*Hive);
  const bool locationSpoilt = GetParam().SubKey == kNetResourceKey;
  ASSERT_TRUE(loaded.NetResource);
  if (locationSpoilt) {
    EXPECT_EQ(*loaded.NetResource, EntireNetworkResource());
    EXPECT_EQ(loaded.NetResFullPath, "");
    EXPECT_EQ(loaded.FileAttr, 0x21u);
    EXPECT_EQ(loaded.FileSizeFrom, 10);
  } else {
    EXPECT_EQ(loaded.NetResource->lpRemoteName, "\\\\HOST");
    EXPECT_EQ(loaded.NetResFullPath, "\\\\HOST");
    EXPECT_EQ(loaded.FileAttr, 49u);
    EXPECT_EQ(loaded.FileSizeFrom, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    OneValue, DamagedGroupTest,
    ::testing::Values(
        TDamage{"missing_dwType", kNetResourceKey,
                [](TRegistryHive& hive, TRegKey&) {
                  // The same key written again without "dwType".
                  hive.DeleteKey(SettingsKey(kNetResourceKey));
                  TRegKey k = hive.CreateKey(SettingsKey(kNetResourceKey));
                  k.WriteString("NetResPath", "");
                  k.WriteString("NetResFullPath", "\\\\HOST");
                  for (const char* name : {"dwScope", "dwDisplayType", "dwUsage"}) k.WriteInteger(name, 2);
                }},
        TDamage{"dwScope_as_string", kNetResourceKey,
                [](TRegistryHive&, TRegKey& k) { k.WriteString("dwScope", "2"); }},
        TDamage{"NetResPath_as_integer", kNetResourceKey,
                [](TRegistryHive&, TRegKey& k) { k.WriteInteger("NetResPath", 0); }},
        TDamage{"FileAttr_as_string", kOptionsKey,
                [](TRegistryHive&, TRegKey& k) { k.WriteString("FileAttr", "63"); }},
        TDamage{"FileTimeFrom_7_bytes", kOptionsKey,
                [](TRegistryHive&, TRegKey& k) { k.WriteBinary("FileTimeFrom", "1234567"); }},
        TDamage{"FileSizeTo_as_binary", kOptionsKey,
                [](TRegistryHive&, TRegKey& k) { k.WriteBinary("FileSizeTo", "1234"); }}),
    [](const auto& info) { return std::string(info.param.What); });

}  // namespace
