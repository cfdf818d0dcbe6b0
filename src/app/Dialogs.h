#pragma once
// The window's dialogs, titled "Kelvoran": message boxes, the input box and the file dialog.
#include "platform/Notifier.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace kelvoran::app {

// The file dialog the three browse buttons share: a starting folder and a list of filters.
struct FileDialog
{
    QString initDir;
    QStringList filters;
};

class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // A modal message box with an OK button only.
    virtual void message(QWidget *parent, const QString &text) = 0;
    // A warning shown without waiting for it to be closed.
    virtual void warning(QWidget *parent, const QString &text) = 0;
    // A modal input box with an empty field; "" on Cancel.
    virtual QString inputBox(QWidget *parent, const QString &prompt) = 0;
    // A modal file-open dialog; the chosen file's full path, or "" on Cancel.
    virtual QString openFile(QWidget *parent, const FileDialog &dialog) = 0;
    // A modal question with Yes and No, No the default; true on Yes.
    virtual bool question(QWidget *parent, const QString &text) = 0;
};

// Says a failure: in a message box over `window` while it is shown, else as a desktop notification
// titled "Kelvoran" (no modal box over a hidden window).
void say(QWidget *window, Dialogs &dialogs, platform::Notifier &notifier, const QString &text);

class QtDialogs final : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text) override;
    void warning(QWidget *parent, const QString &text) override;
    QString inputBox(QWidget *parent, const QString &prompt) override;
    QString openFile(QWidget *parent, const FileDialog &dialog) override;
    bool question(QWidget *parent, const QString &text) override;
};

} // namespace kelvoran::app
