#pragma once
// Opening a found file or folder with the desktop's program for it, and saying so when
// that cannot happen: the desktop's own launcher reports nothing when no program handles
// the file (it only starts a helper), so the file's type is looked up first.
//
// UI thread only.
#include <QString>
#include <QUrl>

// Opens url with the desktop. Returns an empty text when the desktop took it, else the
// reason it could not be opened, for the user: the file is gone, or no program is set
// for its type, or the desktop refused it. A file's type is looked up in the desktop's
// associations (xdg-mime); where that tool is missing, the desktop is simply asked.
QString OpenWithDesktop(const QUrl& url);
