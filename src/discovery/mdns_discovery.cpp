#include "discovery/mdns_discovery.h"

#include <net/if.h>

#include <algorithm>
#include <memory>

#include "discovery/discovery_libraries.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kSmbServiceType = "_smb._tcp";
constexpr size_t kMaxServices = 1024;

struct TBrowse {
  const TAvahiLibrary* Avahi = nullptr;
  AvahiClient* Client = nullptr;
  std::vector<TMdnsService> Services;
  size_t Resolving = 0;
  bool Failed = false;
};

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                const char*, const char*, const char*, const char* hostName, const AvahiAddress* address,
                uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* data) {
  auto* browse = static_cast<TBrowse*>(data);
  if (event == AVAHI_RESOLVER_FOUND && hostName != nullptr && address != nullptr &&
      browse->Services.size() < kMaxServices) {
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    browse->Avahi->avahi_address_snprint(text, sizeof text, address);
    TMdnsService service{hostName, text, port};
    char name[IF_NAMESIZE] = {};
    if (address->proto == AVAHI_PROTO_INET6 && service.Address.rfind("fe80:", 0) == 0 &&
        if_indextoname(static_cast<unsigned>(interface), name) != nullptr)
      service.Address += "%" + std::string(name);
    browse->Services.push_back(std::move(service));
  }
  browse->Avahi->avahi_service_resolver_free(resolver);
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
               const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* data) {
  auto* browse = static_cast<TBrowse*>(data);
  if (event == AVAHI_BROWSER_FAILURE) browse->Failed = true;
  if (event != AVAHI_BROWSER_NEW || browse->Resolving >= kMaxServices) return;
  // The resolver frees itself in OnResolved; one still open at the end goes with the client.
  if (browse->Avahi->avahi_service_resolver_new(browse->Client, interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                 static_cast<AvahiLookupFlags>(0), OnResolved, browse) != nullptr)
    ++browse->Resolving;
}

}  // namespace

TMdnsOutcome DiscoverMdnsServices(const std::vector<TDiscoveryInterface>& interfaces, bool anyInterface,
                                  std::chrono::milliseconds window) {
  TMdnsOutcome outcome;
  if (!anyInterface && interfaces.empty()) return outcome;
  const auto deadline = TClock::now() + window;
  // Without the library there is no way to the daemon: the same as no daemon.
  const TAvahiLibrary* avahi = AvahiLibrary();
  if (avahi == nullptr) {
    outcome.DaemonAbsent = true;
    return outcome;
  }
  std::unique_ptr<AvahiSimplePoll, void (*)(AvahiSimplePoll*)> poll(avahi->avahi_simple_poll_new(),
                                                                   avahi->avahi_simple_poll_free);
  if (!poll) return outcome;
  TBrowse browse;
  int error = 0;
  // Freed before the poll it runs on; freeing the client frees its browsers and resolvers.
  std::unique_ptr<AvahiClient, void (*)(AvahiClient*)> client(
      avahi->avahi_client_new(avahi->avahi_simple_poll_get(poll.get()), static_cast<AvahiClientFlags>(0), nullptr, nullptr,
                       &error),
      avahi->avahi_client_free);
  if (!client) {
    outcome.DaemonAbsent = true;
    return outcome;
  }
  browse.Avahi = avahi;
  browse.Client = client.get();
  std::vector<AvahiIfIndex> indexes;
  if (anyInterface) indexes.push_back(AVAHI_IF_UNSPEC);
  for (const TDiscoveryInterface& interface : interfaces)
    if (!anyInterface) indexes.push_back(static_cast<AvahiIfIndex>(interface.Index));
  for (AvahiIfIndex index : indexes)
    avahi->avahi_service_browser_new(client.get(), index, AVAHI_PROTO_UNSPEC, kSmbServiceType, "local",
                              static_cast<AvahiLookupFlags>(0), OnBrowsed, &browse);
  while (!browse.Failed) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) break;
    // One iteration waits at most 50 ms, so the window is kept.
    if (avahi->avahi_simple_poll_iterate(poll.get(), static_cast<int>(std::min<long long>(left, 50))) != 0) break;
  }
  outcome.Services = std::move(browse.Services);
  return outcome;
}
