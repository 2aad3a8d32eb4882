#pragma once
// The program's identity towards the desktop: its name, the desktop entry it belongs to and
// its window icon. Run once at start-up, after the QApplication exists and before any window.
//
// No display name is set: Qt would append it to every window's caption ("Stop search -
// Lanternquest"), and each window and message box shows exactly its own caption.
void SetApplicationIdentity();
