# Sourced by the test and benchmark scripts: starts and stops a private desktop for the program,
# an X server (Xvfb), a tray host (trayer) and a sound server (PulseAudio) whose only sink is a
# null sink that tests can record from. Every process is remembered by its PID and stopped by it.

stack_pids=()
stack_dir=""

stack_wait_for() { # seconds, command...
    local tries=$(($1 * 10))
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        if ((tries <= 0)); then
            echo "desktop stack: timed out waiting for: $*" >&2
            return 1
        fi
        sleep 0.1
    done
}

start_desktop_stack() {
    stack_dir=$(mktemp -d /tmp/kelvoran-stack.XXXXXX)

    # X server on a free display.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$stack_dir/display" \
        >"$stack_dir/xvfb.log" 2>&1 &
    stack_pids+=($!)
    stack_wait_for 20 test -s "$stack_dir/display"
    export DISPLAY=":$(head -n1 "$stack_dir/display")"
    stack_wait_for 20 xdpyinfo

    # A tray host, so the program's icon has somewhere to go.
    trayer --edge top --align right --widthtype pixel --width 240 --height 24 \
        --SetDockType false >"$stack_dir/trayer.log" 2>&1 &
    stack_pids+=($!)
    stack_wait_for 20 sh -c 'xwininfo -root -tree | grep -q "\"panel\""'

    # A private sound server whose only sink is a null sink.
    export XDG_RUNTIME_DIR="$stack_dir/run"
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
    pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disable-shm=yes \
        --log-target=stderr \
        --load="module-null-sink sink_name=kelvoran_null" \
        --load="module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse.sock auth-anonymous=1" \
        >"$stack_dir/pulse.log" 2>&1 &
    stack_pids+=($!)
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse.sock"
    export KELVORAN_TEST_SINK=kelvoran_null
    stack_wait_for 20 pactl info
    pactl set-default-sink kelvoran_null
    # Without a low-latency reader a null sink plays in 2-second blocks.
    parec --latency-msec=20 -d kelvoran_null.monitor >/dev/null 2>&1 &
    stack_pids+=($!)
    sleep 2
}

stop_desktop_stack() {
    local i
    for ((i = ${#stack_pids[@]} - 1; i >= 0; i--)); do
        kill "${stack_pids[i]}" 2>/dev/null || true
        wait "${stack_pids[i]}" 2>/dev/null || true
    done
    stack_pids=()
    if [[ -n "$stack_dir" ]]; then
        rm -rf "$stack_dir"
    fi
}

show_desktop_stack_logs() {
    echo "--- desktop stack logs ---"
    tail -n 20 "$stack_dir"/*.log || true
}
