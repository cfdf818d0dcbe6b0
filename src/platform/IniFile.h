#pragma once
#include <QString>

namespace kelvoran::platform {

// Reads one key of one section. Section and key names match without regard to case, blanks
// around names and values are ignored, one pair of matching quotes around the value is removed,
// lines starting with ";" are comments, the first matching section and key win. The value is
// cut to 2047 characters. A missing or unreadable file, section or key, or an empty path, gives "".
QString readProfileString(const QString &section, const QString &key, const QString &filePath);

// Writes one key of one section, leaving every other byte of the file as it was, and replaces the
// file atomically. Creates a missing key, section or file. Returns false when nothing was written
// (empty path, a file that may not be written, an I/O failure); the file is then untouched.
bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &filePath);

} // namespace kelvoran::platform
