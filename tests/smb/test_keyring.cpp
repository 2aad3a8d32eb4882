// The keyring stand-in against a real Secret Service (gnome-keyring on a private bus).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "smb/keyring.h"
#include "support/keyring_session.h"

namespace {

TEST(Keyring, UnavailableWithoutASessionBus) {
  if (InKeyringSession()) GTEST_SKIP() << "checked outside the private session";
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lq-test-bus", 1);
  EXPECT_FALSE(KeyringAvailable());
  if (saved != nullptr) setenv("DBUS_SESSION_BUS_ADDRESS", previous.c_str(), 1);
  else unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TEST(Keyring, RemembersReplacesAndForgetsLoginsByName) {
  if (!InKeyringSession()) return RunCurrentTestInKeyringSession();
  ASSERT_TRUE(KeyringAvailable());
  EXPECT_TRUE(RememberedLogins().empty());
  RememberLogin("\\\\Files\\Docs", {"OFFICE", "ann", "first"});
  RememberLogin("\\\\files\\docs", {"OFFICE", "ann", "p\xC3\xA4ss w\"rd;%"});  // replaces it
  RememberLogin("\\\\print", {"", "bob", ""});

  std::vector<TRememberedLogin> logins = RememberedLogins();
  std::sort(logins.begin(), logins.end(),
            [](const auto& a, const auto& b) { return a.RemoteName < b.RemoteName; });
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(logins[0].RemoteName, "\\\\files\\docs");
  EXPECT_EQ(logins[0].Credentials.Domain, "OFFICE");
  EXPECT_EQ(logins[0].Credentials.User, "ann");
  EXPECT_EQ(logins[0].Credentials.Password, "p\xC3\xA4ss w\"rd;%");
  EXPECT_EQ(logins[1].Credentials.User, "bob");
  EXPECT_EQ(logins[1].Credentials.Password, "");

  EXPECT_TRUE(ForgetLogin("\\\\FILES\\DOCS"));
  EXPECT_FALSE(ForgetLogin("\\\\files\\docs"));
  ASSERT_EQ(RememberedLogins().size(), 1u);
  EXPECT_EQ(RememberedLogins()[0].RemoteName, "\\\\print");
}

}  // namespace
