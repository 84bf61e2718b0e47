#!/usr/bin/env bash
# The tray of the real orvento program on an X server, with a stand-in tray
# host (StatusNotifierWatcher) on the session bus this runs on, driven as a
# desktop drives it: with "Keep playing when the window is closed" on, a
# click on the tray icon hides the window and the station plays on; MPRIS
# Raise shows it again; the tray's menu stops the station; hidden in the
# tray, SIGTERM still ends the program at once.
#
#   tray-session.sh ORVENTO STATION-SERVER DESKTOP-STAND-IN
set -euo pipefail

orvento=$1
station_server=$2
stand_in=$3

name=org.mpris.MediaPlayer2.orvento
path=/org/mpris/MediaPlayer2
player=org.mpris.MediaPlayer2.Player

work=$(mktemp -d)
server_pid=
desktop_pid=
app_pid=
cleanup() {
  for pid in $app_pid $desktop_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/orvento"
printf '[window]\nkeepPlayingWhenClosed=true\n' >"$XDG_CONFIG_HOME/orvento/orvento.conf"

fail() {
  echo "tray-session: FAIL: $*" >&2
  [ -s "$work/app.log" ] && { echo "--- the program's standard error:" >&2; cat "$work/app.log" >&2; }
  exit 1
}
await() { # await WHAT COMMAND...: until COMMAND succeeds, for up to 20 seconds
  local what=$1 deadline=$((SECONDS + 20))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "waited in vain for $what"
    sleep 0.1
  done
}
get() {
  gdbus call --session --dest "$name" --object-path "$path" \
    --method org.freedesktop.DBus.Properties.Get "$player" "$1"
}
status_is() { [ "$(get PlaybackStatus)" = "(<'$1'>,)" ]; }
audio_heard() { [[ "$(get Position)" =~ ^\(\<int64\ [1-9][0-9]*\>,\)$ ]]; }
logged() { grep -q "$1" "$2"; }
# The window's map state, as the X server has it (the window of the
# program's class: Qt keeps unmapped helper windows of the same name).
window_is() {
  local id
  id=$(xwininfo -root -tree | grep -m1 '("orvento" "Orvento")' | grep -oE '0x[0-9a-f]+') &&
    xwininfo -id "$id" | grep -q "Map State: $1"
}

exec {desktop}< <(exec "$stand_in" --watcher)
desktop_pid=$!
read -r -u "$desktop" ready
[ "$ready" = ready ] || fail "the stand-in desktop did not start"
exec {site}< <(exec "$station_server" --site --burst 40000)
server_pid=$!
read -r -u "$site" base

ORVENTO_CATALOGUE_URL=$base ORVENTO_WEATHER_URL=$base "$orvento" 2>"$work/app.log" &
app_pid=$!
gdbus wait --session --timeout 30 "$name" || fail "$name did not appear on the bus"
# The icon registers with the tray host.
read -r -t 20 -u "$desktop" kind item || fail "no tray icon was registered"
[ "$kind" = item ] || fail "the stand-in said $kind $item"
await "the end of set-up" logged ' adi=' "$work/app.log"
await "the window shown" window_is IsViewable

gdbus call --session --dest "$name" --object-path "$path" --method "$player.Play" >/dev/null
await "audio" audio_heard
# A click on the icon hides the window; the station plays on.
gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
  --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
await "the window hidden" window_is IsUnMapped
status_is Playing || fail "the station stopped with the window hidden"
gdbus call --session --dest "$name" --object-path "$path" \
  --method org.mpris.MediaPlayer2.Raise >/dev/null
await "the window raised" window_is IsViewable
echo "tray-session: hidden and raised while playing"

# The tray's menu stops the station: its first entry, through the menu the
# icon exports (com.canonical.dbusmenu).
menu=$(gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
  --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu)
menu=$(grep -o "'/[^']*'" <<<"$menu" | tr -d "'")
layout=$(gdbus call --session --dest "$item" --object-path "$menu" \
  --method com.canonical.dbusmenu.GetLayout 0 1 '[]')
stop_id=$(grep -oE "\(([0-9]+), \{[^}]*'label': <'S_top'>" <<<"$layout" | grep -oE '^\([0-9]+' | tr -d '(')
[ -n "$stop_id" ] || fail "no Stop in the tray's menu: $layout"
gdbus call --session --dest "$item" --object-path "$menu" \
  --method com.canonical.dbusmenu.Event "$stop_id" clicked '<0>' 0 >/dev/null
await "Stopped after the tray's Stop" status_is Stopped
echo "tray-session: the tray's menu stopped the station"

# Hidden in the tray, a signal ends the program as always.
gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
  --method org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
await "the window hidden" window_is IsUnMapped
started=$SECONDS
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" = 0 ] || fail "exit status $status after SIGTERM"
[ $((SECONDS - started)) -le 2 ] || fail "SIGTERM took $((SECONDS - started)) s"
logged 'SIGTERM: ending' "$work/app.log" || fail "SIGTERM was not said"
echo "tray-session: passed"
