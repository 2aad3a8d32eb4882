#include "discovery/wsd_message.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

#include "discovery/discovery_libraries.h"

namespace {

constexpr const char* kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kAddressingNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kPubNs = "http://schemas.microsoft.com/windows/pub/2005/07";
constexpr const char* kDiscoveryTo = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
constexpr const char* kActionBase = "http://schemas.xmlsoap.org/ws/2005/04/discovery/";
constexpr const char* kGetAction = "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get";
constexpr size_t kMaxEndpoints = 64;
constexpr size_t kMaxXAddrs = 8;
constexpr size_t kMaxTextField = 2048;

// Only documents XmlLibrary() parsed exist, so the library is loaded when one is freed.
struct TDocFree {
  void operator()(xmlDoc* doc) const { XmlLibrary()->xmlFreeDoc(doc); }
};
using TDoc = std::unique_ptr<xmlDoc, TDocFree>;

// Parses bytes without touching the network, loading a DTD or expanding entities. A
// document type declaration has no business in these messages; one is refused before
// libxml2 sees it, so no entity is ever declared.
TDoc ParseXml(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kWsdMaxMessage) return nullptr;
  if (bytes.find("<!") != std::string_view::npos) return nullptr;
  const TXmlLibrary* xml = XmlLibrary();
  if (xml == nullptr) return nullptr;
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
  return TDoc(xml->xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options));
}

bool Is(const xmlNode* node, const char* ns, const char* local) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr && node->ns->href != nullptr &&
         std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(node->name), local) == 0;
}

const xmlNode* Child(const xmlNode* parent, const char* ns, const char* local) {
  if (parent == nullptr) return nullptr;
  for (const xmlNode* child = parent->children; child != nullptr; child = child->next)
    if (Is(child, ns, local)) return child;
  return nullptr;
}

// The first element below root (depth first) with this namespace and local name.
const xmlNode* Find(const xmlNode* root, const char* ns, const char* local) {
  for (const xmlNode* node = root; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (Is(node, ns, local)) return node;
    if (const xmlNode* found = Find(node->children, ns, local)) return found;
  }
  return nullptr;
}

// Appends the text below node, depth first, as long as it stays within kMaxTextField;
// false once it would not. The parser has already put character and predefined entity
// references and CDATA into text nodes, and a document that declares entities is refused.
bool AppendText(const xmlNode* node, std::string& text) {
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE && child->content != nullptr) {
      text += reinterpret_cast<const char*>(child->content);
      if (text.size() > kMaxTextField) return false;
    } else if (child->type == XML_ELEMENT_NODE && !AppendText(child, text)) {
      return false;
    }
  }
  return true;
}

