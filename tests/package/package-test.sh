#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from this build tree
# and unpacked into a scratch folder, from where its programs run (show their
# help, or that there is no display; play an MP3 and an AAC loopback station
# into the null output, also from a copy of the tree; the window's media keys,
# mpris-session.sh); its desktop entry, metainfo and manual pages pass their
# validators.
#
#   package-test.sh CPACK CPACK-CONFIG STATION-SERVER SOURCE-DIR
set -euo pipefail

cpack=$1
config=$2
station_server=$3
source_dir=$4
data=$source_dir/tests/data

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }
fail() {
  echo "package-test: FAIL: $*" >&2
  exit 1
}

step "build the package"
"$cpack" --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack failed"
}
shopt -s nullglob
debs=("$work"/out/orvento_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} orvento_*.deb files"
deb=${debs[0]}

step "dependencies, from the binaries"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libqt6widgets6 libqt6dbus6 libcurl4 libmpg123-0 libavcodec libsdl2; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

step "contents"
dpkg-deb --contents "$deb" | awk '{print $6}' >"$work/contents"
# (The programs, desktop entry and metainfo are run and validated below.)
for file in ./usr/share/icons/hicolor/scalable/apps/org.orvento.Orvento.svg \
  ./usr/share/icons/hicolor/16x16/apps/org.orvento.Orvento.png \
  ./usr/share/icons/hicolor/256x256/apps/org.orvento.Orvento.png \
  ./usr/share/orvento/screenshots/playing.png \
  ./usr/share/man/man1/orvento.1.gz ./usr/share/man/man1/orvento-play.1.gz \
  ./usr/share/man/man1/orvento-probe.1.gz ./usr/share/man/man1/orvento-weather.1.gz; do
  grep -qxF "$file" "$work/contents" || fail "the package lacks $file"
done
# The modules in the library folder (lib, or lib/<multiarch> for /usr builds).
for module in orvento_queue_aac.so orvento_queue_sdl.so orvento_queue_pulse.so; do
  grep -qE "^\./usr/lib/([^/]+/)?orvento/$module\$" "$work/contents" ||
    fail "the package lacks $module in its library folder"
done
if grep -q 'station-server' "$work/contents"; then
  fail "the package holds the station server, a test tool"
fi

step "unpack"
dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr

step "--help"
"$usr/bin/orvento-play" --help >"$work/help" 2>&1 || fail "orvento-play --help failed"
grep -q '^usage: orvento-play URL' "$work/help" || fail "orvento-play --help: $(cat "$work/help")"
"$usr/bin/orvento-probe" --help >"$work/help" || fail "orvento-probe --help failed"
grep -q '^usage: orvento-probe' "$work/help" || fail "orvento-probe --help: $(cat "$work/help")"
"$usr/bin/orvento-weather" --help >"$work/help" || fail "orvento-weather --help failed"
grep -q '^usage: orvento-weather ICAO' "$work/help" || fail "orvento-weather --help: $(cat "$work/help")"
# Without a display, orvento says so in one line and ends with status 1.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/orvento" 2>"$work/help" || status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <"$work/help")" -eq 1 ] && grep -q '^orvento: no display' "$work/help" ||
  fail "orvento without a display: status $status, $(cat "$work/help")"

# play BIN FILE: serves FILE as a station once and plays it into nothing.
play() {
  local out url status=0
  exec {out}< <(exec "$station_server" "$2")
  server_pid=$!
  read -r -u "$out" url
  timeout 60 "$1" "$url" --null >"$work/play.out" 2>"$work/play.err" || status=$?
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null || true
  server_pid=
  exec {out}<&-
  cat "$work/play.err"
  [ "$status" -eq 0 ] || fail "$1 $url --null: exit status $status"
  grep -qx 'orvento-play: playing' "$work/play.err" || fail "$1 did not play $url"
  grep -qx 'orvento-play: ended' "$work/play.err" || fail "$1 did not end $url"
}

step "play MP3 and AAC stations into the null output"
play "$usr/bin/orvento-play" "$data/mpeg2_l3.mp3"
play "$usr/bin/orvento-play" "$data/adts_lc.aac"

step "the same from a copy of the unpacked tree"
cp -a "$usr" "$work/copy"
rm -rf "$work/root"
play "$work/copy/bin/orvento-play" "$data/adts_lc.aac"

step "the window's media keys"
dbus-run-session -- "$source_dir/tests/app/mpris-session.sh" "$work/copy/bin/orvento" \
  "$station_server"

step "desktop entry, metainfo, icons and manual pages"
share=$work/copy/share
desktop-file-validate "$share/applications/org.orvento.Orvento.desktop"
echo "desktop-file-validate: clean"
appstreamcli validate --no-net "$share/metainfo/org.orvento.Orvento.metainfo.xml"
# The tree as a whole: the metainfo with its desktop entry and icon.
appstreamcli validate-tree --no-net "$work/copy" | tee "$work/tree"
grep -q 'org.orvento.Orvento.metainfo.xml' "$work/tree" || fail "validate-tree found no metainfo"
grep -q "<image type=\"source\">http" "$share/metainfo/org.orvento.Orvento.metainfo.xml" ||
  fail "the metainfo names no screenshot"
for page in "$share"/man/man1/*.1.gz; do
  mandoc -T lint -W warning "$page" || fail "mandoc finds fault with $page"
done

step "package test passed"
