#!/usr/bin/env bash
# Crash consistency: the real program downloads from the store simulator, slowed to a
# few MB/s, and is killed with SIGKILL at a random moment, round after round. Each
# round starts it, now and then with a new request on its command line, sometimes
# hands it another request through a second start, and kills it. After every kill
# qvr_crash_check looks at what is on disk: the settings hive parses, both queue
# files are whole, every downloaded file is a true beginning of its track (all of
# it once it has left the queue), and every request made is still somewhere. A last,
# clean run then downloads what is left and is closed with its close button; every
# request ever made must then be downloaded, byte for byte.
#
#   tests/crash/crash_test.sh [--build DIR] [--rounds N] [--update-rounds N] [--random N] [--keep]
#
# It runs on a virtual display of its own, wide enough for the whole window (its
# close button is clicked) and out of the way of anything else. A request counts as
# made once the program has shown that it took it: a command-line request when the
# window was on screen before the kill, a handed-over one when the second start had
# ended while the window still ran. The number given with --random makes a run
# repeatable up to timing.
set -uo pipefail

if [ -z "${QVR_CRASH_TEST_DISPLAY:-}" ]; then
  export QVR_CRASH_TEST_DISPLAY=1
  # -noreset: a kill can take the server's last client, and a server that resets then
  # refuses the next start while it does.
  exec xvfb-run -a -s "-noreset -screen 0 1024x300x24" "$0" "$@"
fi

here=$(cd "$(dirname "$0")/../.." && pwd)
build=build-test rounds=20 update_rounds="" random_start=$(( $(date +%s) % 32768 )) keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --update-rounds) update_rounds=$2; shift 2 ;;
    --random) random_start=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--rounds N] [--update-rounds N] [--random N] [--keep]" >&2; exit 2 ;;
  esac
