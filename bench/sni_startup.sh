#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2317 # ms1 and mib are called by name
# Start-up on a StatusNotifierItem-only host: time from exec until the item is registered with
# the watcher and until the host's read of its icon is answered, and resident memory after one
# second idle, for ZapRun against the minimal Qt tray application, started alternately on one
# Xvfb display with lxqt-panel (its statusnotifier plugin alone) on a private session bus.
#
#   bench/sni_startup.sh [BUILD_DIR]  (default: build-perf; RUNS=N runs of each, default 11;
#                                      SIZES="N ..." library sizes, default "100 10000")
#
# BUILD_DIR must hold zaprun and bench/minimal_tray. Needs xvfb, dbus-daemon, lxqt-panel.
#
# Seen without polling: one dbus-monitor (--profile, which stamps each message with the wall
# clock) is told to pass on only item registrations, the host's reads of IconPixmap and the
# replies to the host, and this script blocks reading its lines. The launcher takes bash's
# EPOCHREALTIME just before its exec; both stamps are microseconds of the same clock. Qt's items
# answer IconName with "" and give their icon as IconPixmap, so that read's answer is the end.

BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=$(cd "${1:-$BENCH_DIR/../build-perf}" && pwd) || exit 2
RUNS=${RUNS:-11}
read -ra SIZES <<<"${SIZES:-100 10000}"
ZAPRUN_BIN=${ZAPRUN_BIN:-$BUILD_DIR/zaprun}
MINIMAL_BIN=$BUILD_DIR/bench/minimal_tray
E2E_TEST_TIMEOUT=$((120 + ${#SIZES[@]} * (RUNS + 1) * 2 * 8)) # read by lib.sh
export E2E_TEST_TIMEOUT

# shellcheck source-path=SCRIPTDIR source=../tests/e2e/lib.sh
. "$BENCH_DIR/../tests/e2e/lib.sh"
# shellcheck source-path=SCRIPTDIR source=library.sh
. "$BENCH_DIR/library.sh"

for bin in "$ZAPRUN_BIN" "$MINIMAL_BIN"; do
    [[ -x $bin ]] || fail "missing $bin (build with -DZAPRUN_BUILD_BENCH=ON)"
done

# start_monitor : MONITOR, a dbus-monitor coprocess that has become a monitor of the bus.
start_monitor() {
    local host line
    host=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetNameOwner string:org.kde.StatusNotifierWatcher |
        awk -F '"' 'NF > 1 {print $2}')
    [[ -n $host ]] || fail "no watcher on the bus"
    coproc MONITOR {
        exec dbus-monitor --session --profile \
            "type='method_call',interface='org.kde.StatusNotifierWatcher',member='RegisterStatusNotifierItem'" \
            "type='method_call',interface='org.freedesktop.DBus.Properties',member='Get',arg1='IconPixmap'" \
            "type='method_return',destination='$host'" 2>>"$E2E_LOGS/monitor.err"
    }
    E2E_PIDS+=("$MONITOR_PID") E2E_STARTED[$MONITOR_PID]=$(started "$MONITOR_PID")
    while read -r -t "$E2E_DEADLINE" -u "${MONITOR[0]}" line; do
        [[ $line == *NameLost ]] && return 0
    done
    fail "dbus-monitor did not start"
}

# icon_fetched AFTER : REGISTERED and FETCHED, the wall clock in microseconds of the first item
# registered after AFTER and of the answer to the host's read of that item's IconPixmap.
icon_fetched() {
    local type time serial from to rest item='' asked=''
    while IFS=$'\t' read -r -t 30 -u "${MONITOR[0]}" type time serial from to rest; do
        time=${time/./}
        if [[ $type == mc && $rest == *RegisterStatusNotifierItem ]] && ((10#$time >= $1)); then
            item=$from REGISTERED=$time
        elif [[ $type == mc && -n $item && $to == "$item" ]]; then
            asked=$serial
        elif [[ $type == mr && -n $asked && $from == "$item" && $rest == "$asked" ]]; then
            FETCHED=$time
            return 0
        fi
    done
    return 1
}

# measure LABEL BIN : one start; appends "LABEL REGISTERED FETCHED RSS_KIB PSS_KIB" to $RESULTS,
# the times in tenths of a millisecond after exec.
RUN=0
measure() {
    local label=$1 stamp=$E2E_ROOT/stamp.$((RUN += 1)) before app_pid t0
    wait_for "$E2E_DEADLINE" sni_item_count_is 0 || fail "run $RUN: an item is still registered"
    before=${EPOCHREALTIME/./}
    spawn "$label-$RUN" stamp_and_exec "$stamp" "$2"
    app_pid=$E2E_LAST_PID
    icon_fetched "$before" || fail "run $RUN: $label's icon was not fetched"
    t0=$(<"$stamp")
    idle_memory "$app_pid" "$label"
    echo "$label $(((REGISTERED - t0) / 100)) $(((FETCHED - t0) / 100)) $IDLE_MEMORY" >>"$RESULTS"
}

ms1() { awk -v v="$1" 'BEGIN {printf "%.1f", v / 10}'; }
mib() { awk -v v="$1" 'BEGIN {printf "%.1f", v / 1024}'; }
# row TITLE SIZE COLUMN UNIT : medians (min-max) of both programs and their ratio
row() {
    local z zmin zmax m mmin mmax
    read -r z zmin zmax < <(summary "zaprun-$2" "$3")
    read -r m mmin mmax < <(summary "minimal-$2" "$3")
    printf '%-30s %-24s %-24s %s\n' "$1" "$("$4" "$z") ($("$4" "$zmin")-$("$4" "$zmax"))" \
        "$("$4" "$m") ($("$4" "$mmin")-$("$4" "$mmax"))" "$(awk -v a="$z" -v b="$m" 'BEGIN {printf "%.2f", a / b}')"
}

start_xvfb 800x600x24 && start_session_bus && start_lxqt_panel
start_monitor
RESULTS=$E2E_ROOT/results
: >"$RESULTS"
note "$(uptime)"
for size in "${SIZES[@]}"; do
    write_library "$size"
    # One start of each first, not counted: it brings the libraries into the page cache.
    measure "warmup-zaprun-$size" "$ZAPRUN_BIN"
    measure "warmup-minimal-$size" "$MINIMAL_BIN"
    for ((i = 0; i < RUNS; i++)); do
        measure "zaprun-$size" "$ZAPRUN_BIN"
        measure "minimal-$size" "$MINIMAL_BIN"
    done
done
note "$(uptime)"

for size in "${SIZES[@]}"; do
    echo "Start-up on lxqt-panel (SNI), $RUNS runs each, medians (min-max)"
    printf '%-30s %-24s %-24s %s\n' "" "zaprun ($size scripts)" "minimal_tray" "ratio"
    row "exec to item registered (ms)" "$size" 2 ms1
    row "exec to icon fetched (ms)" "$size" 3 ms1
    row "VmRSS after 1 s idle (MiB)" "$size" 4 mib
    row "Pss after 1 s idle (MiB)" "$size" 5 mib
done | tee "$E2E_ROOT/table"
check "every run measured" [ "$(grep -c . "$RESULTS")" -eq $((${#SIZES[@]} * (2 * RUNS + 2))) ]
finish
