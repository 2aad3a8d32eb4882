#include "smb/smb_credentials.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "smb/smb_path.h"

namespace {

struct TEntry {
  std::string Host;   // as connected, for display
  std::string Key;    // lower-case "host\share" (share may be empty)
  TSmbCredentials Credentials;
};

std::mutex CredentialsLock;      // leaf lock: nothing is called while it is held
std::vector<TEntry> Entries;     // guarded by CredentialsLock, in order of connection

std::string KeyOf(const std::string& host, const std::string& share) {
  return AsciiLower(host) + "\\" + AsciiLower(share);
}

// Copies text into a library buffer of length bytes, zero-terminated.
void Fill(char* buffer, int length, const std::string& text) {
  if (buffer == nullptr || length <= 0) return;
  size_t n = std::min<size_t>(text.size(), static_cast<size_t>(length) - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

void SetSmbCredentials(const std::string& host, const std::string& share,
                       const TSmbCredentials& credentials) {
  std::lock_guard<std::mutex> guard(CredentialsLock);
  std::string key = KeyOf(host, share);
  for (TEntry& entry : Entries) {
    if (entry.Key == key) {
      entry.Credentials = credentials;
      return;
    }
  }
  Entries.push_back({host, key, credentials});
}

bool RemoveSmbCredentials(const std::string& host, const std::string& share) {
  std::lock_guard<std::mutex> guard(CredentialsLock);
  std::string key = KeyOf(host, share);
  auto it = std::find_if(Entries.begin(), Entries.end(), [&](const TEntry& e) { return e.Key == key; });
  if (it == Entries.end()) return false;
  Entries.erase(it);
  return true;
}

std::vector<std::string> ConnectedSmbHosts() {
  std::lock_guard<std::mutex> guard(CredentialsLock);
  std::vector<std::string> hosts;
  for (const TEntry& entry : Entries) {
    bool seen = std::any_of(hosts.begin(), hosts.end(),
                            [&](const std::string& h) { return AsciiLower(h) == AsciiLower(entry.Host); });
    if (!seen) hosts.push_back(entry.Host);
  }
  return hosts;
}

TSmbCredentials LookupSmbCredentials(const std::string& host, const std::string& share) {
  std::lock_guard<std::mutex> guard(CredentialsLock);
  const TEntry* hostEntry = nullptr;
  std::string shareKey = KeyOf(host, share);
  std::string hostKey = KeyOf(host, "");
  for (const TEntry& entry : Entries) {
    if (!share.empty() && entry.Key == shareKey) return entry.Credentials;
    if (entry.Key == hostKey) hostEntry = &entry;
  }
  return hostEntry ? hostEntry->Credentials : TSmbCredentials{};
}

extern "C" void AnswerSmbAuth(struct _SMBCCTX*, const char* server, const char* share,
                              char* workgroup, int workgroupLength, char* user, int userLength,
                              char* password, int passwordLength) {
  TSmbCredentials credentials = LookupSmbCredentials(server ? server : "", share ? share : "");
  if (!credentials.Domain.empty()) Fill(workgroup, workgroupLength, credentials.Domain);
  Fill(user, userLength, credentials.User);
  Fill(password, passwordLength, credentials.Password);
}
