#pragma once
// One loopback smbd for the whole test program, started before the first test and
// stopped after the last, and the SMB client set up to stay on the loopback.
#include <gtest/gtest.h>

#include <memory>

#include "support/smbd_harness.h"

// The program's server; nullptr before the environment is set up.
TSmbdHarness* TestServer();

// Skips the calling test, visibly, when the server could not be started.
#define REQUIRE_SERVER()                                                        \
  do {                                                                          \
    if (TestServer() == nullptr || TestServer()->Failed())                      \
      GTEST_SKIP() << "no test smbd: " << (TestServer() ? TestServer()->Error() : ""); \
  } while (0)

// Skips the calling test, visibly, when the user share has no account.
#define REQUIRE_USER()                                                               \
  do {                                                                               \
    REQUIRE_SERVER();                                                                \
    if (!TestServer()->HasUser())                                                    \
      GTEST_SKIP() << "no account for the user share (useradd/pdbedit failed or not root)"; \
  } while (0)
