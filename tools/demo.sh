#!/usr/bin/env bash
# The demo: a store simulator with a few sample tracks, a throw-away settings hive
# and request files, and the program downloading them. With a display the window
# stays until you close it; without one it runs on a virtual display, a screenshot
# is saved, and the window is closed with a click once the tracks are in.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/$build"
demo=$(mktemp -d "${TMPDIR:-/tmp}/quavero-demo-XXXXXX")
mkdir -p "$demo/music" "$demo/requests" "$demo/queues" "$demo/run"
chmod 700 "$demo/run"

"$bin/qvr-store-sim" --port 0 \
  --track "night:Night Drive:3000000" \
  --track "rain:Rain On Tin:2200000" \
  --track "tide:Low Tide:1800000" \
  --requests-dir "$demo/requests" > "$demo/store.out" &
store=$!
trap 'kill $store 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q '^listening ' "$demo/store.out" && break; sleep 0.1; done
host=$(sed -n 's/^listening //p' "$demo/store.out")
[ -n "$host" ] || { echo "the store simulator did not start" >&2; exit 1; }

"$here/tools/write-hive.sh" "$demo/registry.reg" "$bin" "$demo/music" "$demo/queues"

# One request waits in the raw queue, as if left from an earlier run; the last one
# comes from a second start while the window runs.
printf 'track=rain\r\n' > "$demo/queues/rawqueue.txt"

export QVR_REGISTRY="$demo/registry.reg" QVR_STORE_HOST="$host" XDG_RUNTIME_DIR="$demo/run"
"$bin/quavero" /install
echo "Store simulator on $host; settings in $QVR_REGISTRY"

expected=3
downloaded() { find "$demo/music" -name '*.mp3' -size +1000k | wc -l; }

# Starts the window with the first request, then opens the last request file as a
# user would while it runs: that second start hands it over and ends.
hand_over_when_up() { # bin demo
  for _ in $(seq 300); do [ -s "$2/run/quavero/QVRMDL" ] && break; sleep 0.05; done
  "$1/quavero" "$2/requests/tide.qvr"
}

if [ -n "${DISPLAY:-}" ]; then
  echo "Close the Quavero window when you have seen enough."
  "$bin/quavero" "$demo/requests/night.qvr" &
  app=$!
  hand_over_when_up "$bin" "$demo"
  wait $app
else
  # xvfb-run goes through /bin/sh, which drops exported shell functions.
  xvfb-run -a -s "-screen 0 1024x300x24" bash -c "$(declare -f hand_over_when_up)"'
    "$0/quavero" "$1/requests/night.qvr" &
    app=$!
    hand_over_when_up "$0" "$1"
    for _ in $(seq 600); do
      [ "$(find "$1/music" -name "*.mp3" | wc -l)" -ge 3 ] && [ ! -s "$1/queues/downloadqueue.txt" ] && break
      sleep 0.1
    done
    "$0/qvr-screenshot" "$1/screenshot.png" || true
    # Close the window with its own close button, as a user would.
    window=$(xdotool search --sync --onlyvisible --name "^Quavero$" | head -n 1)
    xdotool mousemove --window "$window" 761 8 click 1 || kill "$app"
    wait "$app"
  ' "$bin" "$demo"
  echo "Screenshot: $demo/screenshot.png"
fi

echo
echo "Downloaded tracks in $demo/music:"
ls -l "$demo/music"
[ "$(downloaded)" -ge "$expected" ] || { echo "not every sample track arrived" >&2; exit 1; }
