// Figures for the registry store under the load of the poll cycle with a watch list of 10,000
// entries: one cycle walks the whole list about 33 times (the reload of the list and one walk per
// player on line) and writes "YES" into every entry whose player is not on line, which in steady
// state changes nothing.
//
//   bench_store [entries]
#include "TempStore.h"
#include "watchlist/Module1.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

using namespace kelvoran;
using namespace kelvoran::Module1;
using platform::KeyHandle;

namespace {

constexpr int kWalksPerCycle = 33;
constexpr int kRounds = 7;

struct Timing
{
    double medianMs = 0;
    double minMs = 0;
};

template <typename F> Timing measure(F &&run, int rounds = kRounds)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

QString entryName(int i)
{
    return QStringLiteral("Frd_player%1").arg(i, 5, 10, QLatin1Char('0'));
}

qint64 walkAll()
{
    qint64 seen = 0;
    walkEntries(kChecklistWalkKey, [&](const QString &) {
        ++seen;
        return true;
    });
    return seen;
}

void rearmAll(const QStringList &names)
{
    for (const QString &name : names)
        setRegKeyValue(subPath(kChecklistKey, name), QStringLiteral("Annouce"),
                       QStringLiteral("YES"), REG_SZ);
}

// One poll cycle with players on line who match no entry.
void pollCycle()
{
    for (int i = 0; i < kWalksPerCycle - 1; ++i)
        walkAll(); // playAnnoucement for each player on line, no match
    const QStringList names = entryNames(kChecklistWalkKey); // getALlKeyPlayers
    rearmAll(names);
}

struct FileState
{
    qint64 size = -1;
    qint64 mtimeNs = -1;
    bool operator==(const FileState &o) const { return size == o.size && mtimeNs == o.mtimeNs; }
};

FileState fileState(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
#if defined(__SANITIZE_ADDRESS__)
    const char *build = "AddressSanitizer build";
#elif defined(NDEBUG)
    const char *build = "optimised build";
#else
    const char *build = "debug build";
#endif
    std::printf("bench_store: %d entries, %s\n", entries, build);

    test::TempStore t;
    if (!t.isValid()) {
        std::printf("cannot make a store\n");
        return 1;
    }
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < entries; ++i) {
        createRegKey(subPath(kChecklistKey, entryName(i)), HKEY_LOCAL_MACHINE());
        setRegKeyValue(subPath(kChecklistKey, entryName(i)), QStringLiteral("Annouce"),
                       QStringLiteral("YES"), REG_SZ);
    }
    std::printf("filling: %d entries added in %.0f ms (%.3f ms each, key and value committed "
                "separately)\n",
                entries, double(fill.nsecsElapsed()) / 1e6,
                double(fill.nsecsElapsed()) / 1e6 / entries);
    if (walkAll() != entries) {
        std::printf("walk found the wrong number of entries\n");
        return 1;
    }

    const Timing walk = measure([] { walkAll(); });
    std::printf("full walk of %d subkeys: median %.2f ms, best %.2f ms (%.0f ns per step)\n",
                entries, walk.medianMs, walk.minMs, walk.medianMs * 1e6 / entries);

    const QStringList names = entryNames(kChecklistWalkKey);
    quint64 before = t->committedWrites();
    const Timing rearm = measure([&] { rearmAll(names); });
    std::printf("%d no-change setRegKeyValue calls: median %.2f ms, best %.2f ms (%.2f us each), "
                "committed writes: %llu\n",
                entries, rearm.medianMs, rearm.minMs, rearm.medianMs * 1e3 / entries,
                static_cast<unsigned long long>(t->committedWrites() - before));

    // The two halves of those calls.
    std::vector<RegPath> paths;
    for (const QString &name : names)
        paths.push_back(subPath(kChecklistKey, name));
    const Timing open = measure([&] {
        for (const RegPath &path : paths)
            t->closeKey(t->openKey(path));
    });
    std::vector<KeyHandle> keys;
    for (const RegPath &path : paths)
        keys.push_back(t->openKey(path));
    const QByteArray yes("YES", 4);
    const Timing set = measure([&] {
        for (KeyHandle key : keys)
            t->setValue(key, QStringLiteral("Annouce"), platform::kRegSz, yes);
    });
    for (KeyHandle key : keys)
        t->closeKey(key);
    std::printf("  of which openKey + closeKey: median %.2f ms; setValue on an open key: median "
                "%.2f ms\n",
                open.medianMs, set.medianMs);

    const QString wal = t.filePath() + QStringLiteral("-wal");
    const FileState dbBefore = fileState(t.filePath());
    const FileState walBefore = fileState(wal);
    before = t->committedWrites();
    const Timing cycle = measure(pollCycle);
    std::printf("poll cycle (%d walks + %d no-change writes): median %.2f ms, best %.2f ms, "
                "committed writes: %llu, database and WAL files unchanged: %s\n",
                kWalksPerCycle, entries, cycle.medianMs, cycle.minMs,
                static_cast<unsigned long long>(t->committedWrites() - before),
                fileState(t.filePath()) == dbBefore && fileState(wal) == walBefore ? "yes" : "NO");

    // A second copy of the program changed something just before the cycle: the cached values
    // (or the whole key tree) are read again once.
    platform::RegistryStore other(t.filePath());
    const KeyHandle key = other.openKey(subPath(kChecklistKey, entryName(0)));
    bool flip = false;
    const Timing afterValue = measure([&] {
        flip = !flip;
        other.setValue(key, QStringLiteral("Other"), platform::kRegSz,
                       flip ? QByteArray("1", 2) : QByteArray("2", 2));
        pollCycle();
    });
    other.closeKey(key);
    std::printf("poll cycle after another process wrote a value: median %.2f ms, best %.2f ms\n",
                afterValue.medianMs, afterValue.minMs);
    const KeyHandle parent = other.openKey(kChecklistKey);
    bool add = false;
    const Timing afterKey = measure([&] {
        add = !add;
        if (add) {
            const KeyHandle k = other.createKey(subPath(kChecklistKey, QStringLiteral("Extra")));
            other.closeKey(k);
        } else {
            other.deleteSubKey(parent, QStringLiteral("Extra"));
        }
        pollCycle();
    });
    other.closeKey(parent);
    std::printf("poll cycle after another process added or deleted a key: median %.2f ms, best "
                "%.2f ms\n",
                afterKey.medianMs, afterKey.minMs);
    return 0;
}
