#include "discovery/discovery_libraries.h"

const TXmlLibrary* XmlLibrary() {
  static const TXmlLibrary library = [] {
    TXmlLibrary loaded = LQ_LOAD_ENTRY_POINTS(TXmlLibrary, "libxml2.so.2", LQ_XML_ENTRY_POINTS);
    if (loaded.xmlInitParser != nullptr) loaded.xmlInitParser();
    return loaded;
  }();
  return library.xmlReadMemory != nullptr ? &library : nullptr;
}

const TAvahiLibrary* AvahiLibrary() {
  static const TAvahiLibrary library = LQ_LOAD_ENTRY_POINTS(TAvahiLibrary, "libavahi-client.so.3", LQ_AVAHI_ENTRY_POINTS);
  return library.avahi_client_new != nullptr ? &library : nullptr;
}