done
case $build in /*) ;; *) build=$here/$build ;; esac
for program in quavero quavero-misbehaving qvr-store-sim qvr_crash_check; do
  [ -x "$build/$program" ] || { echo "crash test: $build/$program is missing; build it first" >&2; exit 2; }
done

RANDOM=$random_start
rate=$((2 * 1024 * 1024))  # bytes per second for each track
latency=150                # ms before the store answers anything, as over the internet
kill_within=2500           # ms: the latest a kill comes after a start or a hand-over
hand_over_within=1500      # ms: the latest a second start comes after the first
soon=60                    # ms: a quarter of them come this soon, where races are

random_ms() { # LATEST
  if [ $(( RANDOM % 4 )) -eq 0 ]; then echo $(( RANDOM % (soon + 1) )); else echo $(( RANDOM % ($1 + 1) )); fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qvr-crash-XXXXXX")
mkdir -p "$work/music" "$work/queues" "$work/run" "$work/run2" "$work/logs"
chmod 700 "$work/run" "$work/run2"
store_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null
  [ -n "$store_pid" ] && kill "$store_pid" 2>/dev/null && wait "$store_pid" 2>/dev/null
  if [ "$keep" = 1 ] || [ "${failures:-1}" -ne 0 ]; then
    echo "crash test: files kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# The store: a track per round and a few more, 1 to 3 MB each, so that most kills
# find a download under way. Titles repeat as across albums: runs of three "Intro" and
# of two "Home", asked for one after another, each its own track with its own address.
track_count=$(( rounds + 4 ))
[ "$track_count" -lt 6 ] && track_count=6
ids=() sizes=() track_args=()
: > "$work/tracks.tsv"
for ((i = 1; i <= track_count; i++)); do
  id=$(printf 't%03d' "$i") title=$(printf 'Track %03d' "$i") size=$(( 1000000 + RANDOM * 61 ))
  case $(( i % 8 )) in 2 | 3 | 4) title=Intro ;; 6 | 7) title=Home ;; esac
  ids+=("$id") sizes+=("$size")
  track_args+=(--track "$id:$title:$size")
  printf '%s\t%s\t%s\n' "$id" "$title" "$size" >> "$work/tracks.tsv"
done
"$build/qvr-store-sim" --port 0 --rate "$rate" --latency "$latency" --requests-dir "$work/requests" "${track_args[@]}" \
  > "$work/store.out" 2> "$work/logs/store.err" &
store_pid=$!
for _ in $(seq 100); do grep -q '^listening ' "$work/store.out" && break; sleep 0.1; done
host=$(sed -n 's/^listening //p' "$work/store.out")
[ -n "$host" ] || { echo "crash test: the store simulator did not start" >&2; failures=1; exit 1; }

"$here/tools/write-hive.sh" "$work/registry.reg" "$build" "$work/music" "$work/queues"

unset QT_QPA_PLATFORM  # the window must be a real one, for xdotool to find
export QVR_REGISTRY="$work/registry.reg" QVR_STORE_HOST="$host" XDG_RUNTIME_DIR="$work/run"
# A killed process reports nothing; one that ends by itself must not fail over leaks
# of the libraries it loads.
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
"$build/quavero" /install > "$work/logs/install.log" 2>&1

: > "$work/requests.tsv"
pool=("${ids[@]}")
kills=0 failures=0 compared=0 from_command_line=0 handed_over=0 too_early=0 lost=0
declare -A reported_lost=()

next_request() { # sets $request to the next track no one asked for yet, or ""
  request=""
  if [ ${#pool[@]} -gt 0 ]; then
    request=${pool[0]}
    pool=("${pool[@]:1}")
  fi
}
made() { # ID ROUND HOW
  printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$work/requests.tsv"
}
nap_ms() {
  sleep "$(printf '%d.%03d' $(( $1 / 1000 )) $(( $1 % 1000 )))"
}
# True once the process holds the instance lock: it has a file of the shared
# running-instances folder open. A second start made after that is a second start.
holds_lock() { # PID
  local fd
  for fd in /proc/"$1"/fd/*; do
    case $(readlink "$fd" 2>/dev/null) in "$work/run/quavero/"*) return 0 ;; esac
  done
  return 1
}
# True once the process owns the queue files: it holds the lock beside them, through
# which alone a start from another login session (another runtime folder) meets it.
holds_queue_lock() { # PID
  local inode
  inode=$(stat -c %i "$work/queues/quavero.lock" 2>/dev/null) || return 1
  grep -Eq "FLOCK +ADVISORY +WRITE +$1 [0-9a-f]+:[0-9a-f]+:$inode " /proc/locks
}
window_of() { # PID: the id of its window on screen, if any
  xdotool search --onlyvisible --pid "$1" --name '^Quavero$' 2>/dev/null | head -n 1
}
check() { # ROUND [--final]
  local round=$1 out status line id seen=(--seen "$work/seen.tsv")
  shift
  missing_now=0
  # The last check compares every file again, whole.
  [ "${1:-}" = --final ] && seen=()
  out=$("$build/qvr_crash_check" --store "$host" --hive "$work/registry.reg" \
    --download-queue "$work/queues/downloadqueue.txt" --raw-queue "$work/queues/rawqueue.txt" \
    --music "$work/music" --tracks "$work/tracks.tsv" --requests "$work/requests.tsv" \
    "${seen[@]}" "$@")
  status=$?
  while IFS= read -r line; do
    case $line in
      "checked: "*)
        compared=$(( compared + $(sed -n 's/.* \([0-9]*\) bytes compared$/\1/p' <<< "$line") ))
        finished_now=$(sed -n 's/^checked: \([0-9]*\) finished.*/\1/p' <<< "$line")
        partial_now=$(sed -n 's/.* \([0-9]*\) partial.*/\1/p' <<< "$line") ;;
      "FAIL lost "*)
        id=${line#FAIL lost }
        id=${id%%:*}
        missing_now=$(( missing_now + 1 ))
        if [ -z "${reported_lost[$id]:-}" ]; then
          reported_lost[$id]=1
          lost=$(( lost + 1 ))
          failures=$(( failures + 1 ))
          problems+="  ${line#FAIL }"$'\n'
        fi ;;
      FAIL*)
        failures=$(( failures + 1 ))
        problems+="  ${line#FAIL }"$'\n' ;;
    esac
  done <<< "$out"
  [ "$status" -le 1 ] || { problems+="  the checker failed ($status)"$'\n'; failures=$(( failures + 1 )); }
}
ended_by_itself() { # PID ROUND LOG
  wait "$1"
  echo "round $2: the program ended by itself (exit status $?); its output:"
  tail -n 30 "$3" | sed 's/^/    /'
  echo "    (instance files: $(find "$work/run/quavero" -mindepth 1 -printf '%M %f  '))"
  failures=$(( failures + 1 ))
}

