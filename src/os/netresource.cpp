#include "os/netresource.h"

NETRESOURCEA EntireNetworkResource() {
  NETRESOURCEA r;
  r.dwScope = RESOURCE_GLOBALNET;
  r.dwType = RESOURCETYPE_ANY;
  r.dwDisplayType = RESOURCEDISPLAYTYPE_DOMAIN;
  r.dwUsage = RESOURCEUSAGE_CONTAINER;
  return r;
}

void CopyNetResource(const NETRESOURCEA& source, PNetResource& destination) {
  destination = std::make_unique<NETRESOURCEA>(source);
}

void FreeNetResource(PNetResource& resource) { resource.reset(); }
