#pragma once
// Passwords remembered in the desktop's keyring through the Secret Service (GNOME Keyring,
// KWallet and others answer it on the session bus). One item per connected server or
// share, found by its name; the keyring holds the password, never a file of ours.
//
// Every call talks to the service over D-Bus and blocks until it answers (the keyring may
// ask the user to unlock it first). Any thread; calls need not be serialised.
#include <stdexcept>
#include <string>
#include <vector>

#include "smb/smb_credentials.h"

// The service refused or could not be reached; what() says why, for the user.
class TKeyringError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TRememberedLogin {
  std::string RemoteName;  // "\\host" or "\\host\share", as it was connected
  TSmbCredentials Credentials;
};

// Whether a Secret Service answers on the session bus (starting it when the bus can).
bool KeyringAvailable();

// Stores credentials for remoteName, replacing what was stored for it (names compare
// case-insensitively). Throws TKeyringError.
void RememberLogin(const std::string& remoteName, const TSmbCredentials& credentials);

// Removes what is stored for remoteName; false when nothing was. Throws TKeyringError.
bool ForgetLogin(const std::string& remoteName);

// Everything this program has stored, in no particular order. Items the keyring keeps
// locked are left out. Throws TKeyringError.
std::vector<TRememberedLogin> RememberedLogins();
