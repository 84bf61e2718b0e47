#!/usr/bin/env bash
# The media keys of the real orvento program, driven with gdbus as a desktop
# drives them: the window (offscreen, or on an X server) with the real engine
# set up from the local station site plays its first station into the sound
# device (SDL's dummy driver in the tests), on the session bus this script
# runs on. ctest starts it under dbus-run-session; the package test starts it
# on the packaged program.
#
#   mpris-session.sh ORVENTO STATION-SERVER
set -euo pipefail

orvento=$1
station_server=$2

name=org.mpris.MediaPlayer2.orvento
path=/org/mpris/MediaPlayer2
player=org.mpris.MediaPlayer2.Player
root=org.mpris.MediaPlayer2

work=$(mktemp -d)
server_pid=
monitor_pid=
app_pid=
cleanup() {
  for pid in $app_pid $monitor_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "mpris-session: FAIL: $*" >&2
  if [ -s "$work/app.log" ]; then
    echo "--- the program's standard error:" >&2
    cat "$work/app.log" >&2
  fi
  exit 1
}

get() {
  gdbus call --session --dest "$name" --object-path "$path" \
    --method org.freedesktop.DBus.Properties.Get "$1" "$2"
}
call() {
  gdbus call --session --dest "$name" --object-path "$path" --method "$1" >/dev/null
}
expect() { # expect WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1 is $2, expected $3"
  echo "mpris-session: $1 $2"
}
presses() {
  grep -c ' txt:' "$work/app.log" || true
}
# Waits up to 20 seconds for PlaybackStatus to read $1.
await_status() {
  local deadline=$((SECONDS + 20)) status
  while status=$(get "$player" PlaybackStatus) && [ "$status" != "(<'$1'>,)" ]; do
    [ $SECONDS -lt $deadline ] || fail "PlaybackStatus stayed $status, expected $1"
    sleep 0.1
  done
  echo "mpris-session: PlaybackStatus $status"
}
# Waits up to 20 seconds for audio to be heard: Position above 0.
await_audio() {
  local deadline=$((SECONDS + 20)) position
  until position=$(get "$player" Position) && [[ "$position" =~ ^\(\<int64\ ([0-9]+)\>,\)$ ]] &&
    [ "${BASH_REMATCH[1]}" -gt 0 ]; do
    [ $SECONDS -lt $deadline ] || fail "Position stayed $position while playing"
    sleep 0.1
  done
  echo "mpris-session: Position $position"
}
# Waits up to 20 seconds for the stopped player's output queue and sound
# device to be gone (their threads, "orvento-queue" and SDL's "SDLAudio...").
# A player closes its device as it tears down, up to one poll (a quarter
# second) after it reported the stop, and SDL's dummy driver has only one
# device: a start before then finds it "already open".
await_teardown() {
  local deadline=$((SECONDS + 20))
  # grep reads the files itself: under pipefail, `cat | grep -q` fails when
  # grep's early exit kills cat, and a thread still there would go unseen.
  while grep -qsE '^(orvento-queue|SDLAudio)' /proc/"$app_pid"/task/*/comm; do
    [ $SECONDS -lt $deadline ] || fail "the stopped player's output queue is still there"
    sleep 0.1
  done
}

# The local station site on 127.0.0.1; set-up puts its first station in the field.
exec {site}< <(exec "$station_server" --site --burst 40000)
server_pid=$!
read -r -u "$site" base
[ -n "$base" ] || fail "the station server gave no URL"

ORVENTO_CATALOGUE_URL=$base ORVENTO_WEATHER_URL=$base "$orvento" 2>"$work/app.log" &
app_pid=$!
gdbus wait --session --timeout 30 "$name" || fail "$name did not appear on the bus"
stdbuf -oL gdbus monitor --session --dest "$name" --object-path "$path" >"$work/signals" &
monitor_pid=$!
# The monitor says whose the name is once its match rule is in place.
deadline=$((SECONDS + 20))
until grep -q "is owned by" "$work/signals"; do
  [ $SECONDS -lt $deadline ] || fail "gdbus monitor did not start"
  sleep 0.1
done

expect Identity "$(get "$root" Identity)" "(<'Orvento'>,)"
expect DesktopEntry "$(get "$root" DesktopEntry)" "(<'org.orvento.Orvento'>,)"
expect CanPlay "$(get "$player" CanPlay)" "(<true>,)"
expect PlaybackStatus "$(get "$player" PlaybackStatus)" "(<'Stopped'>,)"
# Set-up ends with keeping the screen awake (or saying why not); it put the
# first station it listed in the field.
deadline=$((SECONDS + 20))
until grep -q ' screen \(not \)\?kept awake' "$work/app.log"; do
  [ $SECONDS -lt $deadline ] || fail "set-up did not end"
  sleep 0.1
done
url=$(grep -o ' adi=[^,]*,url=.*' "$work/app.log" | head -1 | sed 's/.*,url=//')
[ -n "$url" ] || fail "set-up listed no station"
metadata=$(get "$player" Metadata)
case "$metadata" in
  *"'xesam:url': <'$url'>"*"'mpris:trackid'"* | *"'mpris:trackid'"*"'xesam:url': <'$url'>"*) ;;
  *) fail "Metadata $metadata does not name $url" ;;
esac
echo "mpris-session: Metadata $metadata"

# The media keys: PlayPause starts and stops, Play and Stop do nothing where
# the button would not be pressed, Pause stops.
call "$player.PlayPause"
await_status Playing
await_audio
before=$(presses)
call "$player.Play"
expect "presses after Play while playing" "$(presses)" "$before"
call "$player.PlayPause"
await_status Stopped
call "$player.Stop"
expect "presses after Stop while stopped" "$(presses)" "$((before + 1))"
await_teardown
call "$player.Play"
await_status Playing
await_audio
call "$player.Pause"
await_status Stopped

# The desktop heard every change (the last signal may reach the monitor a
# little after the property reads Stopped).
announced() {
  grep "PropertiesChanged ('$player'" "$work/signals" |
    grep -o "'PlaybackStatus': <'[A-Za-z]*'>" | grep -o "<'[A-Za-z]*'>" | tr -d "<>'" |
    paste -sd' ' || true
}
deadline=$((SECONDS + 20))
until [ "$(announced)" = "Playing Stopped Playing Stopped" ] || [ $SECONDS -ge $deadline ]; do
  sleep 0.1
done
kill "$monitor_pid"
wait "$monitor_pid" 2>/dev/null || true
monitor_pid=
expect "announced PlaybackStatus" "$(announced)" "Playing Stopped Playing Stopped"

# Quit ends the program as closing its window does.
call "$root.Quit"
status=0
wait "$app_pid" || status=$?
app_pid=
expect "exit status after Quit" "$status" 0
echo "mpris-session: passed"
