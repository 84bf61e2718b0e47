#!/usr/bin/env bash
# The media keys of the real orvento program, driven with gdbus as a desktop
# drives them, on the session bus this runs on: the window (offscreen or on an
# X server), set up from the local station site, plays into the sound device
# (SDL's dummy driver in the tests). Also run on the packaged program.
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
# Settings of its own, never the user's.
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache

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
presses() { grep -c ' txt:' "$work/app.log" || true; }
# await WHAT COMMAND...: until COMMAND succeeds, for up to 20 seconds.
await() {
  local what=$1 deadline=$((SECONDS + 20))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "waited in vain for $what"
    sleep 0.1
  done
}
status_is() { [ "$(get "$player" PlaybackStatus)" = "(<'$1'>,)" ]; }
audio_heard() { [[ "$(get "$player" Position)" =~ ^\(\<int64\ [1-9][0-9]*\>,\)$ ]]; }
# The stopped player's queue and sound device threads go up to a quarter
# second after the stop is reported; SDL's dummy driver has only one device.
# grep reads the files itself: under pipefail, `cat | grep -q` fails when
# grep's early exit kills cat, and a thread still there would go unseen.
torn_down() { ! grep -qsE '^(orvento-queue|SDLAudio)' /proc/"$app_pid"/task/*/comm; }
logged() { grep -q "$1" "$2"; }

# The local station site on 127.0.0.1; set-up puts its first station in the field.
exec {site}< <(exec "$station_server" --site --burst 40000)
server_pid=$!
read -r -u "$site" base
[ -n "$base" ] || fail "the station server gave no URL"

ORVENTO_CATALOGUE_URL=$base ORVENTO_WEATHER_URL=$base ORVENTO_DIRECTORY_URL=$base "$orvento" 2>"$work/app.log" &
app_pid=$!
gdbus wait --session --timeout 30 "$name" || fail "$name did not appear on the bus"
stdbuf -oL gdbus monitor --session --dest "$name" --object-path "$path" >"$work/signals" &
monitor_pid=$!
# The monitor says whose the name is once its match rule is in place.
await "gdbus monitor" logged "is owned by" "$work/signals"

expect Identity "$(get "$root" Identity)" "(<'Orvento'>,)"
expect DesktopEntry "$(get "$root" DesktopEntry)" "(<'org.orvento.Orvento'>,)"
expect PlaybackStatus "$(get "$player" PlaybackStatus)" "(<'Stopped'>,)"
# Set-up ends with keeping the screen awake (or saying why not), the first
# station it listed in the fields.
await "the end of set-up" logged ' screen \(not \)\?kept awake' "$work/app.log"
station=$(grep -o ' adi=[^,]*,url=.*' "$work/app.log" | head -1)
title=${station#* adi=}
title=${title%%,url=*}
url=${station#*,url=}
[ -n "$url" ] || fail "set-up listed no station"
expect CanPlay "$(get "$player" CanPlay)" "(<true>,)"
metadata=$(get "$player" Metadata)
[[ "$metadata" == *"'xesam:url': <'$url'>"* && "$metadata" == *"'xesam:title': <'$title'>"* ]] ||
  fail "Metadata $metadata does not name $title at $url"

# The media keys act as the play/stop button: while stopped, Pause and Stop
# do nothing and Play and PlayPause start; while playing, Play does nothing
# and Stop, PlayPause and Pause stop (a live stream has no pause).
call "$player.Pause"
call "$player.Stop"
expect "presses after Pause and Stop while stopped" "$(presses)" 0
for keys in "PlayPause Stop" "Play PlayPause" "Play Pause"; do
  read -r start stop <<<"$keys"
  call "$player.$start"
  await "audio after $start" audio_heard
  before=$(presses)
  call "$player.Play"
  expect "presses after Play while playing" "$(presses)" "$before"
  call "$player.$stop"
  await "Stopped after $stop" status_is Stopped
  await "the stopped player's end" torn_down
done

# The desktop heard every change.
announced() {
  grep "PropertiesChanged ('$player'" "$work/signals" |
    grep -o "'PlaybackStatus': <'[A-Za-z]*'>" | grep -o "<'[A-Za-z]*'>" | tr -d "<>'" |
    paste -sd' ' || true
}
every="Playing Stopped Playing Stopped Playing Stopped"
# The last signal may reach the monitor a little after the property reads Stopped.
await "every PlaybackStatus announced" eval '[ "$(announced)" = "$every" ]'
kill "$monitor_pid"
wait "$monitor_pid" 2>/dev/null || true
monitor_pid=
expect "announced PlaybackStatus" "$(announced)" "$every"

# Quit ends the program as closing its window does.
call "$root.Quit"
status=0
wait "$app_pid" || status=$?
app_pid=
expect "exit status after Quit" "$status" 0
echo "mpris-session: passed"