finished_now=0 partial_now=0
for ((round = 1; round <= rounds; round++)); do
  log="$work/logs/round-$round.log"
  args=() first="" second="" second_how="" note="" since="the start"
  if [ "$round" -eq 1 ] || [ $(( RANDOM % 3 )) -ne 0 ]; then
    next_request; first=$request
    [ -n "$first" ] && args=("$work/requests/$first.qvr")
  fi
  note="started with ${first:-no request}"
  "$build/quavero" "${args[@]}" > "$log" 2>&1 &
  app_pid=$!

  if [ ${#pool[@]} -gt 0 ] && [ $(( RANDOM % 2 )) -eq 0 ]; then
    # A third of them come from another login session: another runtime folder, the
    # same settings.
    session=run held=holds_lock
    [ $(( RANDOM % 3 )) -eq 0 ] && session=run2 held=holds_queue_lock
    for _ in $(seq 2000); do "$held" "$app_pid" || ! kill -0 "$app_pid" 2>/dev/null && break; sleep 0.005; done
    pause=$(random_ms "$hand_over_within")
    nap_ms "$pause"
    next_request; second=$request
    note+=", $second handed over$([ "$session" = run2 ] && echo ' from another session') after ${pause} ms"
    XDG_RUNTIME_DIR="$work/$session" timeout 60 "$build/quavero" "$work/requests/$second.qvr" \
      >> "$work/logs/round-$round-second.log" 2>&1
    status=$?
    if ! kill -0 "$app_pid" 2>/dev/null; then
      ended_by_itself "$app_pid" "$round" "$log"; app_pid=""
    elif [ "$status" -ne 0 ]; then
      echo "round $round: the second start failed (exit status $status)"
      failures=$(( failures + 1 ))
    else
      second_how="handed over $pause ms after the first start held the lock"
      since="the hand-over"
    fi
  fi

  if [ -n "$app_pid" ]; then
    pause=$(random_ms "$kill_within")
    # Right after a hand-over's answer the request is only in the inbox: the window
    # has not taken it into the raw queue yet.
    [ -n "$second_how" ] && [ $(( RANDOM % 4 )) -eq 0 ] && pause=0
    nap_ms "$pause"
    shown=$(window_of "$app_pid")
    if ! kill -KILL "$app_pid" 2>/dev/null; then
      ended_by_itself "$app_pid" "$round" "$log"
    else
      wait "$app_pid" 2>/dev/null
      kills=$(( kills + 1 ))
      note+=", killed ${pause} ms later$([ -n "$shown" ] || echo ' before its window showed')"
      if [ -n "$second_how" ]; then
        made "$second" "$round" "$second_how, killed $pause ms after it"
        handed_over=$(( handed_over + 1 ))
      fi
      if [ -n "$first" ]; then
        if [ -n "$shown" ]; then
          made "$first" "$round" "on the command line, killed $pause ms after $since"
          from_command_line=$(( from_command_line + 1 ))
        else
          # Killed before it showed that it took the request: ask again later.
          too_early=$(( too_early + 1 ))
          pool+=("$first")
        fi
      fi
    fi
    app_pid=""
  fi
  problems=""
  check "$round"
  echo "round $round: $note; on disk $finished_now finished, $partial_now partial"
  printf '%s' "$problems"
done

# The clean run: no new request, until everything asked for is downloaded, then the
# close button.
made_count=$(wc -l < "$work/requests.tsv")
remaining=0
for ((i = 0; i < track_count; i++)); do remaining=$(( remaining + sizes[i] )); done
log="$work/logs/final.log"
"$build/quavero" > "$log" 2>&1 &
app_pid=$!
all_in() { # once nothing is queued, what the last check will say (not comparing again what it found whole)
  [ -s "$work/queues/downloadqueue.txt" ] && return 1
  "$build/qvr_crash_check" --store "$host" --hive "$work/registry.reg" --final --seen "$work/seen-final.tsv" \
    --download-queue "$work/queues/downloadqueue.txt" --raw-queue "$work/queues/rawqueue.txt" \
    --music "$work/music" --tracks "$work/tracks.tsv" --requests "$work/requests.tsv" > /dev/null
}
# Long enough for every track at the store's rate, with room for a slow machine; a
# run that lost requests ends here too, and the check below names them.
deadline=$(( $(date +%s) + remaining / rate + 120 ))
last="" idle=0
while ! all_in && [ "$(date +%s)" -lt "$deadline" ] && kill -0 "$app_pid" 2>/dev/null; do
  sleep 0.2
  # Nothing queued and nothing on disk changing for ten seconds: what is still
  # missing is not coming.
  state=$(cat "$work/queues/"*.txt 2>/dev/null; stat -c '%n %s' "$work/music/"* 2>/dev/null)
  if [ "$state" = "$last" ] && ! grep -q . "$work/queues/downloadqueue.txt" 2>/dev/null; then
    idle=$(( idle + 1 ))
    [ "$idle" -ge 50 ] && break
  else
    idle=0
  fi
  last=$state
done
if ! kill -0 "$app_pid" 2>/dev/null; then
  ended_by_itself "$app_pid" final "$log"
else
  window=""
  for _ in $(seq 300); do
    window=$(window_of "$app_pid")
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] && xdotool mousemove --window "$window" 761 8 click 1
  for _ in $(seq 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    echo "final: the window $([ -n "$window" ] && echo 'did not close on its close button' || echo 'never showed')"
    failures=$(( failures + 1 ))
    kill -KILL "$app_pid"
  fi
  wait "$app_pid"
  status=$?
  [ "$status" -eq 0 ] || { echo "final: the program ended with status $status"; failures=$(( failures + 1 )); }
fi
app_pid=""
problems=""
check final --final
echo "final: $missing_now of $made_count requests made are not downloaded"
printf '%s' "$problems"

# The update road: a copy of the program installed alone, the store publishing a
# newer version of it, the question answered Yes, and a kill at a random moment
# between Yes and the take-over: while the new version is fetched, tried, put in
# place, announced, started and taking over. The kill hits every process of the
# install folder, or only the old instance, or only the new one (the old one then
# comes back, unless it was taken over already). After each kill the file at the
# program's name must be a whole program, the old one or the new one, that runs
# (`--probe` ends with 0). Every second round in turn, the new version is the program
# made to misbehave (quavero-misbehaving), which passes its probe and then exits with
# status 1, or hangs and is killed, at every start of its window, or crashes at once
# when its window starts after the old instance was killed during its notice: within
# three starts the previous program must be back at its name, its window showing.
# One round in ten of the above, at least four, unless --update-rounds says.
[ -n "$update_rounds" ] || { update_rounds=$(( rounds / 10 )); [ "$update_rounds" -lt 4 ] && update_rounds=4; }
update_kills=0 update_failures=0 rolled_back=0 past_notice=0
u="$work/update"
mkdir -p "$u/install" "$u/music" "$u/queues" "$u/run" "$u/tmp"
chmod 700 "$u/run"
cp "$build/quavero" "$u/old"
"$here/tools/stamp-version" "$build/quavero" "$u/new" 2.1.0.1 "$build/update-signing/private.pem"
"$build/qvr-store-sim" --port 0 --latency "$latency" --version-text 2.1.0.1 --version-file "quavero=$u/new" \
  > "$u/store.out" 2> "$work/logs/update-store.err" &
update_store_pid=$!
"$here/tools/stamp-version" "$build/quavero-misbehaving" "$u/misbehaving" 2.1.0.1 "$build/update-signing/private.pem"
"$build/qvr-store-sim" --port 0 --latency "$latency" --version-text 2.1.0.1 --version-file "quavero=$u/misbehaving" \
  > "$u/misbehaving-store.out" 2> "$work/logs/misbehaving-store.err" &
misbehaving_store_pid=$!
# It reads the program it serves first, which takes a while in a sanitizer build.
for _ in $(seq 600); do grep -q '^listening ' "$u/store.out" && break; sleep 0.1; done
for _ in $(seq 600); do grep -q '^listening ' "$u/misbehaving-store.out" && break; sleep 0.1; done
update_host=$(sed -n 's/^listening //p' "$u/store.out")
misbehaving_host=$(sed -n 's/^listening //p' "$u/misbehaving-store.out")
if [ -z "$update_host" ] || [ -z "$misbehaving_host" ]; then
  echo "crash test: the update store did not start" >&2; update_rounds=0; update_failures=1
fi
"$here/tools/write-hive.sh" "$u/registry.reg" "$u/install" "$u/music" "$u/queues"
installed_pids() { # every process that runs a program of the install folder
  local exe pid
  for exe in /proc/[0-9]*/exe; do
    case $(readlink "$exe" 2>/dev/null) in
      "$u/install/"*) pid=${exe#/proc/}; echo "${pid%/exe}" ;;
    esac
  done
}
alive() { kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" != Z ]; }
update_env=(QVR_REGISTRY="$u/registry.reg" QVR_STORE_HOST="$update_host" XDG_RUNTIME_DIR="$u/run" TMPDIR="$u/tmp"
  XDG_CACHE_HOME="$u/cache")
# After a round: the program at the executable's name runs, or the round failed.
probe_runs() {
  if ! env "${update_env[@]}" timeout 60 "$u/install/quavero" --probe >> "$log" 2>&1; then
    note+=", IT DOES NOT RUN"
    update_failures=$(( update_failures + 1 ))
  fi
}
# Waits, at most TRIES tenths of a second, until PID has ended or shows its window.
ends_or_shows_window() { # PID TRIES
  for _ in $(seq "$2"); do
    alive "$1" || return 0
    xdotool search --all --onlyvisible --pid "$1" --name '^Quavero$' > /dev/null 2>&1 && return 0
    sleep 0.1
  done
}
# Whether the start PID ends in the previous program's window (0), or ends, or hangs
# (1, a hang killed as its user would). The box that says the update was undone is
# answered.
previous_window() { # PID
  local box
  for _ in $(seq 1200); do
    alive "$1" || return 1
    if [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" = T ]; then kill -KILL "$1"; return 1; fi
    if cmp -s "$u/install/quavero" "$u/old"; then
      box=$(xdotool search --all --onlyvisible --pid "$1" --name '^Updater$' 2>/dev/null | head -n 1)
      [ -n "$box" ] && xdotool windowfocus --sync "$box" key Return 2>/dev/null
      xdotool search --all --onlyvisible --pid "$1" --name '^Quavero$' > /dev/null 2>&1 && return 0
    fi
    sleep 0.1
  done
  kill -KILL "$1"
  return 1
}
misbehaving_round() { # MISBEHAVIOUR: sets $note; false when the previous program did not come back
  local env=("${update_env[@]}" QVR_STORE_HOST="$misbehaving_host" QVR_TEST_MISBEHAVE="$1") question notice starts=0
  env "${env[@]}" "$u/install/quavero" > "$log" 2>&1 &
  app_pid=$!
  question=$(timeout 60 xdotool search --sync --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1)
  [ -n "$question" ] && xdotool windowfocus --sync "$question" key Return 2>/dev/null
  notice=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$app_pid" --name '^Updater$' 2>/dev/null \
    | head -n 1)
  [ -n "$notice" ] || { note="the notice never showed"; return 1; }
  if [ "$1" = crash ]; then
    kill -KILL "$app_pid"
    note="the old instance killed during its notice"
  else
    xdotool windowfocus --sync "$notice" key Return 2>/dev/null
    # It ends once the new version has taken over, or comes back.
    ends_or_shows_window "$app_pid" 600
    if alive "$app_pid"; then
      note="the new version did not take over"
      return 0
    fi
    note="taken over"
    starts=1
    for pid in $(installed_pids); do
      previous_window "$pid" && { note+=", back at once"; return 0; }
    done
  fi
  wait "$app_pid" 2>/dev/null
  while [ "$starts" -lt 3 ]; do
    starts=$(( starts + 1 ))
    env "${env[@]}" "$u/install/quavero" >> "$log" 2>&1 &
    app_pid=$!
    previous_window "$app_pid" && { note+=", back with its window at start $starts"; return 0; }
    wait "$app_pid" 2>/dev/null
    note+=", start $starts ended with $?"
  done
  return 1
}
misbehaviours=("" exit1 hang crash)
for ((round = 1; round <= update_rounds; round++)); do
  rm -rf "$u/install/"* "$u/install/".[!.]* "$u/cache" 2>/dev/null
  cp "$u/old" "$u/install/quavero"
  log="$work/logs/update-$round.log"
  misbehaviour=${misbehaviours[$(( (round - 1) % ${#misbehaviours[@]} ))]}
  if [ -n "$misbehaviour" ]; then
    if ! misbehaving_round "$misbehaviour"; then
      note+=", THE PREVIOUS PROGRAM DID NOT COME BACK WITHIN THREE STARTS"
      update_failures=$(( update_failures + 1 ))
    fi
    mapfile -t pids < <(installed_pids)
    kill -KILL "${pids[@]}" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=""
    if ! cmp -s "$u/install/quavero" "$u/old" || [ -e "$u/install/OldExecutable.bak" ]; then
      note+=", NOT THE OLD PROGRAM ALONE AT ITS NAME"
      update_failures=$(( update_failures + 1 ))
    fi
    probe_runs
    echo "update round $round ($misbehaviour): $note"
    continue
  fi
  env "${update_env[@]}" "$u/install/quavero" > "$log" 2>&1 &
  app_pid=$!
  question=$(timeout 60 xdotool search --sync --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1)
  victims=$(( RANDOM % 3 ))  # 0: every process, 1: the old instance, 2: the new one
  if [ -z "$question" ]; then
    note="the question never showed"
    update_failures=$(( update_failures + 1 ))
  else
    xdotool windowfocus --sync "$question" key Return 2>/dev/null
    note="Yes"
    # Half the rounds are killed before the notice is answered, half after it.
    if [ $(( RANDOM % 2 )) -eq 0 ]; then
      notice=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$app_pid" --name '^Updater$' 2>/dev/null \
        | head -n 1)
      if [ -n "$notice" ]; then
        xdotool windowfocus --sync "$notice" key Return 2>/dev/null
        note+=", the notice answered"
        past_notice=$(( past_notice + 1 ))
      fi
    fi
    pause=$(random_ms 4000)
    nap_ms "$pause"
    note+=", killed $pause ms later"
  fi
  case $victims in
    0) mapfile -t pids < <(installed_pids); kill -KILL "${pids[@]}" 2>/dev/null; note+=" (all)" ;;
    1) kill -KILL "$app_pid" 2>/dev/null; note+=" (the old one)" ;;
    2) new_killed=0
       for pid in $(installed_pids); do
         [ "$pid" = "$app_pid" ] || { kill -KILL "$pid" 2>/dev/null; new_killed=1; }
       done
       note+=" (the new one)" ;;
  esac
  update_kills=$(( update_kills + 1 ))
  if [ "$victims" -eq 2 ] && [ "$new_killed" -eq 1 ]; then
    # The old instance comes back, or has ended once taken over.
    ends_or_shows_window "$app_pid" 900
    if alive "$app_pid"; then
      note+=", the old one came back"
      rolled_back=$(( rolled_back + 1 ))
      cmp -s "$u/install/quavero" "$u/old" || { note+=", BUT NOT THE OLD PROGRAM AT ITS NAME"; update_failures=$(( update_failures + 1 )); }
      [ ! -e "$u/install/OldExecutable.bak" ] || { note+=", A BACKUP LEFT"; update_failures=$(( update_failures + 1 )); }
    fi
  fi
  mapfile -t pids < <(installed_pids)
  kill -KILL "${pids[@]}" 2>/dev/null
  wait "$app_pid" 2>/dev/null
  app_pid=""
  if cmp -s "$u/install/quavero" "$u/old"; then
    note+=", the old program stands"
  elif cmp -s "$u/install/quavero" "$u/new"; then
    note+=", the new program stands"
  else
    note+=", NO WHOLE PROGRAM at its name"
    update_failures=$(( update_failures + 1 ))
  fi
  probe_runs
  echo "update round $round: $note"
done
kill "$update_store_pid" "$misbehaving_store_pid" 2>/dev/null; wait "$update_store_pid" "$misbehaving_store_pid" 2>/dev/null
failures=$(( failures + update_failures ))
echo "update road: $update_rounds rounds, $update_kills kills ($past_notice after the notice, $rolled_back rolled" \
  "back), $update_failures failures"

echo "crash test: $rounds rounds, $kills kills, $made_count requests made" \
  "($from_command_line on the command line, $handed_over handed over; $too_early asked again after a kill" \
  "before the window showed), $finished_now tracks finished, $compared bytes compared," \
  "$lost requests lost, $failures failures (--random $random_start)"
[ "$failures" -eq 0 ]
