// Start-up to the window shown, and peak memory after start-up, of Kelvoran against a bare Qt
// window with a tray icon, side by side in one run. Needs an X server with a tray host (run it
// through scripts/bench.sh). Each program is started in turn, several rounds; "shown" is when X
// reports the program's main window mapped.
//
//   bench_startup [rounds]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Watches the X server for top-level windows being mapped, without polling: the measurement
// must not take CPU from the program it measures.
class MapWatcher
{
public:
    MapWatcher()
    {
        m_conn = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_conn))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, 11, "_NET_WM_PID"), nullptr);
        if (atom) {
            m_pidAtom = atom->atom;
            free(atom);
        }
        xcb_flush(m_conn);
        m_ok = m_pidAtom != XCB_ATOM_NONE;
    }
    ~MapWatcher() { xcb_disconnect(m_conn); }
    bool ok() const { return m_ok; }

    // Waits until a window of at least 100x100 pixels of process `pid` is mapped; false on
    // time-out.
    bool waitForMainWindow(qint64 pid, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            pollfd fd{xcb_get_file_descriptor(m_conn), POLLIN, 0};
            xcb_generic_event_t *event = xcb_poll_for_event(m_conn);
            if (!event) {
                ::poll(&fd, 1, 50);
                continue;
            }
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            const xcb_window_t window =
                mapped ? reinterpret_cast<xcb_map_notify_event_t *>(event)->window : 0;
            free(event);
            if (mapped && isMainWindowOf(window, pid))
                return true;
        }
        return false;
    }

private:
    bool isMainWindowOf(xcb_window_t window, qint64 pid)
    {
        bool big = false, owned = false;
        if (auto *geo = xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, window), nullptr)) {
            big = geo->width >= 100 && geo->height >= 100;
            free(geo);
        }
        if (auto *prop = xcb_get_property_reply(
                m_conn, xcb_get_property(m_conn, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr)) {
            if (xcb_get_property_value_length(prop) == 4)
                owned = *static_cast<uint32_t *>(xcb_get_property_value(prop)) == uint32_t(pid);
            free(prop);
        }
        return big && owned;
    }

    xcb_connection_t *m_conn = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    bool m_ok = false;
};

qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Run
{
    double shownMs = -1;
    qint64 peakRssKb = -1;
};

Run runOnce(MapWatcher &watcher, const QString &program, const QString &configDir,
            const QStringList &args = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    Run run;
    if (!p.waitForStarted(10000))
        return run;
    if (watcher.waitForMainWindow(p.processId(), 20000))
        run.shownMs = double(timer.nsecsElapsed()) / 1e6;
    QThread::msleep(1000); // let start-up settle before reading the peak
    run.peakRssKb = statusKb(p.processId(), "VmHWM:");
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs an X server with a tray host\n");
        return 1;
    }
    QTemporaryDir config;
    MapWatcher watcher;
    if (!watcher.ok()) {
        std::fprintf(stderr, "bench_startup cannot watch the X server\n");
        return 1;
    }
    const QString kelvoran = QStringLiteral(KELVORAN_BIN_DIR "/kelvoran");
    const QString bare = QStringLiteral(BENCH_BIN_DIR "/bare_window");

    // One run of each first, so both find the shared libraries in the page cache.
    runOnce(watcher, kelvoran, config.path());
    runOnce(watcher, bare, config.path());

    const QStringList caption{QStringLiteral("--caption")};
    runOnce(watcher, bare, config.path(), caption);
    std::vector<double> kShown, bShown, cShown, kRss, bRss, cRss;
    for (int r = 0; r < rounds; ++r) {
        const Run k = runOnce(watcher, kelvoran, config.path());
        const Run b = runOnce(watcher, bare, config.path());
        const Run c = runOnce(watcher, bare, config.path(), caption);
        kShown.push_back(k.shownMs);
        bShown.push_back(b.shownMs);
        cShown.push_back(c.shownMs);
        kRss.push_back(double(k.peakRssKb));
        bRss.push_back(double(b.peakRssKb));
        cRss.push_back(double(c.peakRssKb));
    }
    const double ks = median(kShown), bs = median(bShown), cs = median(cShown);
    const double kr = median(kRss), br = median(bRss), cr = median(cRss);
    std::printf("start-up to window shown (mapped) and peak RSS, median of %d rounds\n", rounds);
    std::printf("%-34s %12s %14s\n", "", "shown (ms)", "peak RSS (KiB)");
    std::printf("%-34s %12.1f %14.0f\n", "kelvoran", ks, kr);
    std::printf("%-34s %12.1f %14.0f\n", "bare Qt window + tray", bs, br);
    std::printf("%-34s %12.1f %14.0f\n", "bare window + tray + one caption", cs, cr);
    std::printf("%-34s %12.2f %14.2f   (target: at most 1.30)\n", "kelvoran / bare", ks / bs,
                kr / br);
    std::printf("%-34s %12.2f %14.2f\n", "kelvoran / bare with a caption", ks / cs, kr / cr);
    return 0;
}
