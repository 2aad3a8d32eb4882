// The network worker and the enumeration calls against the loopback smbd.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "engine/search_fixture.h"
#include "engine/wnet_thread.h"
#include "network/netapi.h"
#include "network_env.h"
#include "smb/smb_path.h"

namespace {

NETRESOURCEA Container(const std::string& remoteName, uint32_t displayType = RESOURCEDISPLAYTYPE_SERVER) {
  NETRESOURCEA r;
  r.dwScope = RESOURCE_GLOBALNET;
  r.dwDisplayType = displayType;
  r.dwUsage = RESOURCEUSAGE_CONTAINER;
  r.lpRemoteName = remoteName;
  r.lpProvider = kSmbProviderName;
  return r;
}

PSearchTask NetworkTask(const NETRESOURCEA& container) {
  auto task = std::make_unique<TSearchTask>();
  task->Mask = "*";
  task->FileAttr = 0x3F;
  CopyNetResource(container, task->NetResource);
  return task;
}

// A worker that records its task and ends at once: it stands for every task the network
// worker under test queues.
class TRecordingWorker final : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;
  void Run() override {}
};

// Runs one network worker on container and records what it queued, as "net:NAME" or
// "folder:PATH". onFirstChild runs when the first child is handed to the manager.
struct TQueued {
  std::vector<std::string> Children;
  std::vector<NETRESOURCEA> Containers;
};

TQueued RunNetworkWorker(TSearchRig& rig, const NETRESOURCEA& container,
                         const std::function<void(TSearchThread&)>& onFirstChild = {}) {
  TQueued queued;
  std::mutex lock;
  TSearchThread* root = nullptr;
  rig.Manager->MaxThreads = 12;
  rig.Manager->SetWorkerFactory([&](TSearchManager& manager, PSearchTask task) -> std::unique_ptr<TSearchThread> {
    std::lock_guard<std::mutex> guard(lock);
    if (root == nullptr) {
      auto worker = CreateWNetThread(manager, std::move(task), rig.Store, rig.Log);
      root = worker.get();
      return worker;
    }
    if (queued.Children.empty() && onFirstChild) onFirstChild(*root);
    if (task->Path.empty()) {
      queued.Children.push_back("net:" + task->NetResource->lpRemoteName.value_or(""));
      queued.Containers.push_back(*task->NetResource);
    } else {
      queued.Children.push_back("folder:" + task->Path);
    }
    return std::make_unique<TRecordingWorker>(manager, std::move(task), rig.Store, rig.Log);
  });
  rig.Run(NetworkTask(container));
  return queued;
}

TEST(Enumeration, ServerQueuesItsDiskSharesAsFolderTasksAndNothingElse) {
  REQUIRE_SERVER();
  TSearchRig rig(THandOff::Queued);
  TQueued queued = RunNetworkWorker(rig, Container(TSmbdHarness::Unc()));
  std::sort(queued.Children.begin(), queued.Children.end());
  // Not the printer "lp", not "hidden$", not IPC$.
  EXPECT_EQ(queued.Children, (std::vector<std::string>{"folder:\\\\127.0.0.1\\mapped", "folder:\\\\127.0.0.1\\public",
                                                        "folder:\\\\127.0.0.1\\secret"}));
  EXPECT_EQ(rig.Log.Count(), 0u);
}

TEST(Enumeration, StoppingDuringTheWalkQueuesNoMoreEntries) {
  REQUIRE_SERVER();
  TSearchRig rig(THandOff::Queued);
  TQueued queued = RunNetworkWorker(rig, Container(TSmbdHarness::Unc()),
                                    [](TSearchThread& networkWorker) { networkWorker.Terminate(); });
  EXPECT_EQ(queued.Children.size(), 1u);
  EXPECT_EQ(rig.Log.Count(), 0u);
}

TEST(Enumeration, LargeContainersComeOverFurtherCallsAndTooSmallBuffersSaySo) {
  REQUIRE_SERVER();
  NETRESOURCEA server = Container(TSmbdHarness::Unc());
  HNETENUM handle = nullptr;
  ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &server, &handle), NO_ERROR);
  TNetEnumGuard guard(handle);
  std::vector<NETRESOURCEA> buffer;
  uint32_t count = kEnumAllEntries;
  uint32_t size = kNetResourceRecordSize;  // no room for the strings of any share
  ASSERT_EQ(WNetEnumResourceA(handle, &count, &buffer, &size), ERROR_MORE_DATA);
  EXPECT_GT(size, kNetResourceRecordSize);
  EXPECT_TRUE(buffer.empty());

  std::vector<std::string> names;
  for (;;) {
    count = kEnumAllEntries;
    size = 100;  // one share record per call
    uint32_t result = WNetEnumResourceA(handle, &count, &buffer, &size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, NO_ERROR);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(buffer[0].dwType, RESOURCETYPE_DISK);
    EXPECT_EQ(buffer[0].dwDisplayType, RESOURCEDISPLAYTYPE_SHARE);
    EXPECT_EQ(buffer[0].dwUsage, RESOURCEUSAGE_CONNECTABLE);
    EXPECT_EQ(buffer[0].lpProvider, std::string(kSmbProviderName));
    names.push_back(*buffer[0].lpRemoteName);
  }
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(guard.Close(), NO_ERROR);
}

