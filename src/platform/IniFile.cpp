#include "platform/IniFile.h"

#include "platform/Log.h"
#include "platform/Windows1252.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The game server's INI file is worked on as bytes: lines are found by their "\n", names and
// values are decoded only where they are compared or returned, and a write splices the new bytes
// into the old ones, so every byte outside the changed value stays exactly as it was. This works
// for both encodings the file can have (UTF-8 and Windows-1252) because every byte that carries
// structure ("[", "]", "=", ";", blanks, quotes, CR, LF) is ASCII and cannot occur inside a
// UTF-8 multi-byte sequence.

namespace kelvoran::platform {
namespace {

// Larger files are refused: reading gives "" and writing leaves them alone.
constexpr qsizetype kMaxFileBytes = 64 * 1024 * 1024;
// The Windows profile reader fills a buffer of 2048 characters, terminator included.
constexpr qsizetype kMaxValueChars = 2047;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

constexpr QByteArrayView kUtf8Bom = "\xEF\xBB\xBF";

// Strict UTF-8 check: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
// `multiByte` tells whether any byte above ASCII was seen.
bool isValidUtf8(QByteArrayView data, bool &multiByte)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.data());
    const qsizetype n = data.size();
    multiByte = false;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        multiByte = true;
        int extra = 0;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (n - i <= extra)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k <= extra; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

enum class Encoding { Windows1252, Utf8 };

// The one rule, used for every read and every write (see IniFile.h). Plain ASCII is
// Windows-1252 because the game server reads the file in its 8-bit code page, and a value
// written into such a file must be the bytes the server compares the login with.
Encoding encodingOf(QByteArrayView data)
{
    if (data.startsWith(kUtf8Bom))
        return Encoding::Utf8;
    bool multiByte = false;
    return isValidUtf8(data, multiByte) && multiByte ? Encoding::Utf8 : Encoding::Windows1252;
}

bool hasNonAscii(QByteArrayView data)
{
    for (const char c : data) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

enum class LineKind { Blank, Comment, Section, Key, Other };

struct Line
{
    qsizetype begin = 0;      // first byte of the line
    qsizetype contentEnd = 0; // end of the text, before "\r\n" or "\n"
    qsizetype end = 0;        // after the line ending (== contentEnd for a last line without one)
    LineKind kind = LineKind::Other;
    QByteArrayView name;      // section or key name, blanks trimmed
    qsizetype valueBegin = 0; // for keys: the byte after the first "="
};

// What one pass over the file found for one section and key.
struct Location
{
    bool sectionFound = false;
    bool keyFound = false;
    Line key;           // the first matching key line of the first matching section
    Line lastInSection; // its last line that is not blank (the header when there is none)
    bool hasLines = false;
    Line lastLine; // the file's last line (valid when the section was not found)
};

// One INI file held in memory. Lines are classified as they are walked, never stored: a file of
// millions of empty lines costs no more memory than its bytes.
class Document
{
public:
    explicit Document(const QByteArray &bytes) : m_data(bytes), m_encoding(encodingOf(bytes))
    {
        if (m_data.startsWith(kUtf8Bom))
            m_start = kUtf8Bom.size(); // the byte-order mark is not part of the first line
        const qsizetype firstLf = m_data.indexOf('\n');
        m_crlf = firstLf > 0 && m_data.at(firstLf - 1) == '\r';
    }

    Encoding encoding() const { return m_encoding; }
    QByteArray lineEnding() const { return QByteArray(m_crlf ? "\r\n" : "\n"); }

    QString decode(QByteArrayView bytes) const
    {
        if (m_encoding == Encoding::Windows1252)
            return fromWindows1252(bytes);
        // A U+FEFF at the start of a value is a character of that value, not a byte-order mark
        // to drop (the file's own mark is skipped apart, above).
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        return utf8(bytes);
    }
    QByteArray encode(QStringView text) const
    {
        return m_encoding == Encoding::Utf8 ? text.toUtf8() : toWindows1252(text);
    }

    Location locate(const QString &section, const QString &key) const
    {
        Location loc;
        bool inSection = false;
        for (qsizetype pos = m_start; pos < m_data.size();) {
            const Line line = lineAt(pos);
            pos = line.end;
            loc.hasLines = true;
            loc.lastLine = line;
            if (!inSection) {
                if (line.kind == LineKind::Section && nameIs(line, section)) {
                    loc.sectionFound = inSection = true;
                    loc.lastInSection = line;
                }
                continue;
            }
            if (line.kind == LineKind::Section)
                break; // only the first matching section counts
            if (line.kind != LineKind::Blank)
                loc.lastInSection = line;
            if (line.kind == LineKind::Key && nameIs(line, key)) {
                loc.keyFound = true;
                loc.key = line;
                break;
            }
        }
        return loc;
    }

    QByteArrayView rawValue(const Line &line) const
    {
        return QByteArrayView(m_data).sliced(line.valueBegin, line.contentEnd - line.valueBegin);
    }

private:
    bool nameIs(const Line &line, const QString &wanted) const
    {
        return QString::compare(decode(line.name), wanted, Qt::CaseInsensitive) == 0;
    }

    Line lineAt(qsizetype pos) const
    {
        Line line;
        line.begin = pos;
        const qsizetype lf = m_data.indexOf('\n', pos);
        if (lf < 0) {
            line.contentEnd = line.end = m_data.size();
        } else {
            line.contentEnd = (lf > pos && m_data.at(lf - 1) == '\r') ? lf - 1 : lf;
            line.end = lf + 1;
        }
        classify(line);
        return line;
    }

    void classify(Line &line) const
    {
        const QByteArrayView text =
            QByteArrayView(m_data).sliced(line.begin, line.contentEnd - line.begin);
        const QByteArrayView t = trimmed(text);
        if (t.isEmpty()) {
            line.kind = LineKind::Blank;
            return;
        }
        if (t.front() == ';') {
            line.kind = LineKind::Comment;
            return;
        }
        if (t.front() == '[') {
            const qsizetype close = t.lastIndexOf(']');
            if (close > 0) {
                line.kind = LineKind::Section;
                line.name = trimmed(t.sliced(1, close - 1));
            }
            // A "[" without "]" is neither a header nor a key: the line is ignored.
            return;
        }
        const qsizetype eq = text.indexOf('=');
        if (eq < 0)
            return;
        const QByteArrayView name = trimmed(text.first(eq));
        if (name.isEmpty())
            return;
        line.kind = LineKind::Key;
        line.name = name;
        line.valueBegin = line.begin + eq + 1;
    }

    QByteArray m_data;
    Encoding m_encoding;
    qsizetype m_start = 0;
    bool m_crlf = false;
};

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

enum class LoadResult { Loaded, Missing, Failed };

// Reads a whole regular file of at most kMaxFileBytes. Opening without blocking and checking the
// type on the open descriptor keeps a FIFO or a device named as the INI file from hanging us.
LoadResult loadFile(const QString &path, QByteArray &out, QString &why)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        why = errnoText(err);
        return (err == ENOENT || err == ENOTDIR) ? LoadResult::Missing : LoadResult::Failed;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = QStringLiteral("not a regular file");
        ::close(fd);
        return LoadResult::Failed;
    }
    if (st.st_size > kMaxFileBytes) {
        why = QStringLiteral("larger than 64 MiB");
        ::close(fd);
        return LoadResult::Failed;
    }
    QByteArray data;
    data.resize(qsizetype(st.st_size) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == data.size()) {
            if (data.size() > kMaxFileBytes) {
                why = QStringLiteral("larger than 64 MiB");
                ::close(fd);
                return LoadResult::Failed;
            }
            data.resize(qMin<qsizetype>(data.size() * 2 + 4096, kMaxFileBytes + 1));
        }
        const ssize_t got = ::read(fd, data.data() + used, size_t(data.size() - used));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            why = errnoText(errno);
            ::close(fd);
            return LoadResult::Failed;
        }
        if (got == 0)
            break;
        used += got;
    }
    ::close(fd);
    if (used > kMaxFileBytes) {
        why = QStringLiteral("larger than 64 MiB");
        return LoadResult::Failed;
    }
    data.truncate(used);
    out = data;
    return LoadResult::Loaded;
}

