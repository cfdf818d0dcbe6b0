#pragma once
// Answers the next modal dialog from a timer, for tests that drive handlers which open one.
#include <QWidget>
#include <functional>

namespace kelvoran::test {

// Runs `answer` on the next modal dialog that opens, polling every 10 ms for up to `timeoutMs`.
// The handler given to it must close the dialog (accept, reject, click a button).
void answerNextModal(std::function<void(QWidget *dialog)> answer, int timeoutMs = 10000);

// Drops the answers still waiting for a dialog that never opened.
void cancelPendingAnswers();

// What a message box or input dialog showed, and how it was answered.
struct SeenDialog
{
    QString className;
    QString title;
    QString text; // a message box's text or an input dialog's label
    int count = 0;
};

// Presses OK on the next message box and records what it showed.
void acceptNextMessage(SeenDialog *seen);
// Types `text` into the next input dialog and presses OK (or Cancel when `cancel`).
void answerNextInput(SeenDialog *seen, const QString &text, bool cancel = false);

} // namespace kelvoran::test
