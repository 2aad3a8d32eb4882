#include "smb/keyring.h"

#include <libsecret/secret.h>

#include <algorithm>
#include <cctype>

namespace {

// The kind of item this program stores; its name keeps our items apart from others'.
const SecretSchema* LoginSchema() {
  static const SecretSchema schema = {
      "com.orvantis.Lanternquest.NetworkLogin",
      SECRET_SCHEMA_NONE,
      {
          {"remote-name", SECRET_SCHEMA_ATTRIBUTE_STRING},  // lower case, for look-ups
          {"display-name", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {"domain", SECRET_SCHEMA_ATTRIBUTE_STRING},
          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
      },
      0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &schema;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Owns a GError; ThrowIfSet turns one into TKeyringError.
struct TErrorGuard {
  GError* Error = nullptr;
  ~TErrorGuard() {
    if (Error != nullptr) g_error_free(Error);
  }
  void ThrowIfSet(const char* doing) {
    if (Error == nullptr) return;
    throw TKeyringError(std::string(doing) + ": " + Error->message);
  }
};

std::string Attribute(GHashTable* attributes, const char* key) {
  const auto* value = static_cast<const char*>(g_hash_table_lookup(attributes, key));
  return value != nullptr ? value : "";
}

}  // namespace

bool KeyringAvailable() {
  TErrorGuard error;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error.Error);
  if (service == nullptr) return false;
  g_object_unref(service);
  return true;
}

void RememberLogin(const std::string& remoteName, const TSmbCredentials& credentials) {
  // The service replaces an item only when every attribute is the same; another user or
  // spelling of the name would add a second item for the same server.
  ForgetLogin(remoteName);
  TErrorGuard error;
  const std::string label = "Lanternquest: " + remoteName;
  secret_password_store_sync(LoginSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                             credentials.Password.c_str(), nullptr, &error.Error, "remote-name",
                             Lower(remoteName).c_str(), "display-name", remoteName.c_str(), "user",
                             credentials.User.c_str(), "domain", credentials.Domain.c_str(), nullptr);
  error.ThrowIfSet("Cannot store the password in the keyring");
}

bool ForgetLogin(const std::string& remoteName) {
  TErrorGuard error;
  const gboolean removed = secret_password_clear_sync(LoginSchema(), nullptr, &error.Error, "remote-name",
                                                      Lower(remoteName).c_str(), nullptr);
  error.ThrowIfSet("Cannot remove the password from the keyring");
  return removed != FALSE;
}

std::vector<TRememberedLogin> RememberedLogins() {
  TErrorGuard error;
  GList* items = secret_password_search_sync(
      LoginSchema(), static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
      nullptr, &error.Error, nullptr);
  error.ThrowIfSet("Cannot read the keyring");
  std::vector<TRememberedLogin> logins;
  for (GList* node = items; node != nullptr; node = node->next) {
    auto* item = static_cast<SecretRetrievable*>(node->data);
    TErrorGuard itemError;
    SecretValue* secret = secret_retrievable_retrieve_secret_sync(item, nullptr, &itemError.Error);
    if (secret == nullptr) continue;  // locked or unreadable: not remembered for this run
    GHashTable* attributes = secret_retrievable_get_attributes(item);
    TRememberedLogin login;
    login.RemoteName = Attribute(attributes, "display-name");
    login.Credentials.User = Attribute(attributes, "user");
    login.Credentials.Domain = Attribute(attributes, "domain");
    gsize length = 0;
    const gchar* password = secret_value_get(secret, &length);
    login.Credentials.Password.assign(password, length);
    g_hash_table_unref(attributes);
    secret_value_unref(secret);
    if (!login.RemoteName.empty()) logins.push_back(std::move(login));
  }
  g_list_free_full(items, g_object_unref);
  return logins;
}
