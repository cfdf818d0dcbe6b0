#!/usr/bin/env bash
# Installs what Kelvoran and its tests need, builds the test build (AddressSanitizer and
# UndefinedBehaviorSanitizer), starts the desktop test stack (Xvfb, the trayer tray host and
# PulseAudio with a null sink), runs every test and stops the stack again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh --test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVORAN_SANITIZE=ON
cmake --build build/test -j2

stack=$(mktemp -d /tmp/kelvoran-stack.XXXXXX)
pids=()
stop_stack() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$stack"
}
trap stop_stack EXIT

wait_for() { # seconds, command...
    local tries=$(($1 * 10))
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        if ((tries <= 0)); then
            echo "test stack: timed out waiting for: $*" >&2
            return 1
        fi
        sleep 0.1
    done
}

# X server on a free display.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$stack/display" >"$stack/xvfb.log" 2>&1 &
pids+=($!)
wait_for 20 test -s "$stack/display"
export DISPLAY=":$(head -n1 "$stack/display")"
wait_for 20 xdpyinfo

# A tray host, so the program's icon has somewhere to go.
trayer --edge top --align right --widthtype pixel --width 240 --height 24 --SetDockType false \
    >"$stack/trayer.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\""'

# A private sound server whose only sink is a null sink the tests record from.
export XDG_RUNTIME_DIR="$stack/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disable-shm=yes \
    --log-target=stderr \
    --load="module-null-sink sink_name=kelvoran_null" \
    --load="module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse.sock auth-anonymous=1" \
    >"$stack/pulse.log" 2>&1 &
pids+=($!)
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse.sock"
export KELVORAN_TEST_SINK=kelvoran_null
wait_for 20 pactl info
pactl set-default-sink kelvoran_null
# Without a low-latency reader a null sink plays in 2-second blocks.
parec --latency-msec=20 -d kelvoran_null.monitor >/dev/null 2>&1 &
pids+=($!)
sleep 2

# The tests talk to servers on 127.0.0.1 only; keep any proxy of the environment out of it.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy="127.0.0.1,localhost"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
ctest --test-dir build/test --output-on-failure -j2 || status=$?
if ((status != 0)); then
    echo "--- test stack logs ---"
    tail -n 20 "$stack"/*.log || true
fi
exit "$status"
