#include "ModalAnswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace kelvoran::test {

namespace {
QList<QPointer<QTimer>> &pending()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}
} // namespace

void cancelPendingAnswers()
{
    for (const QPointer<QTimer> &t : std::as_const(pending())) {
        if (t) {
            t->stop();
            t->deleteLater();
        }
    }
    pending().clear();
}

void answerNextModal(std::function<void(QWidget *dialog)> answer, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    pending().append(timer);
    auto remaining = std::make_shared<int>(timeoutMs / 10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, remaining, answer]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            // The answer may wait for events itself: the timer goes only after it has run.
            timer->stop();
            const std::function<void(QWidget *)> run = answer;
            run(modal);
            timer->deleteLater();
            return;
        }
        if (--*remaining <= 0) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

void acceptNextMessage(SeenDialog *seen)
{
    answerNextModal([seen](QWidget *dialog) {
        seen->className = QString::fromLatin1(dialog->metaObject()->className());
        seen->title = dialog->windowTitle();
        seen->count++;
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            seen->text = box->text();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        } else if (auto *other = qobject_cast<QDialog *>(dialog)) {
            other->reject();
        }
    });
}

void answerNextInput(SeenDialog *seen, const QString &text, bool cancel)
{
    answerNextModal([seen, text, cancel](QWidget *dialog) {
        seen->className = QString::fromLatin1(dialog->metaObject()->className());
        seen->title = dialog->windowTitle();
        seen->count++;
        if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
            seen->text = input->labelText();
            input->setTextValue(text);
            if (cancel)
                input->reject();
            else
                input->accept();
        } else if (auto *other = qobject_cast<QDialog *>(dialog)) {
            other->reject();
        }
    });
}

} // namespace kelvoran::test