QString cutValue(QString value)
{
    if (value.size() > kMaxValueChars) {
        qsizetype n = kMaxValueChars;
        if (value.at(n - 1).isHighSurrogate())
            --n; // never leave half a character behind
        value.truncate(n);
    }
    return value;
}

// Where a write really goes: an existing file through any symbolic links to it, a dangling link
// to the file it names. Empty when the links go round in a circle.
QString writeTarget(const QString &path)
{
    QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    QString p = info.absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo link(p);
        if (!link.isSymLink())
            return p;
        p = link.symLinkTarget();
    }
    return {};
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

// The mode a new file gets: 0666 less the umask, read without changing it (setting the umask to
// read it back would race with other threads creating files).
mode_t newFileMode()
{
    QByteArray status;
    QString why;
    mode_t mask = 022;
    if (loadFile(QStringLiteral("/proc/self/status"), status, why) == LoadResult::Loaded) {
        const qsizetype at = status.indexOf("\nUmask:");
        if (at >= 0) {
            bool ok = false;
            const qsizetype end = status.indexOf('\n', at + 1);
            const uint value = status.mid(at + 7, end - at - 7).trimmed().toUInt(&ok, 8);
            if (ok)
                mask = mode_t(value) & 0777;
        }
    }
    return 0666 & ~mask;
}

