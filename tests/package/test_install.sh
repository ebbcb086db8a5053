#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed program: staged with DESTDIR, started from there with a program folder it cannot write its log
# into, it finds its .cfg and catalogue, logs into the user's state folder and shows its window.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/stage" cmake --install "$build" > "$work/install.log"
program="$work/stage/opt/zorbinka"
for file in zorbinka data; do
    [ -e "$program/$file" ] || { echo "missing $program/$file"; exit 1; }
done
# The settings are the system's configuration file; the program reads them through the link beside it, here
# pointed into the stage.
[ "$(readlink "$program/zorbinka.cfg")" = /etc/zorbinka/zorbinka.cfg ] || { echo "no settings link"; exit 1; }
[ -f "$work/stage/etc/zorbinka/zorbinka.cfg" ] || { echo "no /etc/zorbinka/zorbinka.cfg"; exit 1; }
ln -sfn "$work/stage/etc/zorbinka/zorbinka.cfg" "$program/zorbinka.cfg"
[ "$(readlink "$work/stage/usr/bin/zorbinka")" = /opt/zorbinka/zorbinka ] || { echo "no command link"; exit 1; }
# An ordinary user (nobody) runs it: the program's folder belongs to root and cannot be written.
mkdir -p "$work/run" "$work/state" "$work/home"
chmod 755 "$work"
chmod 777 "$work/run" "$work/state" "$work/home"
chmod 700 "$work/run"
chown 65534:65534 "$work/run"
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/home/share" ZORBINKA_RUNTIME_DIR="$work/run" HOME="$work/home"
# The user's own settings override the shipped ones, and the log says so.
export XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$XDG_CONFIG_HOME/zorbinka"
printf 'UseFTDI=0\r\n' > "$XDG_CONFIG_HOME/zorbinka/zorbinka.cfg"
chmod -R a+rX "$work/home/config"
unset QT_QPA_PLATFORM
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
timeout 120 "${as_user[@]}" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
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
head -1 "$log" | grep -q "Каталог опытов: $program/data/ (групп: 3)" || { cat "$log"; exit 1; }
grep -q "Остановка программы." "$log"
grep -qF "Настройки пользователя из \"$XDG_CONFIG_HOME/zorbinka/zorbinka.cfg\": UseFTDI=0" "$log" || { cat "$log"; exit 1; }
echo "1 passed, 0 failed"
