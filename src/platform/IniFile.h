#pragma once
#include <QString>

namespace kelvoran::platform {

// The file's encoding, decided by one rule at every read and every write: a file that starts
// with a UTF-8 byte-order mark, or that is valid UTF-8 holding at least one multi-byte sequence,
// is UTF-8; a plain-ASCII file and every other file is Windows-1252 (the game server's own code
// page, and the one the login goes out in).

// Reads one key of one section. Section and key names match without regard to case, blanks
// around names and values are ignored, one pair of matching quotes around the value is removed,
// lines starting with ";" are comments, the first matching section and key win. The value is
// cut to 2047 characters. A missing or unreadable file, section or key, or an empty path, gives "".
QString readProfileString(const QString &section, const QString &key, const QString &filePath);

// Writes one key of one section, leaving every other byte of the file as it was, and replaces the
// file atomically through one fixed temporary file beside it. Creates a missing key, section or
// file. Returns false when nothing was written: an empty path, a file that may not be written, a
// value the file's encoding cannot hold or that would change how the rest of the file reads, an
// I/O failure. The file is then untouched, and `error` (when given) receives the reason, naming
// the file.
bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &filePath, QString *error = nullptr);

} // namespace kelvoran::platform