// The one temporary file of a target, ".<name>.kelvoran-tmp" in the same folder. Holding it open
// with an exclusive lock is what lets one writer at a time at the target; a copy left by a crash
// is taken over (emptied, mode 0600) by the next write, so crashes never pile up copies of the
// file. Unless it was renamed over the target, it is removed again when this object goes.
class TempFile
{
public:
    explicit TempFile(const QString &target)
    {
        const QFileInfo info(target);
        m_dir = QFile::encodeName(info.absolutePath());
        m_path = m_dir + "/." + QFile::encodeName(info.fileName()) + ".kelvoran-tmp";
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile()
    {
        if (m_fd < 0)
            return;
        if (!m_renamed)
            ::unlink(m_path.constData()); // still under our lock: nobody else uses the name
        ::close(m_fd);
    }

    // Opens and locks the temporary file, empty and 0600. Another writer at work holds the lock
    // for a moment only; after about two seconds the write gives up rather than hang.
    bool lock(QString &why)
    {
        for (int attempt = 0; attempt < 400; ++attempt) {
            const int fd = ::open(m_path.constData(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
            if (fd < 0) {
                // A symbolic link in its place is not followed, and a stale file we may not open
                // is not in the way: both are only removed.
                const int err = errno;
                if ((err == ELOOP || err == EACCES) && ::unlink(m_path.constData()) == 0)
                    continue;
                why = QStringLiteral("cannot create its temporary file: ") + errnoText(err);
                return false;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int err = errno;
                ::close(fd);
                if (err != EWOULDBLOCK) {
                    why = QStringLiteral("cannot lock its temporary file: ") + errnoText(err);
                    return false;
                }
                ::usleep(5000);
                continue;
            }
            // The lock counts only while the name still leads to the file locked: the writer
            // before us may have renamed it over the target or removed it meanwhile.
            struct stat mine = {}, named = {};
            if (::fstat(fd, &mine) == 0 && ::lstat(m_path.constData(), &named) == 0 &&
                mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
                if (S_ISREG(mine.st_mode) && mine.st_nlink == 1 && mine.st_uid == ::geteuid() &&
                    ::fchmod(fd, 0600) == 0 && ::ftruncate(fd, 0) == 0) {
                    m_fd = fd;
                    return true;
                }
                // Not a file of ours to empty (another owner, a hard link to another file):
                // only the name goes.
                ::unlink(m_path.constData());
            }
            ::close(fd);
        }
        why = QStringLiteral("another program keeps its temporary file locked");
        return false;
    }

    // Puts `bytes` in place of `target` in one rename: the content reaches the disk and takes the
    // old file's owner and permissions (0666 less the umask for a new file) before the rename, so a
    // crash at any moment leaves either the old file or the new one.
    bool replace(const QString &target, const QByteArray &bytes, const struct stat *old,
                 QString &why)
    {
        if (!writeAll(m_fd, bytes))
            return failed(QStringLiteral("cannot write its temporary file"), why);
        if (old) {
            // The owner only when we may set it (we are root or already the owner); the group
            // alone when that is all we may set. Ownership first: a change of owner clears
            // set-id bits, which fchmod puts back.
            if (::fchown(m_fd, old->st_uid, old->st_gid) != 0)
                (void)::fchown(m_fd, uid_t(-1), old->st_gid);
        }
        if (::fchmod(m_fd, old ? old->st_mode & 07777 : newFileMode()) != 0)
            return failed(QStringLiteral("cannot set the permissions"), why);
        if (::fsync(m_fd) != 0)
            return failed(QStringLiteral("cannot flush its temporary file"), why);
        if (::rename(m_path.constData(), QFile::encodeName(target).constData()) != 0)
            return failed(QStringLiteral("cannot rename its temporary file over it"), why);
        m_renamed = true;
        // Make the rename itself durable.
        const int dirFd = ::open(m_dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            (void)::fsync(dirFd);
            ::close(dirFd);
        }
        return true;
    }

private:
    static bool failed(const QString &what, QString &why)
    {
        why = what + QStringLiteral(": ") + errnoText(errno);
        return false;
    }

    QByteArray m_dir;
    QByteArray m_path;
    int m_fd = -1;
    bool m_renamed = false;
};

// What a write finds at its target: whether a file is there and whether it may be replaced.
bool inspectTarget(const QByteArray &target, struct stat &st, bool &exists, QString &why)
{
    exists = ::lstat(target.constData(), &st) == 0;
    if (!exists)
        return true;
    if (!S_ISREG(st.st_mode)) {
        why = QStringLiteral("not a regular file");
        return false;
    }
    // The rename into a writable folder would succeed even for a write-protected file (and root
    // passes every access check), so the file's own write permission is looked at.
    if (::access(target.constData(), W_OK) != 0 || (st.st_mode & 0222) == 0) {
        why = QStringLiteral("the file may not be written");
        return false;
    }
    return true;
}

bool hasLineBreak(QStringView s)
{
    return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(0));
}

} // namespace

QString readProfileString(const QString &section, const QString &key, const QString &filePath)
{
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    if (filePath.isEmpty() || wantedSection.isEmpty() || wantedKey.isEmpty())
        return {};

    QByteArray bytes;
    QString why;
    switch (loadFile(filePath, bytes, why)) {
    case LoadResult::Missing:
        return {}; // no file simply means no value
    case LoadResult::Failed:
        qCWarning(lcKelvoran).noquote() << "Cannot read INI file" << filePath << "-" << why;
        return {};
    case LoadResult::Loaded:
        break;
    }

    const Document doc(bytes);
    const Location loc = doc.locate(wantedSection, wantedKey);
    if (!loc.keyFound)
        return {};

    QByteArrayView value = trimmed(doc.rawValue(loc.key));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return cutValue(doc.decode(value));
}

bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &filePath, QString *error)
{
    const auto refuse = [&](const QString &reason) {
        const QString text =
            filePath.isEmpty()
                ? QStringLiteral("No INI file named; nothing written")
                : QStringLiteral("Nothing written to INI file %1: %2").arg(filePath, reason);
        qCWarning(lcKelvoran).noquote() << text;
        if (error)
            *error = text;
        return false;
    };
    if (filePath.isEmpty())
        return refuse({});
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    // Names and values that would break the line structure (or could never be read back as
    // such) are refused rather than written as something else.
    if (wantedSection.isEmpty() || wantedKey.isEmpty() || hasLineBreak(wantedSection) ||
        hasLineBreak(wantedKey) || wantedKey.contains(u'=') || wantedKey.startsWith(u';') ||
        wantedKey.startsWith(u'[') || wantedSection.startsWith(u';') || hasLineBreak(value))
        return refuse(QStringLiteral("section, key or value unusable"));

    const QString target = writeTarget(filePath);
    if (target.isEmpty())
        return refuse(QStringLiteral("its symbolic links go round in a circle"));
    const QByteArray nativeTarget = QFile::encodeName(target);
    struct stat st = {};
    bool exists = false;
    QString why;
    if (!inspectTarget(nativeTarget, st, exists, why))
        return refuse(why);

    // From here on this is the only writer of the file; what it holds is read afresh.
    TempFile temp(target);
    if (!temp.lock(why) || !inspectTarget(nativeTarget, st, exists, why))
        return refuse(why);
    QByteArray bytes;
    if (exists && loadFile(target, bytes, why) != LoadResult::Loaded)
        return refuse(why);

    const Document doc(bytes);
    const QByteArray eol = doc.lineEnding();
    const QByteArray encodedValue = doc.encode(value);
    const QByteArray keyLine = doc.encode(wantedKey) + '=' + encodedValue;
    const Location loc = doc.locate(wantedSection, wantedKey);

    QByteArray out = bytes;
    qsizetype replacedBegin = 0, replacedEnd = 0; // the bytes of the old file that go
    if (loc.keyFound) {
        // Everything up to and including "=" stays, the rest of the line is the new value.
        replacedBegin = loc.key.valueBegin;
        replacedEnd = loc.key.contentEnd;
        out.replace(replacedBegin, replacedEnd - replacedBegin, encodedValue);
    } else if (loc.sectionFound) {
        // New key after the last line of the section that is not blank.
        const Line &after = loc.lastInSection;
        if (after.end == after.contentEnd) // the file's last line, without a line ending
            out.insert(after.end, eol + keyLine);
        else
            out.insert(after.end, keyLine + eol);
    } else {
        // New section at the end, after a blank line.
        if (loc.hasLines) {
            if (loc.lastLine.end == loc.lastLine.contentEnd)
                out += eol;
            if (loc.lastLine.kind != LineKind::Blank)
                out += eol;
        }
        out += '[' + doc.encode(wantedSection) + ']' + eol + keyLine + eol;
    }

    if (exists && out == bytes)
        return true; // the value is already there: leave the file and its time stamp alone

    // Before anything is replaced, the new file is read as a later read will read it: the key
    // must give the value exactly (a character the encoding lacks would come back as "?"), and
    // the new bytes must not change the file's encoding while other non-ASCII bytes would then
    // read differently.
    const Document written(out);
    const Location check = written.locate(wantedSection, wantedKey);
    if (!check.keyFound)
        return refuse(QStringLiteral("the section or key name cannot be stored as given"));
    if (doc.decode(encodedValue) != value)
        return refuse(doc.encoding() == Encoding::Utf8
                          ? QStringLiteral("the value cannot be stored as UTF-8")
                          : QStringLiteral("the file's encoding, Windows-1252, cannot hold "
                                           "the value"));
    if (written.decode(written.rawValue(check.key)) != value ||
        (written.encoding() != doc.encoding() &&
         (hasNonAscii(QByteArrayView(bytes).first(replacedBegin)) ||
          hasNonAscii(QByteArrayView(bytes).sliced(replacedEnd)))))
        return refuse(QStringLiteral("the value would change the file's encoding"));

    if (!temp.replace(target, out, exists ? &st : nullptr, why))
        return refuse(why);
    return true;
}

} // namespace kelvoran::platform
