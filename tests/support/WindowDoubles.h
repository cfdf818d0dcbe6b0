#pragma once
// A stand-in for the window's dialogs: answered from a script given in advance.
#include "app/Dialogs.h"

#include <QStringList>
#include <functional>

namespace kelvoran::test {

class ScriptedDialogs final : public app::Dialogs
{
public:
    // The next answers of input boxes, file dialogs ("": Cancel) and questions ("yes").
    QStringList answers;
    QStringList shown; // message texts, prompts, questions and "initDir|filters" of file dialogs
    std::function<void()> onMessage; // runs while a message box would be open
    void message(QWidget *, const QString &text) override
    {
        shown << text;
        if (onMessage)
            onMessage();
    }
    void warning(QWidget *, const QString &text) override { shown << text; }
    QString inputBox(QWidget *, const QString &prompt) override { return answer(prompt); }
    QString openFile(QWidget *, const app::FileDialog &d) override
    {
        return answer(d.initDir + QLatin1Char('|') + d.filters.join(QLatin1Char(';')));
    }
    bool question(QWidget *, const QString &text) override { return answer(text) == u"yes"; }

private:
    QString answer(const QString &asked)
    {
        shown << asked;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

} // namespace kelvoran::test