// The element's text with surrounding white space removed; empty when absent or longer
// than any real field.
std::string Text(const xmlNode* node) {
  if (node == nullptr) return {};
  std::string text;
  if (!AppendText(node, text)) return {};
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(" \t\r\n", at)) != std::string::npos) {
    size_t end = text.find_first_of(" \t\r\n", at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

// Types is a list of qualified names; a computer announces "...:Computer". The prefix
// is not resolved: devices differ in the prefixes they choose, not in the local names.
bool NamesComputer(const xmlNode* types) {
  if (types == nullptr) return true;
  for (const std::string& type : Words(Text(types))) {
    size_t colon = type.rfind(':');
    if ((colon == std::string::npos ? type : type.substr(colon + 1)) == "Computer") return true;
  }
  return false;
}

bool IsSafeEndpoint(std::string_view text) {
  if (text.empty() || text.size() > 256) return false;
  for (unsigned char c : text)
    if (!(std::isalnum(c) || std::strchr(":/._-~%@+=,;?#[]", c) != nullptr)) return false;
  return true;
}

std::optional<TWsdEndpoint> EndpointOf(const xmlNode* match) {
  TWsdEndpoint endpoint;
  endpoint.Address = Text(Child(Child(match, kAddressingNs, "EndpointReference"), kAddressingNs, "Address"));
  // The address goes back into the Resolve and Get messages: only a plain URN or URL may.
  if (!IsSafeEndpoint(endpoint.Address)) return std::nullopt;
  endpoint.IsComputer = NamesComputer(Child(match, kDiscoveryNs, "Types"));
  for (std::string& xaddr : Words(Text(Child(match, kDiscoveryNs, "XAddrs"))))
    if (endpoint.XAddrs.size() < kMaxXAddrs) endpoint.XAddrs.push_back(std::move(xaddr));
  return endpoint;
}

bool IsSafeWorkgroup(std::string_view text) {
  if (text.empty() || text.size() > 64 || text.front() == ' ' || text.back() == ' ') return false;
  for (unsigned char c : text)
    if (c < 0x20 || c > 0x7E || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  return true;
}

std::string Envelope(const std::string& action, const std::string& messageId, const std::string& to,
                     const std::string& body) {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                     "<soap:Envelope xmlns:soap=\"") + kSoapNs + "\" xmlns:wsa=\"" + kAddressingNs +
         "\" xmlns:wsd=\"" + kDiscoveryNs +
         "\" xmlns:wsdp=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\">"
         "<soap:Header><wsa:To>" + to + "</wsa:To><wsa:Action>" + action +
         "</wsa:Action><wsa:MessageID>" + messageId + "</wsa:MessageID>"
         "<wsa:ReplyTo><wsa:Address>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
         "</wsa:Address></wsa:ReplyTo></soap:Header><soap:Body>" + body + "</soap:Body></soap:Envelope>";
}

}  // namespace

bool IsSafeHostName(std::string_view text) {
  if (text.empty() || text.size() > 63 || text.front() == '.' || text.front() == '-') return false;
  for (unsigned char c : text)
    if (!(std::isalnum(c) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

std::optional<TWsdMessage> ParseWsdMessage(std::string_view bytes) {
  TDoc doc = ParseXml(bytes);
  if (!doc) return std::nullopt;
  const xmlNode* envelope = XmlLibrary()->xmlDocGetRootElement(doc.get());
  if (!Is(envelope, kSoapNs, "Envelope")) return std::nullopt;
  const xmlNode* header = Child(envelope, kSoapNs, "Header");
  const xmlNode* body = Child(envelope, kSoapNs, "Body");
  std::string action = Text(Child(header, kAddressingNs, "Action"));
  if (action.rfind(kActionBase, 0) != 0) return std::nullopt;
  action.erase(0, std::strlen(kActionBase));

  TWsdMessage message;
  const char* container = nullptr;
  const char* item = nullptr;
  if (action == "Hello") message.Action = TWsdAction::Hello, item = "Hello";
  else if (action == "Bye") message.Action = TWsdAction::Bye, item = "Bye";
  else if (action == "ProbeMatches") message.Action = TWsdAction::ProbeMatches, container = "ProbeMatches", item = "ProbeMatch";
  else if (action == "ResolveMatches") message.Action = TWsdAction::ResolveMatches, container = "ResolveMatches", item = "ResolveMatch";
  else return std::nullopt;
  message.RelatesTo = Text(Child(header, kAddressingNs, "RelatesTo"));

  const xmlNode* parent = container ? Child(body, kDiscoveryNs, container) : body;
  if (parent == nullptr) return std::nullopt;
  for (const xmlNode* node = parent->children; node != nullptr && message.Endpoints.size() < kMaxEndpoints;
       node = node->next) {
    if (!Is(node, kDiscoveryNs, item)) continue;
    if (std::optional<TWsdEndpoint> endpoint = EndpointOf(node)) message.Endpoints.push_back(std::move(*endpoint));
  }
  if (message.Endpoints.empty()) return std::nullopt;
  return message;
}

std::optional<TWsdComputer> ParseWsdMetadata(std::string_view bytes) {
  TDoc doc = ParseXml(bytes);
  if (!doc) return std::nullopt;
  const xmlNode* envelope = XmlLibrary()->xmlDocGetRootElement(doc.get());
  if (!Is(envelope, kSoapNs, "Envelope")) return std::nullopt;
  // "NAME", "NAME/Workgroup:GROUP" or "NAME/Domain:DOMAIN".
  const std::string text = Text(Find(Child(envelope, kSoapNs, "Body"), kPubNs, "Computer"));
  TWsdComputer computer;
  const size_t slash = text.find('/');
  computer.Name = text.substr(0, slash);
  if (!IsSafeHostName(computer.Name)) return std::nullopt;
  if (slash != std::string::npos) {
    const std::string rest = text.substr(slash + 1);
    for (const char* kind : {"Workgroup:", "Domain:"}) {
      if (rest.rfind(kind, 0) != 0) continue;
      computer.Workgroup = rest.substr(std::strlen(kind));
      computer.IsDomain = kind[0] == 'D';
    }
    if (!IsSafeWorkgroup(computer.Workgroup)) computer.Workgroup.clear(), computer.IsDomain = false;
  }
  return computer;
}

std::string NewWsdMessageId() {
  static std::mutex lock;  // leaf lock (lock order: ui_thread.h): guards the generator only
  static std::mt19937_64 generator{std::random_device{}()};
  uint64_t high = 0, low = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    high = generator();
    low = generator();
  }
  char text[64];
  std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>(high >> 16) & 0xFFFF, static_cast<unsigned>(high) & 0xFFF,
                (static_cast<unsigned>(low >> 48) & 0x3FFF) | 0x8000,
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
  return text;
}

std::string WsdProbeMessage(const std::string& messageId) {
  return Envelope(std::string(kActionBase) + "Probe", messageId, kDiscoveryTo,
                  "<wsd:Probe><wsd:Types>wsdp:Device</wsd:Types></wsd:Probe>");
}

std::string WsdResolveMessage(const std::string& messageId, const std::string& endpoint) {
  return Envelope(std::string(kActionBase) + "Resolve", messageId, kDiscoveryTo,
                  "<wsd:Resolve><wsa:EndpointReference><wsa:Address>" + endpoint +
                      "</wsa:Address></wsa:EndpointReference></wsd:Resolve>");
}

std::string WsdGetMessage(const std::string& messageId, const std::string& endpoint) {
  return Envelope(kGetAction, messageId, endpoint, "");
}
