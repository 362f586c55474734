#!/bin/sh
# Checks the installation of a built tree: installs it into a staging folder, checks that every
# file a desktop program needs is there, validates the desktop entry, the AppStream metadata and
# the manual page, then builds the Debian package and checks what it holds.
# Usage: scripts/check_install.sh [build-dir]
# With TALLYNET_CHECK_APT=1 (as root) the package is also installed with apt-get and removed.
set -eu
cd "$(dirname "$0")/.."
build="${1:-build}"
appid=org.tallynet.Tallynet
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT INT TERM

checks=0
fail() { echo "check_install: FAILED: $*" >&2; exit 1; }
ok() { checks=$((checks + 1)); }

# ---- staged install ----
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"
for f in bin/tallynet \
         libexec/tallynet/tallynet-capture \
         share/applications/$appid.desktop \
         share/metainfo/$appid.metainfo.xml \
         share/icons/hicolor/scalable/apps/tallynet.svg \
         share/tallynet/readme.doc \
         share/man/man1/tallynet.1.gz; do
    [ -f "$root/$f" ] || fail "the staged install lacks $f"
    ok
done
[ -x "$root/bin/tallynet" ] || fail "bin/tallynet is not executable"
[ -x "$root/libexec/tallynet/tallynet-capture" ] || fail "tallynet-capture is not executable"
for size in 16 22 24 32 48 64 128 256; do
    png="$root/share/icons/hicolor/${size}x${size}/apps/tallynet.png"
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    # Width and height of a PNG: big-endian words at bytes 16 and 20 of its header.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dims"
    ok
done

# ---- validators ----
desktop-file-validate "$root/share/applications/$appid.desktop" || fail "desktop entry"
ok
appstreamcli validate --pedantic --no-net "$root/share/metainfo/$appid.metainfo.xml" >/dev/null ||
    { appstreamcli validate --pedantic --no-net "$root/share/metainfo/$appid.metainfo.xml"; fail "metainfo"; }
ok
grep -q "<release version=\"$version\"" "$root/share/metainfo/$appid.metainfo.xml" ||
    fail "the metainfo names no release $version"
ok
man_warnings=$(zcat "$root/share/man/man1/tallynet.1.gz" | groff -man -ww -z 2>&1)
[ -z "$man_warnings" ] || fail "manual page: $man_warnings"
ok
[ "$(zcat "$root/share/man/man1/tallynet.1.gz" | head -c 4)" = ".TH " ] || fail "manual page"
ok

# ---- Debian package ----
rm -f "$build"/tallynet_*.deb
(cd "$build" && cpack -G DEB >"$stage/cpack.log" 2>&1) || { cat "$stage/cpack.log"; fail "cpack"; }
deb="$build/tallynet_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb"
ok
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tallynet \
         ./usr/libexec/tallynet/tallynet-capture \
         ./usr/share/applications/$appid.desktop \
         ./usr/share/metainfo/$appid.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/tallynet.svg \
         ./usr/share/icons/hicolor/16x16/apps/tallynet.png \
         ./usr/share/icons/hicolor/256x256/apps/tallynet.png \
         ./usr/share/tallynet/readme.doc \
         ./usr/share/man/man1/tallynet.1.gz \
         ./usr/share/doc/tallynet/copyright \
         ./usr/share/doc/tallynet/changelog.gz; do
    echo "$contents" | grep -qx "$f" || fail "the package lacks $f"
    ok
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in adduser libcap2-bin libc6 libpcap0.8 libqt6widgets6 libnl-route-3-200; do
    echo "$depends" | grep -q "$lib" || fail "Depends has no $lib (from the linked libraries): $depends"
    ok
done
ctl="$stage/control"
dpkg-deb -e "$deb" "$ctl"
[ -x "$ctl/postinst" ] || fail "the package has no executable postinst"
grep -q '^capabilities="cap_net_raw,cap_net_admin,cap_setpcap+p"$' "$ctl/postinst" &&
    grep -q '^program="/usr/libexec/tallynet/tallynet-capture"$' "$ctl/postinst" ||
    fail "postinst grants nothing to the capture helper"
grep -q 'dpkg-statoverride --update --add root "$group" 0750 "$program"' "$ctl/postinst" &&
    grep -q 'addgroup --quiet --system "$group"' "$ctl/postinst" ||
    fail "postinst leaves the helper runnable by everyone"
! grep -q '/usr/bin/tallynet' "$ctl/postinst" || fail "postinst grants the window program"
[ -x "$ctl/postrm" ] && grep -q 'dpkg-statoverride --remove "$program"' "$ctl/postrm" ||
    fail "postrm keeps the helper's ownership record after a purge"
sh -n "$ctl/postinst" && sh -n "$ctl/postrm" || fail "maintainer script syntax"
ok

# Debian's own checks of the package: no error and no warning.
if command -v lintian >/dev/null 2>&1; then
    lint=$(lintian --fail-on error,warning "$deb" 2>&1) ||
        fail "lintian: $(echo "$lint" | grep -v 'running with root privileges')"
    ok
fi

if [ "${TALLYNET_CHECK_APT:-0}" = 1 ]; then
    if dpkg-query -W -f='${Status}' tallynet 2>/dev/null | grep -q "ok installed"; then
        fail "tallynet is installed already; not touching it"
    fi
    apt-get install -y -qq "$(realpath "$deb")" >/dev/null || fail "apt-get install"
    helper=/usr/libexec/tallynet/tallynet-capture
    caps=$(getcap "$helper")
    for c in cap_net_raw cap_net_admin cap_setpcap; do echo "$caps" | grep -q "$c" || caps=""; done
    echo "$caps" | grep -q '=p$' ||
        { apt-get remove -y -qq tallynet >/dev/null; fail "no capabilities after install"; }
    [ "$(stat -c '%U:%G %a' "$helper")" = "root:tallynet 750" ] ||
        { apt-get remove -y -qq tallynet >/dev/null; fail "the helper is not root:tallynet 0750"; }
    [ -z "$(getcap /usr/bin/tallynet)" ] ||
        { apt-get remove -y -qq tallynet >/dev/null; fail "the window program has capabilities"; }
    apt-get remove -y -qq tallynet >/dev/null || fail "apt-get remove"
    [ ! -e /usr/bin/tallynet ] && [ ! -e /usr/share/tallynet ] && [ ! -e "$helper" ] ||
        fail "files left after removal"
    apt-get purge -y -qq tallynet >/dev/null || fail "apt-get purge"
    ! dpkg-statoverride --list "$helper" >/dev/null || fail "an ownership record after purge"
    ok
fi

echo "check_install: $checks checks of the install tree and the package succeeded ($(du -k "$deb" | cut -f1) KiB package)"
