#include "app/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>

namespace kelvoran::app {

namespace {
const QString kTitle = QStringLiteral("Kelvoran");
}

void say(QWidget *window, Dialogs &dialogs, platform::Notifier &notifier, const QString &text)
{
    if (window->isVisible() && !window->isMinimized() &&
        !window->testAttribute(Qt::WA_DontShowOnScreen))
        dialogs.message(window, text);
    else
        notifier.notify(kTitle, text);
}

void QtDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtDialogs::warning(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString QtDialogs::inputBox(QWidget *parent, const QString &prompt)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(kTitle);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.textValue();
}

QString QtDialogs::openFile(QWidget *parent, const FileDialog &settings)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(settings.initDir);
    dialog.setNameFilters(settings.filters);
    // Server files are often named SERVER.INI or Sound.WAV: match names in any letter case.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

bool QtDialogs::question(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace kelvoran::app
