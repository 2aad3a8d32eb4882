#include "smb/smb_path.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace {

std::mutex PortLock;                         // leaf lock
std::map<std::string, uint16_t> HostPorts;   // lower-case host -> port; guarded by PortLock
std::map<std::string, std::string> HostAddresses;  // lower-case host -> address; guarded by PortLock

void AppendEncoded(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string AsciiLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

std::optional<TUncName> ParseUncName(const std::string& text) {
  if (text.size() < 3 || text[0] != '\\' || text[1] != '\\' || text[2] == '\\') return std::nullopt;
  std::string body = text.substr(2);
  while (!body.empty() && body.back() == '\\') body.pop_back();
  TUncName name;
  size_t hostEnd = body.find('\\');
  name.Host = body.substr(0, hostEnd);
  if (name.Host.empty()) return std::nullopt;
  if (hostEnd == std::string::npos) return name;
  size_t shareEnd = body.find('\\', hostEnd + 1);
  name.Share = body.substr(hostEnd + 1, shareEnd == std::string::npos ? std::string::npos
                                                                      : shareEnd - hostEnd - 1);
  if (name.Share.empty()) return std::nullopt;
  if (shareEnd != std::string::npos) name.Rest = body.substr(shareEnd + 1);
  return name;
}

std::string UncText(const TUncName& name) {
  std::string text = "\\\\" + name.Host;
  if (!name.Share.empty()) text += "\\" + name.Share;
  if (!name.Rest.empty()) text += "\\" + name.Rest;
  return text;
}

std::string SmbUrl(const TUncName& name) {
  const std::string address = SmbHostAddress(name.Host);
  std::string url = "smb://";
  if (address.empty()) url += name.Host;
  else url += address.find(':') != std::string::npos ? "[" + address + "]" : address;
  if (uint16_t port = SmbHostPort(name.Host)) url += ":" + std::to_string(port);
  url += "/";
  if (name.Share.empty()) return url;
  AppendEncoded(url, name.Share);
  size_t start = 0;
  while (start < name.Rest.size()) {
    size_t end = name.Rest.find('\\', start);
    if (end == std::string::npos) end = name.Rest.size();
    url += "/";
    AppendEncoded(url, name.Rest.substr(start, end - start));
    start = end + 1;
  }
  return url;
}

std::optional<TUncName> ParseSmbUrl(const std::string& text) {
  const std::string scheme = "smb://";
  if (text.size() <= scheme.size() || AsciiLower(text.substr(0, scheme.size())) != scheme) return std::nullopt;
  std::string body = text.substr(scheme.size());
  size_t authorityEnd = body.find('/');
  std::string authority = body.substr(0, authorityEnd);
  std::string path = authorityEnd == std::string::npos ? "" : body.substr(authorityEnd + 1);
  TUncName name;
  name.Host = authority;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']') == std::string::npos) {
    std::string portText = authority.substr(colon + 1);
    name.Host = authority.substr(0, colon);
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](unsigned char c) { return std::isdigit(c); }))
      return std::nullopt;
    int port = std::stoi(portText);
    if (port < 1 || port > 65535) return std::nullopt;
    SetSmbHostPort(name.Host, static_cast<uint16_t>(port));
  }
  if (name.Host.empty() || name.Host.find('@') != std::string::npos) return std::nullopt;
  std::string joined;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = PercentDecode(path.substr(start, end - start));
    if (!part.empty()) {
      if (name.Share.empty()) name.Share = part;
      else name.Rest += (name.Rest.empty() ? "" : "\\") + part;
    }
    start = end + 1;
  }
  return name;
}

void SetSmbHostPort(const std::string& host, uint16_t port) {
  std::lock_guard<std::mutex> guard(PortLock);
  HostPorts[AsciiLower(host)] = port;
}

uint16_t SmbHostPort(const std::string& host) {
  std::lock_guard<std::mutex> guard(PortLock);
  auto it = HostPorts.find(AsciiLower(host));
  return it == HostPorts.end() ? 0 : it->second;
}

void SetSmbHostAddress(const std::string& host, const std::string& address) {
  std::lock_guard<std::mutex> guard(PortLock);
  if (address.empty()) HostAddresses.erase(AsciiLower(host));
  else HostAddresses[AsciiLower(host)] = address;
}

std::string SmbHostAddress(const std::string& host) {
  std::lock_guard<std::mutex> guard(PortLock);
  auto it = HostAddresses.find(AsciiLower(host));
  return it == HostAddresses.end() ? std::string() : it->second;
}
