#include "engine/file_thread.h"

#include <algorithm>
#include <limits>

#include "network/folder_listing.h"
#include "os/dos_time.h"
#include "os/net_errors.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {

constexpr uint32_t kTestedAttr = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;

// Null when the task has no mask. Throws TMaskError for a malformed mask or exclusion mask.
std::shared_ptr<const TWalkRules> CompileRules(const TSearchTask& task) {
  std::vector<TMask> masks = CompileMasks(task.Mask);
  if (masks.empty()) return nullptr;
  return std::make_shared<const TWalkRules>(TWalkRules{std::move(masks), TEntryFilter(task)});
}

// Each worker thread's spare entry vector, so that a folder's listing reuses the room an
// earlier folder's grew instead of growing its own.
thread_local std::vector<TDirEntry> SpareEntries;

}  // namespace

TFileThread::~TFileThread() {
  // The listing is closed before the base notifies the page.
  Listing.reset();
  if (Entries.capacity() > SpareEntries.capacity()) {
    Entries.clear();
    SpareEntries.swap(Entries);
  }
}

void TFileThread::Run() {
  if (!Task->Rules) {
    try {
      Task->Rules = CompileRules(*Task);
    } catch (const TMaskError&) {
      // Every folder of the search would fail alike: list nothing, queue nothing.
      return;
    }
    if (!Task->Rules) return;
  }
  Rules = Task->Rules.get();
  Entries.swap(SpareEntries);
  const char separator = PathSeparatorOf(Task->Path);
  std::string folder = Task->Path;
  if (folder.empty() || folder.back() != separator) folder += separator;
  FolderPath = std::make_shared<const std::string>(folder);
  for (size_t i = 0; i < Rules->Masks.size() && !Terminated(); ++i) {
    MaskIndex = static_cast<int32_t>(i);
    WalkFolder(folder);
    if (!Listing) return;
  }
}

void TFileThread::WalkFolder(const std::string& folder) {
  FlushResults(false);
  if (MaskIndex == 0) {
    if (!ListFolder(folder)) return;
    Delivered.assign(Entries.size(), false);
    QueueSubFolders(folder);
  }
  for (size_t i = 0; i < Entries.size(); ++i) {
    TDirEntry& entry = Entries[i];
    if (!Delivered[i] && IsMatch(entry) && !Rules->Filter.Excluded(entry.Name)) {
      if (ResultStore.DetailsWanted) Listing->Detail(entry);
      auto result = std::make_unique<TSearchResult>();
      result->Path = FolderPath;
      result->Name = entry.Name;
      if (entry.Unreadable) {
        // Shown blank: no size and no date rather than 0 B on 1 January 1980.
        result->DateTime = std::numeric_limits<double>::quiet_NaN();
        result->Size = -1;
      } else if (entry.Detailed) {
        result->DateTime = DosDateTimeToDateTime(entry.DosTime);
        result->Size = entry.Size;
      }
      result->Attr = entry.Attr;
      BufferResult(std::move(result));
      Delivered[i] = true;
      if (BufferCount >= kDeliveryBatch) FlushResults(false);
    }
    if (Terminated()) break;
  }
  if (!Terminated()) FlushResults(true);
}

bool TFileThread::ListFolder(const std::string& folder) {
  TListingFailure failure;
  Listing = Task->Listed ? std::move(Task->Listed) : OpenDirListing(folder, Task->ParentFolder, &failure);
  Task->ParentFolder.reset();  // the parent's descriptor may close now
  if (Listing) {
    if (!EntersFileSystem()) {
      Listing.reset();
      return false;
    }
    ReadListing(*Listing, failure);
  }
  if (failure.Retryable && !Terminated()) {
    // Once more, on a connection set up anew; the first listing's entries stay when the
    // second does no better.
    std::vector<TDirEntry> firstEntries;
    firstEntries.swap(Entries);
    const uint64_t firstFileId = OwnFileId;
    TListingFailure again;
    std::unique_ptr<TDirListing> second = OpenDirListing(folder, nullptr, &again);
    if (second) ReadListing(*second, again);
    if (second && (!again.Failed() || Entries.size() > firstEntries.size())) {
      Listing = std::move(second);
      failure = again;
    } else {
      Entries.swap(firstEntries);
      OwnFileId = firstFileId;
      if (!Listing) failure = again;
    }
  }
  if (failure.Failed()) {
    ErrorLog.AddFolderError(folder, failure.Reason, failure.EndedEarly);
    Manager.RaiseLogChanged();
  }
  return Listing != nullptr;
}

