#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck disable=SC2317,SC2016,SC2119,SC2034 # functions run through wait_for; conditions expand later
# What one added script costs a StatusNotifierItem host that draws ZapRun's menu: lxqt-panel's
# CPU time (/proc/PID/stat), the D-Bus traffic (dbus-monitor --pcap: bytes of every message on
# the bus) and the GetLayout calls it makes, per add, with ZapRun's own CPU time beside them.
#
#   bench/host_menu_cost.sh [BUILD_DIR]    (default: build; SCRIPTS=N scripts, default 10000;
#                                           ADDS=N adds measured, default 5)
#
# An add is an outside change of the store (one name and body appended); ZapRun reloads it and
# changes its menu; the measurement ends when the bus and the panel have been quiet for 1.5 s.
# Needs xvfb, dbus-daemon, lxqt-panel (the e2e set in tools/packages.sh).

BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=$(cd "${1:-$BENCH_DIR/../build}" && pwd) || exit 2
SCRIPTS=${SCRIPTS:-10000} ADDS=${ADDS:-5}
ZAPRUN_BIN=$BUILD_DIR/zaprun
E2E_TEST_TIMEOUT=$((120 + ADDS * 30)) E2E_DEADLINE=60 # read by lib.sh
export E2E_TEST_TIMEOUT

# shellcheck source-path=SCRIPTDIR source=../tests/e2e/lib.sh
. "$BENCH_DIR/../tests/e2e/lib.sh"

append_scripts() { # COUNT : COUNT more scripts at the end of the store (made if missing)
    /usr/bin/python3 - "$(store_file)" "$1" <<'PY'
import json, os, sys
path, count = sys.argv[1], int(sys.argv[2])
d = json.load(open(path)) if os.path.exists(path) else {"all scripts names": [], "all scripts": []}
first = len(d["all scripts names"])
d["all scripts names"] += [f"script number {i}" for i in range(first, first + count)]
d["all scripts"] += ["# " + "x" * 1000 + f"\necho {i}\n" for i in range(first, first + count)]
json.dump(d, open(path + ".new", "w")); os.chmod(path + ".new", 0o600); os.replace(path + ".new", path)
PY
}
cpu_ms() { awk '{print ($14 + $15) * 10}' "/proc/$1/stat"; } # utime + stime, 100 ticks a second
changes() { grep -c 'LayoutUpdated$\|ItemsPropertiesUpdated$' "$PROFILE"; }
lines() { wc -l <"$1"; }
bytes() { stat -c %s "$1"; }
# quiet : neither the bus nor the panel moved for 1.5 s.
quiet() {
    local before
    before="$(lines "$PROFILE") $(cpu_ms "$PANEL_PID")"
    sleep 1.5
    [[ $before == "$(lines "$PROFILE") $(cpu_ms "$PANEL_PID")" ]]
}

mkdir -p "$XDG_CONFIG_HOME/zaprun" && append_scripts "$SCRIPTS"
start_xvfb && start_session_bus && start_lxqt_panel
spawn pcap dbus-monitor --pcap
spawn profile dbus-monitor --profile
PROFILE=$E2E_LOGS/profile.out
start_zaprun # without arguments
require_within "the item registers with lxqt-panel" "$E2E_DEADLINE" sni_item_count_is 1
require_within "the panel has fetched the menu and settled" "$E2E_DEADLINE" quiet
printf '# %-6s %12s %12s %12s %12s\n' add "panel CPU ms" "bus bytes" GetLayout "zaprun CPU ms"
for ((add = 1; add <= ADDS; add++)); do
    panel=$(cpu_ms "$PANEL_PID") app=$(cpu_ms "$ZAPRUN_PID") b=$(bytes "$E2E_LOGS/pcap.out")
    calls=$(grep -c 'GetLayout$' "$PROFILE") changes=$(changes)
    append_scripts 1
    require_within "add $add: the menu changes" "$E2E_DEADLINE" eval '(($(changes) > changes))'
    require_within "  and all is quiet again" "$E2E_DEADLINE" quiet
    printf '# %-6s %12s %12s %12s %12s\n' "$add" $(($(cpu_ms "$PANEL_PID") - panel)) \
        $(($(bytes "$E2E_LOGS/pcap.out") - b)) $(($(grep -c 'GetLayout$' "$PROFILE") - calls)) \
        $(($(cpu_ms "$ZAPRUN_PID") - app))
done
finish
