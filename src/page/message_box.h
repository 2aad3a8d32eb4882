#pragma once
// The program's modal message boxes: the standard error box, questions and notices.
// Every Qt part of the program shows its boxes through ShowMessageBox, so that tests can
// replace the box by a hook that answers at once (no real modal loop, no sleeping).
// UI thread only.
#include <QString>

#include <functional>

class QWidget;

enum class TMsgIcon { Information, Question, Warning, Stop };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgResult { Ok, Yes, No };

// What a hook receives: everything that a real box would show.
struct TMessageBoxRequest {
  QWidget* Parent = nullptr;
  QString Text;
  QString Caption;
  TMsgIcon Icon = TMsgIcon::Information;
  TMsgButtons Buttons = TMsgButtons::Ok;
};

using TMessageBoxHook = std::function<TMsgResult(const TMessageBoxRequest&)>;

// Installs a hook that answers every box instead of showing it; an empty hook restores
// the real boxes. Returns the hook that was installed before.
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);

// Shows a modal box (or asks the hook) and returns the button pressed. Closing a Yes/No
// box without choosing counts as No.
TMsgResult ShowMessageBox(const TMessageBoxRequest& request);

// The standard error box: the message, the application title as caption, a stop icon
// and one OK button.
void ShowErrorBox(QWidget* parent, const QString& message);

// A Yes/No question with a question icon; true only for Yes.
bool AskYesNo(QWidget* parent, const QString& text, const QString& caption);

// A notice with an information icon and an OK button.
void ShowInformation(QWidget* parent, const QString& text, const QString& caption);

// The application title, the caption of the standard boxes: "Lanternquest".
QString ApplicationTitle();
