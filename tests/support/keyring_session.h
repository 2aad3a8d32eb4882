#pragma once
// A real keyring for tests: a private D-Bus session (dbus-run-session) with
// gnome-keyring-daemon unlocked in it, every file of both under a fresh temporary folder,
// so the user's own keyring and session are never touched.
//
// The test program runs the current test again inside such a session:
//
//   TEST(Keyring, Remembers) {
//     if (!InKeyringSession()) return RunCurrentTestInKeyringSession();
//     ...   // the test itself, talking to the private keyring
//   }
//
// Outside the session the call passes when the inner run passed, fails with the inner
// run's output when it failed, and skips with the reason when the tools are missing or
// the daemon does not come up. The session and the daemon are stopped by process id.
bool InKeyringSession();
void RunCurrentTestInKeyringSession();
