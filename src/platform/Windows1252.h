#pragma once
#include <QByteArrayView>
#include <QString>

namespace kelvoran::platform {

// Windows-1252 to Unicode. The five bytes the code page leaves undefined map to the C1 control
// characters of the same value, so no byte is ever lost.
QString fromWindows1252(QByteArrayView bytes);
// Unicode to Windows-1252; characters the code page lacks become "?".
QByteArray toWindows1252(QStringView text);

} // namespace kelvoran::platform
