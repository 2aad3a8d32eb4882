// Parsing WS-Discovery answers: real answers of wsdd, the forms of a computer's name, and
// mutated answers that must never crash the parser or yield a name unfit for a UNC path.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "discovery/wsd_message.h"
#include "wsd_samples.h"

namespace {

TEST(WsdMessage, AnswersOfWsddGiveEndpointAddressesAndTheComputersNameAndWorkgroup) {
  std::optional<TWsdMessage> probe = ParseWsdMessage(kWsddProbeMatch);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->Action, TWsdAction::ProbeMatches);
  EXPECT_EQ(probe->RelatesTo, "urn:uuid:676360f3-2ef4-4bc5-a422-d44bcb97eb74");
  ASSERT_EQ(probe->Endpoints.size(), 1u);
  EXPECT_EQ(probe->Endpoints[0].Address, "urn:uuid:e5e61fb5-d685-5b50-9ba7-acb6e6962ef3");
  EXPECT_TRUE(probe->Endpoints[0].IsComputer);
  EXPECT_TRUE(probe->Endpoints[0].XAddrs.empty());

  std::optional<TWsdMessage> resolve = ParseWsdMessage(kWsddResolveMatch);
  ASSERT_TRUE(resolve);
  EXPECT_EQ(resolve->Action, TWsdAction::ResolveMatches);
  ASSERT_EQ(resolve->Endpoints.size(), 1u);
  EXPECT_EQ(resolve->Endpoints[0].XAddrs,
            std::vector<std::string>{"http://10.78.0.2:5357/e5e61fb5-d685-5b50-9ba7-acb6e6962ef3"});

  std::optional<TWsdComputer> computer = ParseWsdMetadata(kWsddMetadata);
  ASSERT_TRUE(computer);
  EXPECT_EQ(computer->Name, "WSDONLY");
  EXPECT_EQ(computer->Workgroup, "LQDISC");
  EXPECT_FALSE(computer->IsDomain);
}

// The metadata with its computer line replaced by text.
std::string MetadataWith(const std::string& text) {
  std::string metadata = kWsddMetadata;
  const std::string line = "WSDONLY/Workgroup:LQDISC";
  metadata.replace(metadata.find(line), line.size(), text);
  return metadata;
}

TEST(WsdMessage, ComputerLineForms) {
  struct TCase {
    const char* Line;
    const char* Name;  // nullptr: the document is dropped
    const char* Workgroup;
    bool IsDomain;
  };
  const TCase cases[] = {
      {"FILESRV/Domain:EXAMPLE", "FILESRV", "EXAMPLE", true},
      {"FILESRV", "FILESRV", "", false},
      {"desk-01/Workgroup:WORK GROUP", "desk-01", "WORK GROUP", false},
      // A workgroup that could not be a container name is left out, the machine kept.
      {"FILESRV/Workgroup:A\\B", "FILESRV", "", false},
      // A name that would change the shape of a UNC path or URL drops the machine.
      {"EVIL\\HOST/Workgroup:LQDISC", nullptr, "", false},
      {"a@b:c", nullptr, "", false},
      {"", nullptr, "", false},
  };
  for (const TCase& c : cases) {
    std::optional<TWsdComputer> computer = ParseWsdMetadata(MetadataWith(c.Line));
    if (c.Name == nullptr) {
      EXPECT_FALSE(computer) << c.Line;
      continue;
    }
    ASSERT_TRUE(computer) << c.Line;
    EXPECT_EQ(computer->Name, c.Name) << c.Line;
    EXPECT_EQ(computer->Workgroup, c.Workgroup) << c.Line;
    EXPECT_EQ(computer->IsDomain, c.IsDomain) << c.Line;
  }
}

// Entity expansion would let a few hundred bytes grow into gigabytes; a document type
// declaration is never part of an answer, so none is parsed.
TEST(WsdMessage, DocumentTypeDeclarationsAndOversizedAnswersAreDropped) {
  std::string laughs = std::string("<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\">"
                                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>") +
                       MetadataWith("&b;").substr(std::string(kWsddMetadata).find("<soap:Envelope"));
  EXPECT_FALSE(ParseWsdMetadata(laughs));
  std::string padded = kWsddProbeMatch;
  padded.insert(padded.find("</soap:Body>"), std::string(kWsdMaxMessage, ' '));
  EXPECT_FALSE(ParseWsdMessage(padded));
}

// Endpoint addresses go back into the Resolve and Get messages: one that could inject
// markup is refused.
TEST(WsdMessage, EndpointThatCouldInjectMarkupIsRefused) {
  std::string message = kWsddProbeMatch;
  const std::string endpoint = "urn:uuid:e5e61fb5-d685-5b50-9ba7-acb6e6962ef3";
  message.replace(message.find(endpoint), endpoint.size(), "urn:x&lt;/wsa:Address&gt;&lt;evil/&gt;");
  EXPECT_FALSE(ParseWsdMessage(message));
}

// Byte flips, cuts, repeats and splices of real answers. The parser must neither crash
// nor accept a name that is unsafe; the sizes stay under the cap so each parse is bounded.
TEST(WsdMessage, MutatedAnswersNeverCrashOrYieldUnsafeNames) {
  const std::string samples[] = {kWsddProbeMatch, kWsddResolveMatch, kWsddMetadata};
  const char* junk[] = {"<", ">", "&", "&amp;", "\"", "/", "\\", ":", "<a>", "</soap:Body>", "\0", "\xff",
                        "<pub:Computer>", "</wsa:Address>", "%", " "};
  std::mt19937 random(20261208);
  size_t accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    std::string text = samples[random() % 3];
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const size_t at = random() % text.size();
      switch (random() % 5) {
        case 0: text[at] = static_cast<char>(random()); break;
        case 1: text.erase(at, random() % 64); break;
        case 2: text.insert(at, text.substr(random() % text.size(), random() % 128)); break;
        case 3: text.insert(at, junk[random() % std::size(junk)]); break;
        case 4: text.resize(at); break;
      }
    }
    if (std::optional<TWsdMessage> message = ParseWsdMessage(text)) {
      ++accepted;
      for (const TWsdEndpoint& endpoint : message->Endpoints)
        EXPECT_EQ(endpoint.Address.find_first_of("<>&\" \\"), std::string::npos) << endpoint.Address;
    }
    if (std::optional<TWsdComputer> computer = ParseWsdMetadata(text)) {
      ++accepted;
      EXPECT_TRUE(IsSafeHostName(computer->Name)) << computer->Name;
      EXPECT_EQ(computer->Workgroup.find_first_of("\\/:*?\"<>|"), std::string::npos) << computer->Workgroup;
    }
  }
  // Some mutations leave a valid answer; a parser that refused everything would pass too.
  EXPECT_GT(accepted, 0u);
}

}  // namespace
