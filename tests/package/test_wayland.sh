#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program on a Wayland desktop with no X: weston's headless compositor, the toolkit's wayland platform. A
# window test measures with the demo sensors there, then the program itself starts with them, runs a few
# seconds and ends with a clean log. Skipped (77) where weston or the toolkit's wayland plugin is missing.
set -euo pipefail
build="$1"
command -v weston > /dev/null || { echo "weston is not installed: skipped"; exit 77; }
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so > /dev/null 2>&1 ||
    { echo "qt6-wayland is not installed: skipped"; exit 77; }
work="$(mktemp -d)"
chmod 700 "$work"
weston_pid=
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill -KILL "$program_pid" 2> /dev/null || true
    [ -n "$weston_pid" ] && kill -TERM "$weston_pid" 2> /dev/null || true
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work" WAYLAND_DISPLAY=zorbinka-test QT_QPA_PLATFORM=wayland
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --width=1280 --height=800 --idle-time=0 \
    > "$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do [ -S "$work/$WAYLAND_DISPLAY" ] && break; sleep 0.1; done
[ -S "$work/$WAYLAND_DISPLAY" ] || { cat "$work/weston.log"; echo "weston did not start"; exit 1; }

# A demo measurement in every sample experiment, in a real window on the compositor.
"$build/tests/test_mainfm" --gtest_filter='MainWindowTest.EverySampleExperimentReadsWithinItsAxes' \
    > "$work/test.log" 2>&1 || { cat "$work/test.log"; echo "the window test failed under Wayland"; exit 1; }

# The program itself, in a folder of its own with its settings and the catalogue.
mkdir -p "$work/program" "$work/home"
cp "$build/zorbinka" "$build/zorbinka.cfg" "$work/program/"
ln -s "$build/data" "$work/program/data"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_STATE_HOME="$work/home/state" \
    XDG_CONFIG_HOME="$work/home/config" ZORBINKA_RUNTIME_DIR="$work"
"$work/program/zorbinka" DEMO LOG > "$work/program.out" 2>&1 &
program_pid=$!
log="$work/program/zorbinka.log"
for _ in $(seq 200); do grep -q "Запуск программы." "$log" 2> /dev/null && break; sleep 0.1; done
grep -q "Запуск программы." "$log" 2> /dev/null || { cat "$work/program.out"; echo "the program did not start"; exit 1; }
sleep 3 # running on the compositor for a while, as a user's session would
kill -TERM "$program_pid"
wait "$program_pid" || { cat "$work/program.out"; echo "the program ended with an error"; exit 1; }
program_pid=
grep -q "Остановка программы." "$log" || { cat "$log"; echo "no clean stop in the log"; exit 1; }
if grep -Eiq "could not|failed to|ошибка" "$work/program.out" "$log"; then
    cat "$work/program.out" "$log"
    echo "errors under Wayland"
    exit 1
fi
echo "1 passed, 0 failed"
