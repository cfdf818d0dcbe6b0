#include "platform/IniFile.h"

#include "platform/Log.h"
#include "platform/Windows1252.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// Strict UTF-8 check: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
bool isValidUtf8(QByteArrayView data)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.data());
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
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
    explicit Document(const QByteArray &bytes) : m_data(bytes)
    {
        m_utf8 = isValidUtf8(m_data);
        if (m_utf8 && m_data.startsWith("\xEF\xBB\xBF"))
            m_start = 3; // a byte-order mark is not part of the first line's text
        const qsizetype firstLf = m_data.indexOf('\n');
        m_crlf = firstLf > 0 && m_data.at(firstLf - 1) == '\r';
    }

    QByteArray lineEnding() const { return QByteArray(m_crlf ? "\r\n" : "\n"); }

    QString decode(QByteArrayView bytes) const
    {
        return m_utf8 ? QString::fromUtf8(bytes) : fromWindows1252(bytes);
    }
    QByteArray encode(QStringView text) const
    {
        return m_utf8 ? text.toUtf8() : toWindows1252(text);
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
    qsizetype m_start = 0;
    bool m_utf8 = true;
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

// Puts `bytes` in place of `target` in one rename. The new content goes to a fresh file in the
// same folder, reaches the disk, takes the old file's owner and permissions (a new file gets the
// usual 0666 less the umask), and only then replaces the old name. A crash at any moment leaves
// either the old file or the new one.
bool replaceFile(const QString &target, const QByteArray &bytes, const struct stat *old,
                 QString &why)
{
    const QFileInfo info(target);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray base = QFile::encodeName(info.fileName());
    QByteArray tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath = dir + "/." + base + ".kelvoran-" +
                   QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        // A new file is created with 0666 so that the umask applies, as for any new file.
        fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    old ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        why = QStringLiteral("cannot create a temporary file beside it: ") + errnoText(errno);
        return false;
    }
    auto fail = [&](const QString &what) {
        why = what + QStringLiteral(": ") + errnoText(errno);
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempPath.constData());
        return false;
    };
    if (!writeAll(fd, bytes))
        return fail(QStringLiteral("cannot write the temporary file"));
    if (old) {
        // The owner only when we may set it (we are root or already the owner); the group
        // alone when that is all we may set. Ownership first: a change of owner clears set-id
        // bits, which fchmod puts back.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0)
            (void)::fchown(fd, uid_t(-1), old->st_gid);
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            return fail(QStringLiteral("cannot copy the permissions"));
    }
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("cannot flush the temporary file"));
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(QStringLiteral("cannot close the temporary file"));
    if (::rename(tempPath.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(QStringLiteral("cannot rename the temporary file over it"));
    // Make the rename itself durable.
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
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
                        const QString &filePath)
{
    if (filePath.isEmpty()) {
        qCWarning(lcKelvoran) << "No INI file named; nothing written";
        return false;
    }
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    // Names and values that would break the line structure (or could never be read back as
    // such) are refused rather than written as something else.
    if (wantedSection.isEmpty() || wantedKey.isEmpty() || hasLineBreak(wantedSection) ||
        hasLineBreak(wantedKey) || wantedKey.contains(u'=') || wantedKey.startsWith(u';') ||
        wantedKey.startsWith(u'[') || wantedSection.startsWith(u';') || hasLineBreak(value)) {
        qCWarning(lcKelvoran).noquote()
            << "INI section, key or value unusable; nothing written to" << filePath;
        return false;
    }

    const QString target = writeTarget(filePath);
    if (target.isEmpty()) {
        qCWarning(lcKelvoran).noquote() << "INI file" << filePath << "is a circle of links";
        return false;
    }
    const QByteArray nativeTarget = QFile::encodeName(target);

    QByteArray bytes;
    struct stat st = {};
    bool exists = false;
    QString why;
    if (::lstat(nativeTarget.constData(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) {
            qCWarning(lcKelvoran).noquote() << "INI file" << filePath << "is not a regular file";
            return false;
        }
        // The rename into a writable folder would succeed even for a write-protected file (and
        // root passes every access check), so the file's own write permission is looked at.
        if (::access(nativeTarget.constData(), W_OK) != 0 || (st.st_mode & 0222) == 0) {
            qCWarning(lcKelvoran).noquote() << "INI file" << filePath << "may not be written";
            return false;
        }
        if (loadFile(target, bytes, why) != LoadResult::Loaded) {
            qCWarning(lcKelvoran).noquote() << "Cannot read INI file" << filePath << "-" << why;
            return false;
        }
    }

    const Document doc(bytes);
    const QByteArray eol = doc.lineEnding();
    const QByteArray encodedValue = doc.encode(value);
    const QByteArray keyLine = doc.encode(wantedKey) + '=' + encodedValue;
    const Location loc = doc.locate(wantedSection, wantedKey);

    QByteArray out = bytes;
    if (loc.keyFound) {
        // Everything up to and including "=" stays, the rest of the line is the new value.
        out.replace(loc.key.valueBegin, loc.key.contentEnd - loc.key.valueBegin, encodedValue);
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

    if (!replaceFile(target, out, exists ? &st : nullptr, why)) {
        qCWarning(lcKelvoran).noquote() << "Cannot write INI file" << filePath << "-" << why;
        return false;
    }
    return true;
}

} // namespace kelvoran::platform
