#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: its files, and lintian's verdict where lintian is installed.
set -euo pipefail
build="$1"
cd "$build"
cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb="$(ls -t zorbinka_*.deb | head -1)"
contents="$(dpkg-deb --fsys-tarfile "$deb" | tar -t)"
for file in ./opt/zorbinka/zorbinka ./opt/zorbinka/zorbinka.cfg ./etc/zorbinka/zorbinka.cfg ./opt/zorbinka/data/ \
    ./usr/bin/zorbinka ./usr/share/doc/zorbinka/copyright \
    ./usr/share/applications/org.zorbinka.Zorbinka.desktop ./usr/share/metainfo/org.zorbinka.Zorbinka.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/zorbinka.svg ./usr/share/icons/hicolor/48x48/apps/zorbinka.png \
    ./usr/lib/udev/rules.d/60-zorbinka-sensors.rules; do
    grep -qxF "$file" <<< "$contents" || { echo "the package lacks $file"; exit 1; }
done
grep -q "experiment.txt" <<< "$contents" || { echo "no catalogue in the package"; exit 1; }
dpkg-deb -f "$deb" Recommends | grep -q libhidapi-hidraw0
dpkg-deb -f "$deb" Recommends | grep -q qt6-wayland
# Settings kept by upgrades: the shipped file is a configuration file, the program's folder links to it.
control="$(mktemp -d)"
trap 'rm -rf "$control"' EXIT
dpkg-deb -e "$deb" "$control"
grep -qxF /etc/zorbinka/zorbinka.cfg "$control/conffiles" || { echo "no conffile"; exit 1; }
grep -qF './opt/zorbinka/zorbinka.cfg -> /etc/zorbinka/zorbinka.cfg' <<< "$(dpkg-deb -c "$deb")" || { echo "no settings link"; exit 1; }
# Free: the licence in the copyright file and the metadata, and no GPL-2-only library linked.
packaged() { dpkg-deb --fsys-tarfile "$deb" | tar -xO "$1"; }
grep -q '^License: GPL-3+$' <<< "$(packaged ./usr/share/doc/zorbinka/copyright)"
grep -q '<project_license>GPL-3.0-or-later</project_license>' <<< \
    "$(packaged ./usr/share/metainfo/org.zorbinka.Zorbinka.metainfo.xml)"
! dpkg-deb -f "$deb" Depends | grep -q emf2svg || { echo "linked to libemf2svg (GPL-2.0-only)"; exit 1; }
# A modem manager is told to leave alone only the sensors whose vendor is known, never every ttyACM device.
rules="$(packaged ./usr/lib/udev/rules.d/60-zorbinka-sensors.rules)"
! grep ID_MM_DEVICE_IGNORE <<< "$rules" | grep -qv idVendor || { echo "a modem manager rule for any device"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6
if command -v lintian > /dev/null; then
    report="$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)"
    echo "$report"
    if grep -q '^E:' <<< "$report"; then echo "lintian reports errors"; exit 1; fi
fi
echo "1 passed, 0 failed"
