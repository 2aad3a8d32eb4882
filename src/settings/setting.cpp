#include "settings/setting.h"

#include "settings/settings_layout.h"

TSetting::TSetting() { CopyNetResource(EntireNetworkResource(), NetResource); }

TSetting::TSetting(const TSetting& other)
    : NetResPath(other.NetResPath),
      FileAttr(other.FileAttr),
      FileSizeFrom(other.FileSizeFrom),
      FileSizeTo(other.FileSizeTo),
      FileTimeType(other.FileTimeType),
      FileTimeFrom(other.FileTimeFrom),
      FileTimeTo(other.FileTimeTo),
      Exclude(other.Exclude),
      NetResFullPath(other.NetResFullPath) {
  if (other.NetResource) CopyNetResource(*other.NetResource, NetResource);
}

TSetting& TSetting::operator=(const TSetting& other) {
  if (this != &other) {
    TSetting copy(other);
    *this = std::move(copy);
  }
  return *this;
}

namespace {

// The location group into `setting`; throws TRegistryError on a damaged value.
void ReadLocation(const TRegKey& key, TSetting& setting) {
  setting.NetResPath = key.ReadString("NetResPath");
  setting.NetResFullPath = key.ReadString("NetResFullPath");
  FreeNetResource(setting.NetResource);
  if (!setting.NetResPath.empty()) return;  // a folder: the resource values do not count
  NETRESOURCEA resource;
  resource.dwScope = static_cast<uint32_t>(key.ReadInteger("dwScope"));
  resource.dwType = static_cast<uint32_t>(key.ReadInteger("dwType"));
  resource.dwDisplayType = static_cast<uint32_t>(key.ReadInteger("dwDisplayType"));
  resource.dwUsage = static_cast<uint32_t>(key.ReadInteger("dwUsage"));
  // Stored names come back as strings, empty but never nil.
  resource.lpLocalName = key.ReadString("lpLocalName");
  resource.lpRemoteName = key.ReadString("lpRemoteName");
  resource.lpComment = key.ReadString("lpComment");
  resource.lpProvider = key.ReadString("lpProvider");
  CopyNetResource(resource, setting.NetResource);
}

// The filter group into `setting`; throws TRegistryError on a damaged value.
void ReadFilters(const TRegKey& key, TSetting& setting) {
  setting.FileAttr = key.ValueExists("FileAttr") ? static_cast<uint32_t>(key.ReadInteger("FileAttr"))
                                                 : kFileAttrWhenOptionsExist;
  if (key.ValueExists("FileSizeFrom")) setting.FileSizeFrom = key.ReadInteger("FileSizeFrom");
  if (key.ValueExists("FileSizeTo")) setting.FileSizeTo = key.ReadInteger("FileSizeTo");
  if (key.ValueExists("FileTimeType")) setting.FileTimeType = key.ReadInteger("FileTimeType");
  if (key.ValueExists("FileTimeFrom")) setting.FileTimeFrom = key.ReadDateTime("FileTimeFrom");
  if (key.ValueExists("FileTimeTo")) setting.FileTimeTo = key.ReadDateTime("FileTimeTo");
  setting.Exclude = key.ValueExists("FileExclude") ? key.ReadString("FileExclude") : std::string();
}

// Runs read on a copy and keeps the copy only when every value of the group was sound.
template <class ReadGroup>
void LoadGroup(TRegistryHive& hive, std::string_view subKey, TSetting& setting, ReadGroup read) {
  std::optional<TRegKey> key = hive.OpenKeyReadOnly(SettingsKey(subKey));
  if (!key) return;
  TSetting loaded(setting);
  try {
    read(*key, loaded);
  } catch (const TRegistryError&) {
    return;  // a damaged group keeps what the page had; the page must still be created
  }
  setting = std::move(loaded);
}

}  // namespace

void LoadPageDefaults(TSetting& setting, TRegistryHive& hive) {
  LoadGroup(hive, kNetResourceKey, setting, ReadLocation);
  LoadGroup(hive, kOptionsKey, setting, ReadFilters);
}

void SavePageDefaults(const TSetting& setting, bool saveFilters, bool saveLocation, TRegistryHive& hive) {
  THiveUpdate update(hive);
  if (saveLocation) {
    TRegKey key = hive.CreateKey(SettingsKey(kNetResourceKey));
    if (const NETRESOURCEA* resource = setting.NetResource.get()) {
      key.WriteInteger("dwScope", static_cast<int32_t>(resource->dwScope));
      key.WriteInteger("dwType", static_cast<int32_t>(resource->dwType));
      key.WriteInteger("dwDisplayType", static_cast<int32_t>(resource->dwDisplayType));
      key.WriteInteger("dwUsage", static_cast<int32_t>(resource->dwUsage));
      key.WriteString("lpLocalName", resource->lpLocalName.value_or(""));
      key.WriteString("lpRemoteName", resource->lpRemoteName.value_or(""));
      key.WriteString("lpComment", resource->lpComment.value_or(""));
      key.WriteString("lpProvider", resource->lpProvider.value_or(""));
      key.WriteString("NetResPath", "");
    } else {
      key.WriteString("NetResPath", setting.NetResPath);
    }
    key.WriteString("NetResFullPath", setting.NetResFullPath);
  }
  if (saveFilters) {
    TRegKey key = hive.CreateKey(SettingsKey(kOptionsKey));
    key.WriteInteger("FileAttr", static_cast<int32_t>(setting.FileAttr));
    key.WriteInteger("FileSizeFrom", setting.FileSizeFrom);
    key.WriteInteger("FileSizeTo", setting.FileSizeTo);
    key.WriteInteger("FileTimeType", setting.FileTimeType);
    key.WriteDateTime("FileTimeFrom", setting.FileTimeFrom);
    key.WriteDateTime("FileTimeTo", setting.FileTimeTo);
    key.WriteString("FileExclude", setting.Exclude);
  }
  update.Commit();
}
