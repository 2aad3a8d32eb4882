#pragma once
// The program's help and the files it ships beside the executable, and the one way the
// shell opens an address (web page, mail link, help page).
//
// The help is a set of HTML pages in the folder "help"; a topic is a page name, shown in
// the user's browser. UI thread only.
#include <QString>

#include <functional>

class QUrl;
class QWidget;

// Where a file that ships with the program lies: beside the executable (a build tree, or
// an install that keeps them together), else in the installed data folder
// "../share/lanternquest" next to the executable's folder. A file found in neither place
// is named beside the executable, so a message about it names where it was expected.
QString ProgramFilePath(const QString& name);

// The folder of the help pages.
QString HelpFolderPath();

// Opens url with the desktop's handler for it. Returns whether the desktop took it;
// callers may ignore that (nothing is retried or reported).
bool OpenUrl(const QUrl& url);

// Replaces OpenUrl's desktop call by opener (tests); an empty opener restores it. Returns
// the opener that was installed before.
using TUrlOpener = std::function<bool(const QUrl&)>;
TUrlOpener SetUrlOpener(TUrlOpener opener);

// Opens topic (a page name) of the help in folder helpFolder. window is the caller's
// window (unused by the browser, kept for the callers' sake).
bool ShowHelp(QWidget* window, const QString& helpFolder, const QString& topic);

// The Help command (menu, tool bar, tray menu, F1): the overview page.
void ShowProgramHelp(QWidget* window);
