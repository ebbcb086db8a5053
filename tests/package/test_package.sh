#!/usr/bin/env bash
# The Debian package: its files, and lintian's verdict where lintian is installed.
set -euo pipefail
build="$1"
cd "$build"
cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb="$(ls -t zorbinka_*.deb | head -1)"
contents="$(dpkg-deb --fsys-tarfile "$deb" | tar -t)"
for file in ./opt/zorbinka/zorbinka ./opt/zorbinka/zorbinka.cfg ./opt/zorbinka/data/ ./usr/bin/zorbinka \
    ./usr/share/applications/org.zorbinka.Zorbinka.desktop ./usr/share/metainfo/org.zorbinka.Zorbinka.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/zorbinka.svg ./usr/share/icons/hicolor/48x48/apps/zorbinka.png \
    ./usr/lib/udev/rules.d/60-zorbinka-sensors.rules; do
    grep -qxF "$file" <<< "$contents" || { echo "the package lacks $file"; exit 1; }
done
grep -q "experiment.txt" <<< "$contents" || { echo "no catalogue in the package"; exit 1; }
dpkg-deb -f "$deb" Recommends | grep -q libhidapi-hidraw0
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6
if command -v lintian > /dev/null; then
    report="$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)"
    echo "$report"
    if grep -q '^E:' <<< "$report"; then echo "lintian reports errors"; exit 1; fi
fi
echo "1 passed, 0 failed"
