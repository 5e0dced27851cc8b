#!/usr/bin/env bash
# The demo: a store simulator with a few sample tracks and a newer build of the
# program, a throw-away settings hive and request files, and the program, run from
# an install folder that holds nothing but its one executable. At its start it
# finds the newer build, asks to update, replaces itself and hands over to the new
# version, which downloads the tracks. With a display you answer the boxes and the
# window stays until you close it; without one it runs on a virtual display, the
# boxes are answered with the keyboard, a screenshot is saved, and the window is
# closed with a click once the tracks are in.
set -euo pipefail

build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/$build"
demo=$(mktemp -d "${TMPDIR:-/tmp}/quavero-demo-XXXXXX")
install="$demo/install"
mkdir -p "$demo/music" "$demo/requests" "$demo/queues" "$demo/run" "$install"
chmod 700 "$demo/run"

# The program as a user has it, and the same program stamped as the next release and
# signed with the key this build trusts; the store publishes the signature beside it.
key="$bin/update-signing/private.pem"
[ -f "$key" ] || { echo "no $key: the demo needs a build that trusts a key of its own (no QVR_UPDATE_PUBLIC_KEY)" >&2; exit 1; }
cp "$bin/quavero" "$install/quavero"
"$here/tools/stamp-version" "$bin/quavero" "$demo/quavero-2.1.0.1" 2.1.0.1 "$key"

"$bin/qvr-store-sim" --port 0 \
  --track "night:Night Drive:3000000" \
  --track "rain:Rain On Tin:2200000" \
  --track "tide:Low Tide:1800000" \
  --requests-dir "$demo/requests" \
  --version-text 2.1.0.1 --version-file "quavero=$demo/quavero-2.1.0.1" > "$demo/store.out" &
store=$!
trap 'kill $store 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q '^listening ' "$demo/store.out" && break; sleep 0.1; done
host=$(sed -n 's/^listening //p' "$demo/store.out")
[ -n "$host" ] || { echo "the store simulator did not start" >&2; exit 1; }

"$here/tools/write-hive.sh" "$demo/registry.reg" "$install" "$demo/music" "$demo/queues"

# One request waits in the raw queue, as if left from an earlier run; the last one
# comes from a second start while the window runs.
printf 'track=rain\r\n' > "$demo/queues/rawqueue.txt"

export QVR_REGISTRY="$demo/registry.reg" QVR_STORE_HOST="$host" XDG_RUNTIME_DIR="$demo/run" XDG_CACHE_HOME="$demo/cache"
"$install/quavero" /install
echo "Store simulator on $host, publishing version 2.1.0.1; settings in $QVR_REGISTRY"

expected=3
downloaded() { find "$demo/music" -name '*.mp3' -size +1000k | wc -l; }

# The running instance of the program in the install folder, if any.
instance() {
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$1/quavero" ] && { echo "${p#/proc/}"; return; }
  done
  return 0
}

# Opens the last request file as a user would once a window runs (it holds the
# download gates then): that second start hands the request over and ends.
hand_over_when_up() { # install demo
  for _ in $(seq 600); do [ -e "$2/run/quavero/QVRDownload" ] && break; sleep 0.1; done
  "$1/quavero" "$2/requests/tide.qvr"
}

if [ -n "${DISPLAY:-}" ]; then
  echo "Answer Yes to the update question and OK to the notice; close the Quavero window when you have seen enough."
  "$install/quavero" "$demo/requests/night.qvr" &
  app=$!
  hand_over_when_up "$install" "$demo"
  wait $app
  # After an update the window is the new version's, which is not our child.
  while [ -n "$(instance "$install")" ]; do sleep 0.5; done
else
  # The virtual display, the places on it and the screenshot in device pixels, at
  # the scale QT_SCALE_FACTOR gives the window (QT_SCALE_FACTOR=2 make demo).
  px() { awk -v scale="${QT_SCALE_FACTOR:-1}" -v v="$1" 'BEGIN { printf "%d", v * scale + 0.5 }'; }
  # xvfb-run goes through /bin/sh, which drops exported shell functions. The script
  # in single quotes expands in the inner shell, from the arguments after it.
  # shellcheck disable=SC2016
  xvfb-run -a -s "-screen 0 $(px 1024)x$(px 300)x24" bash -c "$(declare -f hand_over_when_up instance)"'
    install=$0 demo=$1 shots=$2 middle=$3 height=$4 closeX=$5 closeY=$6
    "$install/quavero" "$demo/requests/night.qvr" &
    app=$!
    # The question, then the notice: Return answers Yes, then OK.
    question=$(timeout 60 xdotool search --sync --onlyvisible --pid $app | head -n 1)
    xdotool windowfocus --sync "$question" key Return
    notice=$(timeout 60 xdotool search --sync --onlyvisible --name "^Updater$" | head -n 1)
    xdotool windowfocus --sync "$notice" key Return
    wait $app   # the old version ends once the new one has taken over
    hand_over_when_up "$install" "$demo"
    for _ in $(seq 600); do
      [ "$(find "$demo/music" -name "*.mp3" | wc -l)" -ge 3 ] && [ ! -s "$demo/queues/downloadqueue.txt" ] && break
      sleep 0.1
    done
    # Once the radio page (the simulator paints it 1B5E20) is on the screen too.
    env -u QT_SCALE_FACTOR "$shots/qvr-screenshot" --wait-for "$middle" 0 1 "$height" 1B5E20 "$demo/screenshot.png" \
      > /dev/null || env -u QT_SCALE_FACTOR "$shots/qvr-screenshot" "$demo/screenshot.png" || true
    # Close the window with its own close button, as a user would.
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Quavero$" | head -n 1)
    running=$(instance "$install")
    xdotool mousemove --window "$window" "$closeX" "$closeY" click 1 || kill "$running"
    while [ -n "$(instance "$install")" ]; do sleep 0.1; done
  ' "$install" "$demo" "$bin" "$(px 512)" "$(px 300)" "$(px 761)" "$(px 8)"
  echo "Screenshot: $demo/screenshot.png"
fi

echo
if cmp -s "$install/quavero" "$demo/quavero-2.1.0.1"; then
  echo "Updated: $install/quavero is version 2.1.0.1, the old one is $install/OldExecutable.bak"
else
  echo "Not updated: $install/quavero is the version it was"
fi
echo "Downloaded tracks in $demo/music:"
ls -l "$demo/music"
[ "$(downloaded)" -ge "$expected" ] || { echo "not every sample track arrived" >&2; exit 1; }
