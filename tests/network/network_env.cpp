#include "network_env.h"

#include "smb/smb_client.h"

namespace {

// The port the network tests start looking from; other test programs use other ranges.
constexpr uint16_t kNetworkTestPort = 14451;

std::unique_ptr<TSmbdHarness> Server;

class TServerEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    // Name queries and browsing stay on the loopback; nothing is asked of the LAN.
    TSmbClientOptions options;
    options.Interfaces = "127.0.0.1/8";
    options.NameResolveOrder = "host";
    SmbInitialize(options);
    Server = std::make_unique<TSmbdHarness>(kNetworkTestPort);
  }
  void TearDown() override { Server.reset(); }
};

testing::Environment* const Environment = testing::AddGlobalTestEnvironment(new TServerEnvironment);

}  // namespace

TSmbdHarness* TestServer() { return Server.get(); }