TEST(Enumeration, EntireNetworkHoldsTheProviderWhichListsConnectedServers) {
  REQUIRE_USER();
  TSmbCredentials user{"", TestServer()->UserName(), TSmbdHarness::Password()};
  ASSERT_EQ(SmbConnect(TSmbdHarness::Unc(), user), NO_ERROR);
  TSearchRig rig(THandOff::Direct);
  TQueued top = RunNetworkWorker(rig, EntireNetworkResource());
  ASSERT_EQ(top.Children, std::vector<std::string>{std::string("net:") + kSmbProviderName});

  TSearchRig providerRig(THandOff::Direct);
  TQueued servers = RunNetworkWorker(providerRig, top.Containers[0]);
  // Browsing finds nothing on the loopback; the connected server is listed all the same.
  EXPECT_EQ(servers.Children, std::vector<std::string>{"net:\\\\127.0.0.1"});
  EXPECT_EQ(providerRig.Log.Count(), 0u);
  EXPECT_EQ(SmbDisconnect(TSmbdHarness::Unc()), NO_ERROR);
  EXPECT_EQ(SmbDisconnect(TSmbdHarness::Unc()), ERROR_NOT_CONNECTED);
}

// The settings hive stores strings only, so a saved entire-network location reads back
// with empty names; it must still mean the entire network.
TEST(Enumeration, EntireNetworkWithEmptyNamesStillHoldsTheProvider) {
  NETRESOURCEA stored = EntireNetworkResource();
  stored.lpLocalName = stored.lpRemoteName = stored.lpComment = stored.lpProvider = std::string();
  TSearchRig rig(THandOff::Direct);
  TQueued top = RunNetworkWorker(rig, stored);
  EXPECT_EQ(top.Children, std::vector<std::string>{std::string("net:") + kSmbProviderName});
  EXPECT_EQ(rig.Log.Count(), 0u);
}

// Searches the share record \\127.0.0.1\secret as a network location, then its files.
TEST(Enumeration, UserShareIsDeniedWithoutCredentialsAndSearchedWithThem) {
  REQUIRE_USER();
  WriteTestFile(TestServer()->SecretDir() + "/plans/secret-plan.txt");
  NETRESOURCEA share = Container(TSmbdHarness::Unc("secret"), RESOURCEDISPLAYTYPE_SHARE);
  share.dwUsage = RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_CONNECTABLE;
  {
    TSearchRig rig(THandOff::Queued);
    rig.Run(NetworkTask(share));
    ASSERT_EQ(rig.Log.Count(), 1u);
    EXPECT_EQ(rig.Log.Line(0), "'SMB Network' \\\\127.0.0.1\\secret - Access is denied.");
    EXPECT_EQ(rig.Store.Count(), 0u);
  }
  TSmbCredentials wrong{"", TestServer()->UserName(), "not-the-password"};
  uint32_t refused = SmbConnect(TSmbdHarness::Unc("secret"), wrong);
  EXPECT_TRUE(refused == ERROR_ACCESS_DENIED || refused == ERROR_LOGON_FAILURE) << refused;

  TSmbCredentials user{"", TestServer()->UserName(), TSmbdHarness::Password()};
  ASSERT_EQ(SmbConnect(TSmbdHarness::Unc("secret"), user), NO_ERROR);
  {
    TSearchRig rig(THandOff::Queued);
    rig.Run(NetworkTask(share));
    EXPECT_EQ(rig.Log.Count(), 0u);
    std::vector<std::string> names = rig.FullNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "\\\\127.0.0.1\\secret\\plans\\secret-plan.txt"), names.end());
  }
  EXPECT_EQ(SmbDisconnect(TSmbdHarness::Unc("secret")), NO_ERROR);
}

// A listening socket whose accept queue is full: the kernel drops further connection
// attempts, as a dead or filtered host does.
class TDroppingHost {
 public:
  explicit TDroppingHost(const char* address) {
    Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(Listener, 0);
    socklen_t length = sizeof a;
    getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &length);
    Port = ntohs(a.sin_port);
    for (int i = 0; i < 3; ++i) {  // fill the queue; these connects complete or hang harmlessly
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      Fillers.push_back(fd);
    }
  }
  ~TDroppingHost() {
    for (int fd : Fillers) close(fd);
    close(Listener);
  }
  uint16_t Port = 0;

 private:
  int Listener = -1;
  std::vector<int> Fillers;
};

TEST(Enumeration, UnreachableServerGivesOneLogLineAndTheSearchEnds) {
  TDroppingHost dead("127.0.0.3");
  SetSmbHostPort("127.0.0.3", dead.Port);
  TSearchRig rig(THandOff::Queued);
  rig.Run(NetworkTask(Container("\\\\127.0.0.3")));
  ASSERT_EQ(rig.Log.Count(), 1u);
  EXPECT_EQ(rig.Log.Line(0), "'SMB Network' \\\\127.0.0.3 - The network path was not found.");
}

TEST(Enumeration, FailuresOfTwoWorkersAtOnceGiveOneLineEach) {
  REQUIRE_SERVER();
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 2;
  rig.Manager->AddTask(NetworkTask(Container(TSmbdHarness::Unc("nosuch1"), RESOURCEDISPLAYTYPE_SHARE)));
  rig.Run(NetworkTask(Container(TSmbdHarness::Unc("nosuch2"), RESOURCEDISPLAYTYPE_SHARE)));
  ASSERT_EQ(rig.Log.Count(), 2u);
  std::vector<std::string> lines{rig.Log.Line(0), rig.Log.Line(1)};
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines[0], "'SMB Network' \\\\127.0.0.1\\nosuch1 - The network name cannot be found.");
  EXPECT_EQ(lines[1], "'SMB Network' \\\\127.0.0.1\\nosuch2 - The network name cannot be found.");
}

}  // namespace
