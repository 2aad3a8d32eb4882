#pragma once
// libxml2 (WS-Discovery answers) and libavahi-client (DNS-SD), opened on first use
// (os/shared_library.h): together with ICU, D-Bus and libgcrypt behind them they are most
// of the start-up of a run that discovers nothing. Each call loads its library once (any
// thread may call it; the first call waits for the load) and returns its entry points, or
// nullptr when the library cannot be loaded.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/simple-watch.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "os/shared_library.h"

#define LQ_XML_ENTRY_POINTS(X) X(xmlInitParser) X(xmlReadMemory) X(xmlFreeDoc) X(xmlDocGetRootElement)

// avahi_simple_poll_* and avahi_address_snprint live in libavahi-common, which
// libavahi-client needs.
#define LQ_AVAHI_ENTRY_POINTS(X)                                                                    \
  X(avahi_simple_poll_new) X(avahi_simple_poll_free) X(avahi_simple_poll_get) X(avahi_simple_poll_iterate) \
  X(avahi_client_new) X(avahi_client_free) X(avahi_service_browser_new) X(avahi_service_resolver_new)     \
  X(avahi_service_resolver_free) X(avahi_address_snprint)

struct TXmlLibrary {
  LQ_XML_ENTRY_POINTS(LQ_DECLARE_ENTRY_POINT)
};

struct TAvahiLibrary {
  LQ_AVAHI_ENTRY_POINTS(LQ_DECLARE_ENTRY_POINT)
};

const TXmlLibrary* XmlLibrary();
const TAvahiLibrary* AvahiLibrary();
