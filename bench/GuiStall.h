#pragma once
// What the benchmarks that watch the GUI thread share.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>

// Runs the event loop for `ms`, calls `start` after 50 ms, and returns the longest delay of a
// 10 ms timer's ticks: how long the GUI thread was busy at most.
inline double longestStall(int ms, const std::function<void()> &start)
{
    QElapsedTimer clock;
    double last = 0, worst = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        worst = std::max(worst, now - last - 10);
        last = now;
    });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    clock.start();
    probe.start(10);
    QTimer::singleShot(50, start);
    loop.exec();
    return worst;
}
