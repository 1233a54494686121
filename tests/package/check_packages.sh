#!/bin/sh
# Each package holds its own programs and nothing else, depends on what they link and on nothing
# of the desktop when they need none, and the bridge's scripts enable, restart, stop and purge.
# Usage: check_packages.sh FOLDER (the .deb files of make package)
set -eu
dir=$1 failed=0
fail() { echo "FAIL: $*"; failed=1; }
deb() { ls "$dir"/"$1"_*.deb; }

# package | the files it installs outside /usr/share/doc and lintian (sorted) | libraries it must and must not need
while IFS='|' read -r pkg files needs; do
    got=$(dpkg-deb -c "$(deb "$pkg")" | awk '$1 !~ /^d/ {print $6}' | grep -v '^./usr/share/\(doc\|lintian\)/' | sort | tr '\n' ' ')
    [ "$got" = "$files" ] || fail "$pkg holds: $got"
    depends=$(dpkg-deb -f "$(deb "$pkg")" Depends)
    for n in $needs; do
        case $n in
        !*) case "$depends" in *"${n#!}"*) fail "$pkg depends on ${n#!}: $depends" ;; esac ;;
        *) case "$depends" in *"$n"*) ;; *) fail "$pkg does not depend on $n: $depends" ;; esac ;;
        esac
    done
done <<'TABLE'
kelmora|./usr/bin/kelmora ./usr/bin/kelmora-compat ./usr/libexec/kelmora/kelmora-pdf ./usr/share/applications/kelmora.desktop ./usr/share/icons/hicolor/128x128/apps/kelmora.png ./usr/share/icons/hicolor/256x256/apps/kelmora.png ./usr/share/icons/hicolor/48x48/apps/kelmora.png ./usr/share/icons/hicolor/scalable/apps/kelmora.svg ./usr/share/man/man1/kelmora-compat.1.gz ./usr/share/man/man1/kelmora.1.gz |libqt6widgets6 libqt6printsupport6 libqt6serialport6 qt6-qpa-plugins libmosquitto1
kelmora-bridge|./etc/kelmora/bridge.ini ./usr/bin/kelmora-bridge ./usr/lib/systemd/system/kelmora-bridge.service ./usr/share/man/man1/kelmora-bridge.1.gz |libqt6core6 libqt6serialport6 libmosquitto1 !libqt6gui !libqt6widgets !qt6-qpa
kelmora-cli|./usr/bin/kelmora-cli ./usr/share/man/man1/kelmora-cli.1.gz |libqt6core6 libqt6serialport6 libmosquitto1 !libqt6gui !libqt6widgets !qt6-qpa
kelmora-tools|./usr/bin/kelmora-board ./usr/share/man/man1/kelmora-board.1.gz |libqt6core6 !libqt6serialport !libqt6gui !libmosquitto
TABLE

# The bridge: its example configuration a conffile, Debian's version with a revision, and the
# maintainer scripts of a daemon.
bridge=$(deb kelmora-bridge)
[ "$(dpkg-deb -f "$bridge" Version)" = "2.4.0-1" ] || fail "version $(dpkg-deb -f "$bridge" Version)"
script() { dpkg-deb --ctrl-tarfile "$bridge" | tar -xO "./$1"; }
[ "$(script conffiles)" = "/etc/kelmora/bridge.ini" ] || fail "conffiles: $(script conffiles)"
while IFS='|' read -r name words; do
    script "$name" | grep -q -- "$words" || fail "$name lacks: $words"
done <<'TABLE'
postinst|systemctl --system daemon-reload
postinst|deb-systemd-helper enable 'kelmora-bridge.service'
postinst|_dh_action=restart
prerm|deb-systemd-invoke stop 'kelmora-bridge.service'
postrm|rm -rf /etc/kelmora
postrm|deb-systemd-helper purge 'kelmora-bridge.service'
TABLE
exit $failed
