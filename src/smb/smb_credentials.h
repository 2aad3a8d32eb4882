#pragma once
// Credentials connected for this run, by server or share, and the authentication answer
// that every SMB context gives from them. Nothing here is ever written to disk or printed.
// All functions may be called from any thread (CredentialsLock, a leaf lock).
#include <string>
#include <vector>

struct TSmbCredentials {
  std::string Domain;    // empty: the library's workgroup
  std::string User;      // empty: anonymous
  std::string Password;
};

// Remembers credentials for host (share empty: every share of the host without credentials
// of its own). Host and share compare case-insensitively. Replaces earlier ones.
void SetSmbCredentials(const std::string& host, const std::string& share,
                       const TSmbCredentials& credentials);

// Forgets the credentials of host/share; returns whether there were any.
bool RemoveSmbCredentials(const std::string& host, const std::string& share);

// The hosts that have credentials, each once, as first connected, in that order.
std::vector<std::string> ConnectedSmbHosts();

// The credentials for host/share: the share's own, else the host's, else anonymous.
TSmbCredentials LookupSmbCredentials(const std::string& host, const std::string& share);

// libsmbclient's authentication callback (signature of smbc_get_auth_data_with_context_fn):
// fills workgroup, user and password from LookupSmbCredentials. Never prompts.
extern "C" void AnswerSmbAuth(struct _SMBCCTX* context, const char* server, const char* share,
                              char* workgroup, int workgroupLength, char* user, int userLength,
                              char* password, int passwordLength);
