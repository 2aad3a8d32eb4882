#pragma once
// The WS-Discovery messages this program sends (Probe, Resolve, the metadata Get) and
// the parsing of what machines answer or announce (ProbeMatches, ResolveMatches, Hello,
// Bye, the metadata). Answers are untrusted network input: they are parsed with libxml2
// (no network access, no DTD, no entity expansion), anything larger than kWsdMaxMessage
// bytes or that does not parse is dropped, and every text kept is checked before use.
// All functions may be called from any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A metadata answer is a few kilobytes; a larger one is dropped unread.
inline constexpr size_t kWsdMaxMessage = 64 * 1024;
// A discovery datagram is a few hundred bytes; a larger one is dropped unread.
inline constexpr size_t kWsdMaxDatagram = 16 * 1024;

enum class TWsdAction { Hello, Bye, ProbeMatches, ResolveMatches };

// One endpoint named by a message.
struct TWsdEndpoint {
  std::string Address;              // the endpoint reference, "urn:uuid:..."
  bool IsComputer = false;          // its types name a computer (or name no types at all)
  std::vector<std::string> XAddrs;  // transport addresses ("http://10.0.0.2:5357/..."), as sent
};

struct TWsdMessage {
  TWsdAction Action = TWsdAction::Hello;
  std::string RelatesTo;  // the MessageID this answers; empty for Hello and Bye
  std::vector<TWsdEndpoint> Endpoints;
};

// What a computer's metadata says about it. Name and Workgroup hold only characters a
// host or workgroup name may hold; a metadata document whose name does not is dropped.
struct TWsdComputer {
  std::string Name;         // "FILESRV"
  std::string Workgroup;    // workgroup or domain; empty when none is given
  bool IsDomain = false;
};

// Parses a discovery datagram; nullopt for anything else or anything malformed.
std::optional<TWsdMessage> ParseWsdMessage(std::string_view bytes);

// Parses the answer to a metadata Get; nullopt when it names no computer.
std::optional<TWsdComputer> ParseWsdMetadata(std::string_view bytes);

// A fresh "urn:uuid:..." for a MessageID.
std::string NewWsdMessageId();

std::string WsdProbeMessage(const std::string& messageId);
std::string WsdResolveMessage(const std::string& messageId, const std::string& endpoint);
std::string WsdGetMessage(const std::string& messageId, const std::string& endpoint);

// Whether text may be used as a host name: 1 to 63 ASCII letters, digits, '-', '_' or '.'
// (not first), so it can never change the shape of a UNC name or a URL.
bool IsSafeHostName(std::string_view text);
