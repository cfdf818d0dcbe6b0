#pragma once
// The settings panel's two modes and the enabling of the watch controls.
#include <QString>
#include <QStringList>

namespace kelvoran::settings {

// Caption of the Save button while there is an edit to save (button enabled) ...
inline const QString kCaptionChanged = QStringLiteral("Save Settings");
// ... and while the fields show what was loaded or saved (button disabled).
inline const QString kCaptionCurrent = QStringLiteral("Current Settings");

// A field's text compared with the text it held when it got the focus: exact, case and blanks
// count.
inline bool isEdited(const QString &text, const QString &textBeforeEdit)
{
    return text != textBeforeEdit;
}

// The watch controls are usable only while the settings are saved and all seven are filled.
inline bool watchControlsUsable(const QString &saveCaption, const QStringList &sevenFields)
{
    if (saveCaption == kCaptionChanged)
        return false;
    for (const QString &field : sevenFields) {
        if (field.isEmpty())
            return false;
    }
    return true;
}

} // namespace kelvoran::settings
