#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2317 # functions run through spawn and wait_for
# Start-up benchmark: time from exec until the tray icon is embedded in a real tray host, and
# resident memory after one second idle, for ZapRun with a library of SCRIPTS scripts against the
# minimal Qt tray application, started alternately on one Xvfb display with one trayer.
#
#   bench/startup.sh [BUILD_DIR]      (default: build-perf; RUNS=N runs of each, default 11;
#                                      SCRIPTS=N scripts in the library, default 100)
#
# BUILD_DIR must hold zaprun, bench/minimal_tray and bench/tray_embed_watch (a build with
# -DZAPRUN_BUILD_BENCH=ON and libx11-dev installed). Needs xvfb, openbox, trayer, x11-utils.
#
# The embedding is seen without polling: tray_embed_watch listens for the structure events of
# trayer's panel and everything below it, and stamps the X event after which a window of the
# application's WM_CLASS is viewable inside the panel (lib.sh's definition of an embedded icon),
# with the wall clock of bash's EPOCHREALTIME, which the launcher reads just before its exec.
# Both stamps are microseconds; the error is the handling of one event, well under 1 ms.

BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=$(cd "${1:-$BENCH_DIR/../build-perf}" && pwd) || exit 2
RUNS=${RUNS:-11}
SCRIPTS=${SCRIPTS:-100}
ZAPRUN_BIN=${ZAPRUN_BIN:-$BUILD_DIR/zaprun}
MINIMAL_BIN=$BUILD_DIR/bench/minimal_tray
WATCH_BIN=$BUILD_DIR/bench/tray_embed_watch
# Each run takes about 1.5 s; the harness's watchdog must not end the benchmark.
E2E_TEST_TIMEOUT=$((60 + RUNS * 2 * 5)) # read by lib.sh
export E2E_TEST_TIMEOUT

# shellcheck source-path=SCRIPTDIR source=../tests/e2e/lib.sh
. "$BENCH_DIR/../tests/e2e/lib.sh"
# shellcheck source-path=SCRIPTDIR source=library.sh
. "$BENCH_DIR/library.sh"

for bin in "$ZAPRUN_BIN" "$MINIMAL_BIN" "$WATCH_BIN"; do
    [[ -x $bin ]] || fail "missing $bin (build with -DZAPRUN_BUILD_BENCH=ON; libx11-dev)"
done

# icon_of NAME : a window of that WM_CLASS instance is viewable inside the panel.
icon_of() {
    local id
    for id in $(xwininfo -tree -id "$PANEL" 2>/dev/null |
        awk -v cls="(\"$1\" " 'index($0, cls) {print $1}'); do
        window_viewable "$id" && return 0
    done
    return 1
}
no_icon() { ! icon_of zaprun && ! icon_of minimal_tray; }
file_nonempty() { [[ -s $1 ]]; }

# measure LABEL CLASS BIN : one start; appends "LABEL MS RSS_KIB PSS_KIB" to $RESULTS.
RUN=0
measure() {
    local label=$1 class=$2 bin=$3 stamp watch_pid app_pid t0 t1
    RUN=$((RUN + 1))
    stamp=$E2E_ROOT/stamp.$RUN
    wait_for "$E2E_DEADLINE" no_icon || fail "run $RUN: an icon is still in the panel"
    spawn "watch-$RUN" "$WATCH_BIN" "$PANEL" "$class" 20000
    watch_pid=$E2E_LAST_PID
    wait_for "$E2E_DEADLINE" file_nonempty "$E2E_LOGS/watch-$RUN.out" || fail "watch not ready"
    spawn "$label-$RUN" stamp_and_exec "$stamp" "$bin"
    app_pid=$E2E_LAST_PID
    wait_exit "$watch_pid" 25
    [[ $EXIT_STATUS == 0 ]] || fail "run $RUN: $label's icon was not embedded ($EXIT_STATUS)"
    t0=$(<"$stamp")
    t1=$(tail -n 1 "$E2E_LOGS/watch-$RUN.out")
    idle_memory "$app_pid" "$label"
    echo "$label $(((t1 - t0) / 100)) $IDLE_MEMORY" >>"$RESULTS"
}

start_desktop 800x600x24
PANEL=$(tray_panel) || fail "no panel"
write_library "$SCRIPTS"
RESULTS=$E2E_ROOT/results
: >"$RESULTS"
note "$(uptime)"
# One start of each first, not counted: it brings the libraries into the page cache.
measure warmup-zaprun zaprun "$ZAPRUN_BIN"
measure warmup-minimal minimal_tray "$MINIMAL_BIN"
for ((i = 0; i < RUNS; i++)); do
    measure zaprun zaprun "$ZAPRUN_BIN"
    measure minimal minimal_tray "$MINIMAL_BIN"
done
note "$(uptime)"

{
    # Start-up in tenths of a millisecond, memory in KiB.
    read -r zs zsmin zsmax < <(summary zaprun 2)
    read -r ms msmin msmax < <(summary minimal 2)
    read -r zr zrmin zrmax < <(summary zaprun 3)
    read -r mr mrmin mrmax < <(summary minimal 3)
    read -r zp zpmin zpmax < <(summary zaprun 4)
    read -r mp mpmin mpmax < <(summary minimal 4)
    ms1() { awk -v v="$1" 'BEGIN {printf "%.1f", v / 10}'; }
    mib() { awk -v v="$1" 'BEGIN {printf "%.1f", v / 1024}'; }
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
    echo "Start-up and idle memory, $RUNS runs each, medians (min-max)"
    printf '%-28s %-22s %-22s %s\n' "" "zaprun ($SCRIPTS scripts)" "minimal_tray" "ratio"
    printf '%-28s %-22s %-22s %s\n' "exec to icon embedded (ms)" \
        "$(ms1 "$zs") ($(ms1 "$zsmin")-$(ms1 "$zsmax"))" \
        "$(ms1 "$ms") ($(ms1 "$msmin")-$(ms1 "$msmax"))" "$(ratio "$zs" "$ms")"
    printf '%-28s %-22s %-22s %s\n' "VmRSS after 1 s idle (MiB)" \
        "$(mib "$zr") ($(mib "$zrmin")-$(mib "$zrmax"))" \
        "$(mib "$mr") ($(mib "$mrmin")-$(mib "$mrmax"))" "$(ratio "$zr" "$mr")"
    printf '%-28s %-22s %-22s %s\n' "Pss after 1 s idle (MiB)" \
        "$(mib "$zp") ($(mib "$zpmin")-$(mib "$zpmax"))" \
        "$(mib "$mp") ($(mib "$mpmin")-$(mib "$mpmax"))" "$(ratio "$zp" "$mp")"
} | tee "$E2E_ROOT/table"
check "every run measured" [ "$(grep -c . "$RESULTS")" -eq $((2 * RUNS + 2)) ]
finish