void TFileThread::ReadListing(TDirListing& listing, TListingFailure& failure) {
  TDirEntry entry;
  while (listing.Next(entry)) {
    if (entry.Name == ".") OwnFileId = entry.FileId;
    if (entry.Name == "." || entry.Name == "..") continue;
    Entries.push_back(std::move(entry));
  }
  failure = listing.Failure();
}

void TFileThread::QueueSubFolders(const std::string& folder) {
  std::vector<PSearchTask> children;
  POpenFolder parent;
  for (TDirEntry& entry : Entries) {
    if (Terminated()) return;
    if (Rules->Filter.Excluded(entry.Name) || !IsSubFolder(entry)) continue;
    if (children.empty()) parent = Listing->Folder();
    PSearchTask child = CopyTask(*Task);
    child->Path = folder + entry.Name;
    child->ParentFolder = parent;
    child->MountPoints = Task->MountPoints;
    child->Rules = Task->Rules;
    if (IsUncPath(folder) && !AcceptNetworkChild(entry, *child)) continue;
    children.push_back(std::move(child));
  }
  if (!children.empty() && !Terminated()) Manager.AddTasks(children);
}

bool TFileThread::AcceptNetworkChild(const TDirEntry& entry, TSearchTask& child) {
  uint32_t cut = NO_ERROR;
  if (child.Path.size() > kMaxNetworkPath) {
    cut = ERROR_FILENAME_EXCED_RANGE;
  } else if (entry.FileId != 0 &&
             (entry.FileId == OwnFileId ||
              std::find(Task->AncestorFileIds.begin(), Task->AncestorFileIds.end(), entry.FileId) !=
                  Task->AncestorFileIds.end())) {
    cut = ERROR_CANT_RESOLVE_FILENAME;
  }
  if (cut != NO_ERROR) {
    NETRESOURCEA resource;
    resource.lpProvider = kSmbProviderName;
    resource.lpRemoteName = child.Path;
    ErrorLog.AddError(cut, resource);
    Manager.RaiseLogChanged();
    return false;
  }
  child.AncestorFileIds = Task->AncestorFileIds;
  if (OwnFileId != 0) child.AncestorFileIds.push_back(OwnFileId);
  return true;
}

bool TFileThread::IsMatch(TDirEntry& entry) {
  // Attribute bits known without a stat can reject at once.
  if (!Rules->Filter.AttributesPass(entry.Attr & entry.KnownAttr)) return false;
  if (!Rules->Masks[static_cast<size_t>(MaskIndex)].Matches(entry.Name)) return false;
  const uint32_t unsettled = kTestedAttr & ~entry.KnownAttr;
  if ((unsettled & ~Task->FileAttr) != 0 || Rules->Filter.NeedsSizeOrTime()) {
    Listing->Detail(entry);
    if (!Rules->Filter.AttributesPass(entry.Attr)) return false;
  }
  return !Rules->Filter.NeedsSizeOrTime() || Rules->Filter.SizeAndTimePass(entry.Size, entry.DosTime);
}

bool TFileThread::IsSubFolder(TDirEntry& entry) {
  if (entry.IsLink) return false;
  if ((entry.KnownAttr & kAttrDirectory) == 0) Listing->Detail(entry);
  return entry.IsWalkableFolder();
}

bool TFileThread::EntersFileSystem() {
  if (IsUncPath(Task->Path)) return true;
  if (!Task->MountPoints) {
    Task->MountPoints = TMountPoints::ForWalkFrom(Task->Path, Listing->Device());
    return true;
  }
  if (!Task->MountPoints->IsMountPoint(Task->Path)) return true;
  if (Task->OneFileSystem && Listing->Device() != Task->MountPoints->StartDevice()) return false;
  return !Listing->OnPseudoFileSystem();
}
