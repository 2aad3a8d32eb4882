// Parses any bytes as a WS-Discovery datagram and as a metadata answer, as they arrive
// from the network. Whatever is accepted must be usable as it is: endpoint addresses that
// go back into requests hold no markup, and a computer's name and workgroup can never
// change the shape of a UNC name or a URL.
#include <stdlib.h>

#include <cstdint>
#include <string_view>

#include "discovery/wsd_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<TWsdMessage> message = ParseWsdMessage(bytes)) {
    if (message->Endpoints.empty()) abort();
    for (const TWsdEndpoint& endpoint : message->Endpoints)
      if (endpoint.Address.empty() || endpoint.Address.find_first_of("<>&\" \\") != std::string::npos) abort();
  }
  if (std::optional<TWsdComputer> computer = ParseWsdMetadata(bytes)) {
    if (!IsSafeHostName(computer->Name)) abort();
    if (computer->Workgroup.find_first_of("\\/:*?\"<>|") != std::string::npos) abort();
  }
  return 0;
}
