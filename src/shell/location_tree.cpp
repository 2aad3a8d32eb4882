#include "shell/location_tree.h"

#include <QDir>
#include <QTreeWidget>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>

#include "discovery/range_probe.h"
#include "network/folder_listing.h"
#include "network/netapi.h"
#include "page/off_ui_thread.h"
#include "shell/icons.h"
#include "smb/smb_path.h"

namespace {

constexpr uint32_t kEnumBufferSize = 16384;
constexpr const char* kEntireNetworkCaption = "Entire network";
constexpr const char* kLocalFoldersCaption = "Local folders";

QString ToDisplay(const std::string& text) { return QString::fromLocal8Bit(text); }
std::string Local8Bit(const QString& text) { return text.toLocal8Bit().toStdString(); }

// Runs work on a background thread and returns what it produced, running the GUI
// thread's event loop until then. The result outlives the thread, which is joined here.
template <class TResult>
TResult RunInBackground(const std::function<TResult()>& work) {
  TResult result{};
  try {
    RunOffUiThread([&] { result = work(); });
  } catch (const std::exception&) {
    // A listing that fails lists nothing; the node loses its expand mark.
  }
  return result;
}

// The image for a network node listed below a node of the given depth (the root is 0).
int NetworkImageBelow(int depth) {
  switch (depth) {
    case 0:
    case 1: return kImageNetworkContainer;
    case 2: return kImageServer;
    case 3: return kImageShare;
    default: return kNoImage;
  }
}

int DepthOf(const QTreeWidgetItem* node) {
  int depth = 0;
  for (const QTreeWidgetItem* up = node->parent(); up != nullptr; up = up->parent()) ++depth;
  return depth;
}

void SetImage(TNetNode* node, int slot) {
  node->ImageIndex = slot;
  const TIcons* icons = TIcons::Instance();
  node->setIcon(0, icons != nullptr && slot != kNoImage ? icons->Icon(slot) : QIcon());
}

}  // namespace

TNodeLister PlatformNodeLister() {
  TNodeLister lister;
  lister.EnumerateNetwork = [](const NETRESOURCEA& container) {
    std::vector<NETRESOURCEA> entries;
    HNETENUM handle = nullptr;
    if (WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &container, &handle) != NO_ERROR) return entries;
    TNetEnumGuard guard(handle);
    // Requests go on until the network has given every entry, so that a large domain
    // shows all of its servers, as a search of it reaches them all.
    std::vector<NETRESOURCEA> buffer;
    for (;;) {
      uint32_t count = kEnumAllEntries;
      uint32_t size = kEnumBufferSize;
      if (WNetEnumResourceA(handle, &count, &buffer, &size) != NO_ERROR) break;
      for (NETRESOURCEA& entry : buffer) entries.push_back(std::move(entry));
    }
    return entries;
  };
  lister.ListFoldersWithError = [](const std::string& folder, int& error) {
    std::vector<std::string> names;
    errno = 0;
    std::unique_ptr<TDirListing> listing = OpenDirListing(folder);
    error = listing ? 0 : errno;
    if (!listing) return names;
    constexpr uint32_t kTested = kAttrDirectory | kAttrHidden | kAttrSystem;
    TDirEntry entry;
    while (listing->Next(entry)) {
      if (entry.Name == "." || entry.Name == "..") continue;
      if ((entry.KnownAttr & kTested) != kTested) listing->Detail(entry);
      if (!entry.IsWalkableFolder() || (entry.Attr & (kAttrHidden | kAttrSystem)) != 0) continue;
      names.push_back(entry.Name);
    }
    // Local listings come in no particular order; the tree shows folders by name.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return QString::compare(ToDisplay(a), ToDisplay(b), Qt::CaseInsensitive) < 0;
    });
    return names;
  };
  lister.ListFolders = [list = lister.ListFoldersWithError](const std::string& folder) {
    int ignored = 0;
    return list(folder, ignored);
  };
  return lister;
}

TNetNode::TNetNode(TKind kind, const QString& caption, PNetResource record)
    : QTreeWidgetItem(QStringList{caption}), Kind(kind), Record(std::move(record)) {}

std::string TNetNode::Caption() const { return Local8Bit(text(0)); }

