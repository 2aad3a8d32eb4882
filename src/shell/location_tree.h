#pragma once
// The location tree of the Options dialog: its node kind, how a node lists what lies
// below it, and the paths a node stands for.
//
// Two roots:
//   "Entire network"  a node per network container or share, each carrying an owned copy of
//                     its resource record, and under a share its folders (no record);
//   "Local folders"   the file-system root and the home folder, and their folders (no
//                     record). The root itself cannot be chosen.
// A node is listed once, when it is first expanded. Listing runs on a background thread
// while the GUI thread keeps running its event loop, so the window repaints meanwhile.
//
// UI thread only, except the lister's calls, which run on the background thread.
#include <QTreeWidgetItem>

#include <functional>
#include <string>
#include <vector>

#include "os/netresource.h"

class QTreeWidget;

// What the tree lists below a node. Both calls run on a background thread with their own
// copies of what they are given; they must not touch the dialog.
struct TNodeLister {
  // The disk resources of a network container, in the order the network gives them;
  // empty when it cannot be enumerated.
  std::function<std::vector<NETRESOURCEA>(const NETRESOURCEA& container)> EnumerateNetwork;
  // The names of the visible sub-folders of folder (a local or UNC path), in listing
  // order, without "." and ".."; empty when it cannot be listed.
  std::function<std::vector<std::string>(const std::string& folder)> ListFolders;
  // When set, used instead of ListFolders: the same, and also why folder could not be
  // listed (an errno value, 0 when it could be).
  std::function<std::vector<std::string>(const std::string& folder, int& error)> ListFoldersWithError;
};

// The lister over the platform's network enumeration and folder listing.
TNodeLister PlatformNodeLister();

// Image slots of the tree's nodes in the shared image list; kNoImage for none.
inline constexpr int kImageNetworkRoot = 18;
inline constexpr int kImageNetworkContainer = 21;
inline constexpr int kImageServer = 6;
inline constexpr int kImageShare = 13;
inline constexpr int kImageFolder = 3;
inline constexpr int kNoImage = -1;

// One node of the tree. Record is the owned resource copy of a network node, nil for a
// folder; the copy is released with the node.
class TNetNode : public QTreeWidgetItem {
 public:
  enum class TKind { Network, Folder, LocalRoot, LocalTop };
  TNetNode(TKind kind, const QString& caption, PNetResource record);

  const TKind Kind;
  PNetResource Record;
  int ImageIndex = kNoImage;
  bool Listed = false;  // listed once already (whatever it yielded)

  std::string Caption() const;
  TNetNode* ParentNode() const { return static_cast<TNetNode*>(parent()); }
  TNetNode* ChildNode(int index) const { return static_cast<TNetNode*>(child(index)); }
  bool HasChildrenMark() const;
  void SetChildrenMark(bool on);
};

// A record as the network layer expects it: a stored record reads its absent names back
// as empty strings, which would no longer name the entire network.
NETRESOURCEA WithAbsentEmptyNames(NETRESOURCEA record);

// Adds the "Entire network" root (expandable, unlisted) to tree and returns it.
TNetNode* AddNetworkRoot(QTreeWidget* tree);
// Adds the "Local folders" root, already listed with the file-system root and the home
// folder below it, and returns it.
TNetNode* AddLocalFoldersRoot(QTreeWidget* tree);

// Adds a node for the IPv4 address range text ("10.1.2.0/24", at most /16) as the last
// child of the network root, which must be listed already: a container of the servers
// that answer in the range. Returns it, or nullptr when text is no such range.
TNetNode* AddAddressRangeNode(TNetNode* networkRoot, const std::string& text);

// Lists what lies below node through lister and adds it as children; marks node listed.
// Runs the GUI thread's event loop until the background listing ends. Returns the number
// of children added (0 when the listing failed or found nothing).
// error, when given, receives why a folder could not be listed (errno; 0 otherwise).
int ListNodeChildren(TNetNode* node, const TNodeLister& lister, int* error = nullptr);

// The node's folder path: its caption, preceded by its ancestors' captions up to the
// nearest node with a record (or the top local folder).
std::string NodeFolderPathOf(const TNetNode* node);
// The captions from the network root down to node, "\"-separated, with every doubled
// backslash collapsed; empty for no node.
std::string NodeDisplayPathOf(const TNetNode* node);
