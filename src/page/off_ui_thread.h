#pragma once
// Long work that must not freeze the window: run on a thread of its own while the UI
// thread's event loop goes on, so the window is drawn and the desktop sees it answer.
#include <QEventLoop>

#include <functional>

// Runs work on a new thread and returns when it has ended, handling the UI thread's
// events meanwhile as flags say (ExcludeUserInputEvents: clicks and keys wait for the
// end). work must not touch widgets. An exception from work is thrown here. UI thread.
void RunOffUiThread(const std::function<void()>& work,
                    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);
