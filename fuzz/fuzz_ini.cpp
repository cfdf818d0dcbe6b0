// The INI writer against its promises. The input is a file's bytes, optionally followed by
// "\0section\0key\0value" (UTF-8; without it the web server's ListenPort is set to 5080). One key
// is written; then every byte outside the edited line must be unchanged, the key must read back as
// written, every other key must read as before, and a second write of the same value must change
// nothing. A refused write must leave the file byte for byte as it was, and no write may leave
// anything beside the file.
#include "platform/IniFile.h"

#include <QByteArrayList>
#include <QFile>
#include <QList>
#include <QPair>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

using kelvoran::platform::readProfileString;
using kelvoran::platform::writeProfileString;

namespace {

QByteArray g_dir;
QString g_file;

QByteArray load()
{
    QFile f(g_file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

int entriesInDir()
{
    int n = 0;
    DIR *d = ::opendir(g_dir.constData());
    while (const dirent *e = d ? ::readdir(d) : nullptr)
        n += QByteArrayView(e->d_name) != "." && QByteArrayView(e->d_name) != "..";
    if (d)
        ::closedir(d);
    return n;
}

// Some section and key names of the file, decoded both ways, as keys to compare: those whose
// line holds non-ASCII bytes first (their reading depends on the file's encoding), then others.
QList<QPair<QString, QString>> keysIn(const QByteArray &bytes)
{
    QList<QPair<QString, QString>> plain, high;
    QByteArray section;
    for (const QByteArray &raw : bytes.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[') && line.contains(']')) {
            section = line.mid(1, line.lastIndexOf(']') - 1);
        } else if (line.contains('=') && !line.startsWith(';')) {
            const QByteArray name = line.left(line.indexOf('='));
            auto &keys = std::all_of(line.cbegin(), line.cend(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; })
                             ? plain
                             : high;
            keys.append({QString::fromUtf8(section), QString::fromUtf8(name)});
            if (QString::fromLatin1(name) != keys.last().second ||
                QString::fromLatin1(section) != keys.last().first)
                keys.append({QString::fromLatin1(section), QString::fromLatin1(name)});
        }
    }
    return (high + plain).mid(0, 8); // each costs two reads of the file
}

bool sameName(const QString &a, const QString &b)
{
    return QString::compare(a.trimmed(), b.trimmed(), Qt::CaseInsensitive) == 0;
}

bool isAsciiText(QStringView s)
{
    for (const QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QByteArray tmpl = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/kelvoran-fuzz-XXXXXX"
                                                      : "/tmp/kelvoran-fuzz-XXXXXX";
    check(::mkdtemp(tmpl.data()) != nullptr);
    g_dir = tmpl;
    g_file = QString::fromLocal8Bit(g_dir) + QStringLiteral("/UnrealTournament.ini");
    std::atexit([] { // the folder goes when the run ends (not when it crashes: then it is evidence)
        QFile::remove(g_file);
        ::rmdir(g_dir.constData());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray before(reinterpret_cast<const char *>(data), qsizetype(size));
    QString section = QStringLiteral("UWeb.WebServer"), key = QStringLiteral("ListenPort"),
            value = QStringLiteral("5080");
    QByteArrayList tail;
    for (qsizetype cut = before.size(); tail.size() < 3 && cut > 0;) {
        const qsizetype nul = before.lastIndexOf('\0', cut - 1);
        if (nul < 0)
            break;
        tail.prepend(before.mid(nul + 1, cut - nul - 1));
        cut = nul;
    }
    if (tail.size() == 3) {
        section = QString::fromUtf8(tail[0]);
        key = QString::fromUtf8(tail[1]);
        value = QString::fromUtf8(tail[2]);
        before.truncate(before.size() - tail[0].size() - tail[1].size() - tail[2].size() - 3);
    }
    {
        QFile f(g_file);
        check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              f.write(before) == before.size());
    }
    QList<QPair<QString, QString>> others;
    QStringList othersBefore;
    for (const auto &k : keysIn(before)) {
        if (!(sameName(k.first, section) && sameName(k.second, key))) {
            others.append(k);
            othersBefore.append(readProfileString(k.first, k.second, g_file));
        }
    }

    QString why;
    const bool written = writeProfileString(section, key, value, g_file, &why);
    const QByteArray after = load();
    check(entriesInDir() == 1); // no temporary file left
    if (!written) {
        check(after == before && !why.isEmpty());
        // Plain ASCII into a plain-ASCII file is never refused for usable names.
        const QString s = section.trimmed(), k = key.trimmed();
        const bool asciiFile = std::all_of(before.cbegin(), before.cend(), [](char c) {
            return static_cast<unsigned char>(c) < 0x80;
        });
        check(!(asciiFile && isAsciiText(section) && isAsciiText(key) && isAsciiText(value) &&
                !s.isEmpty() && !k.isEmpty() && !k.contains(u'=') && !k.startsWith(u';') &&
                !k.startsWith(u'[') && !s.startsWith(u';')));
        return 0;
    }
    // Only one line changed: the bytes that went hold no line break, and when bytes went (a value
    // replaced) none came in either.
    qsizetype p = 0;
    while (p < before.size() && p < after.size() && before[p] == after[p])
        ++p;
    qsizetype s = 0;
    while (s < before.size() - p && s < after.size() - p &&
           before[before.size() - 1 - s] == after[after.size() - 1 - s])
        ++s;
    const QByteArray gone = before.mid(p, before.size() - p - s);
    const QByteArray came = after.mid(p, after.size() - p - s);
    check(!gone.contains('\n') && (gone.isEmpty() || !came.contains('\n')));

    // The key reads back as written (when the reader has nothing to take off the value).
    const QString blanks = QStringLiteral(" \t\v\f");
    const bool plain =
        value.size() <= 2047 &&
        (value.isEmpty() || (!blanks.contains(value.front()) && !blanks.contains(value.back()) &&
                             !(value.size() >= 2 && value.front() == value.back() &&
                               (value.front() == u'"' || value.front() == u'\''))));
    check(!plain || readProfileString(section, key, g_file) == value);
    for (qsizetype i = 0; i < others.size(); ++i)
        check(readProfileString(others[i].first, others[i].second, g_file) == othersBefore[i]);
    check(writeProfileString(section, key, value, g_file) && load() == after);
    return 0;
}
