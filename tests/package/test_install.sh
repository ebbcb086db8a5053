#!/usr/bin/env bash
# The installed program: staged with DESTDIR, started from there with a program folder it cannot write its log
# into, it finds its .cfg and catalogue, logs into the user's state folder and shows its window.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/stage" cmake --install "$build" > "$work/install.log"
program="$work/stage/opt/zorbinka"
for file in zorbinka zorbinka.cfg data; do
    [ -e "$program/$file" ] || { echo "missing $program/$file"; exit 1; }
done
[ "$(readlink "$work/stage/usr/bin/zorbinka")" = /opt/zorbinka/zorbinka ] || { echo "no command link"; exit 1; }
# A log beside the program cannot be written (a folder stands in its place, which stops root too).
mkdir "$program/zorbinka.log"
mkdir -p "$work/run" "$work/state"
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/share" ZORBINKA_RUNTIME_DIR="$work/run"
unset QT_QPA_PLATFORM
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$0/zorbinka" DEMO LOG &
    pid=$!
    shown=no
    for i in $(seq 150); do
        if xdotool search --onlyvisible --name "Зорбинка" > /dev/null 2>&1; then shown=yes; break; fi
        sleep 0.1
    done
    kill -TERM $pid
    wait $pid || true
    [ $shown = yes ] || { echo "the main window did not show"; exit 1; }
' "$program"
log="$work/state/zorbinka/zorbinka.log"
[ -f "$log" ] || { echo "no log in the state folder"; exit 1; }
head -1 "$log" | grep -q "Журнал ведётся в \"$log\"" || { echo "first entry: $(head -1 "$log")"; exit 1; }
grep -q "Запуск программы." "$log"
grep -q "Каталог опытов: $program/data/ (групп: 3)" "$log" || { cat "$log"; exit 1; }
grep -q "Остановка программы." "$log"
echo "1 passed, 0 failed"