bool TNetNode::HasChildrenMark() const {
  return childCount() > 0 || childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

void TNetNode::SetChildrenMark(bool on) {
  setChildIndicatorPolicy(on ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
}

NETRESOURCEA WithAbsentEmptyNames(NETRESOURCEA record) {
  for (auto* name : {&record.lpLocalName, &record.lpRemoteName, &record.lpComment, &record.lpProvider})
    if (name->has_value() && (*name)->empty()) name->reset();
  return record;
}

TNetNode* AddNetworkRoot(QTreeWidget* tree) {
  auto* root = new TNetNode(TNetNode::TKind::Network, QString::fromLatin1(kEntireNetworkCaption),
                            std::make_unique<NETRESOURCEA>(EntireNetworkResource()));
  root->SetChildrenMark(true);
  SetImage(root, kImageNetworkRoot);
  tree->addTopLevelItem(root);
  return root;
}

TNetNode* AddLocalFoldersRoot(QTreeWidget* tree) {
  auto* root = new TNetNode(TNetNode::TKind::LocalRoot, QString::fromLatin1(kLocalFoldersCaption), nullptr);
  root->setFlags(root->flags() & ~Qt::ItemIsSelectable);
  root->Listed = true;
  SetImage(root, kImageFolder);
  tree->addTopLevelItem(root);
  std::vector<QString> tops{QStringLiteral("/")};
  const QString home = QDir::homePath();
  if (!home.isEmpty() && home != tops[0]) tops.push_back(home);
  for (const QString& path : tops) {
    auto* top = new TNetNode(TNetNode::TKind::LocalTop, path, nullptr);
    top->SetChildrenMark(true);
    SetImage(top, kImageFolder);
    root->addChild(top);
  }
  return root;
}

int ListNodeChildren(TNetNode* node, const TNodeLister& lister, int* error) {
  if (error != nullptr) *error = 0;
  node->Listed = true;
  const int depth = DepthOf(node);
  int added = 0;
  if (node->Record == nullptr || (node->Record->dwUsage & RESOURCEUSAGE_CONNECTABLE) != 0) {
    const std::string folder = NodeFolderPathOf(node);
    const auto list = lister.ListFolders;
    const auto listWithError = lister.ListFoldersWithError;
    int failure = 0;
    const std::vector<std::string> names = RunInBackground<std::vector<std::string>>([&] {
      return listWithError ? listWithError(folder, failure) : list(folder);
    });
    if (error != nullptr) *error = failure;
    for (const std::string& name : names) {
      auto* child = new TNetNode(TNetNode::TKind::Folder, ToDisplay(name), nullptr);
      child->SetChildrenMark(true);
      SetImage(child, kImageFolder);
      node->addChild(child);
      ++added;
    }
  } else {
    const NETRESOURCEA container = WithAbsentEmptyNames(*node->Record);
    const auto enumerate = lister.EnumerateNetwork;
    const std::vector<NETRESOURCEA> entries =
        RunInBackground<std::vector<NETRESOURCEA>>([enumerate, container] { return enumerate(container); });
    for (const NETRESOURCEA& entry : entries) {
      PNetResource record;
      CopyNetResource(entry, record);
      auto* child = new TNetNode(TNetNode::TKind::Network, ToDisplay(entry.lpRemoteName.value_or("")), std::move(record));
      child->SetChildrenMark(true);
      SetImage(child, NetworkImageBelow(depth));
      node->addChild(child);
      ++added;
    }
  }
  return added;
}

TNetNode* AddAddressRangeNode(TNetNode* networkRoot, const std::string& text) {
  std::optional<TIpv4Range> range = ParseIpv4Range(text);
  if (!range) return nullptr;
  PNetResource copy;
  CopyNetResource(AddressRangeResource(*range), copy);
  auto* node = new TNetNode(TNetNode::TKind::Network, QString::fromStdString(range->Text), std::move(copy));
  node->SetChildrenMark(true);
  SetImage(node, NetworkImageBelow(0));
  networkRoot->addChild(node);
  return node;
}

std::string NodeFolderPathOf(const TNetNode* node) {
  // The captions from the nearest node that names a whole location down to node.
  std::vector<const TNetNode*> chain{node};
  while (chain.back()->Kind == TNetNode::TKind::Folder && !chain.back()->Record &&
         chain.back()->ParentNode() != nullptr)
    chain.push_back(chain.back()->ParentNode());
  const char separator = chain.back()->Kind == TNetNode::TKind::LocalTop ? '/' : '\\';
  std::string path = chain.back()->Caption();
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
    if (path.empty() || path.back() != separator) path += separator;
    path += (*it)->Caption();
  }
  return path;
}

std::string NodeDisplayPathOf(const TNetNode* node) {
  if (node == nullptr) return {};
  // A share's caption is its whole UNC name and repeats the server above it
  // (\\srv, then \\srv\share): only the part after the server's name is added for it.
  std::string path;
  for (const TNetNode* up = node; up != nullptr; up = up->ParentNode()) {
    std::string caption = up->Caption();
    if (const TNetNode* parent = up->ParentNode(); parent != nullptr && up->Record && parent->Record) {
      const std::string prefix = parent->Caption() + "\\";
      if (IsUncPath(prefix) && caption.size() > prefix.size() && caption.compare(0, prefix.size(), prefix) == 0)
        caption.erase(0, prefix.size());
    }
    path = caption + "\\" + path;
  }
  path.pop_back();
  for (size_t at; (at = path.find("\\\\")) != std::string::npos;) path.erase(at, 1);
  return path;
}
