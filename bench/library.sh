# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2317,SC2034 # stamp_and_exec runs through spawn; IDLE_MEMORY is read by the caller
# What the start-up benchmarks share.

# write_library COUNT : the store holds COUNT scripts of about 1 KiB each, "script number I",
# laid out as ZapRun writes it; with LAYOUT=line, each array on one line, as another program may.
write_library() {
    mkdir -p "$XDG_CONFIG_HOME/zaprun"
    python3 - "$1" "${LAYOUT:-}" >"$(store_file)" <<'PY'
import json, sys
count, layout = int(sys.argv[1]), sys.argv[2]
library = {"all scripts names": ["script number %d" % i for i in range(count)],
           "all scripts": ["# %s\necho %d\n" % ("#" * 1000, i) for i in range(count)]}
indent = None if layout == "line" else 4
print(json.dumps(library, indent=indent, sort_keys=True, ensure_ascii=False))
PY
    chmod 0600 "$(store_file)"
}

# Runs in the background job that spawn makes: stamps the time, then becomes the program.
stamp_and_exec() {
    printf '%s\n' "${EPOCHREALTIME/./}" >"$1"
    shift
    exec "$@"
}

# summary LABEL COLUMN : "median min max" of one column of one program's runs.
summary() {
    awk -v l="$1" -v c="$2" '$1 == l {print $c}' "$RESULTS" | sort -n |
        awk '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
             print m, v[1], v[NR]}'
}

# idle_memory PID LABEL : IDLE_MEMORY is "VmRSS Pss" in KiB after one idle second; then it ends.
idle_memory() {
    # The idle second is the quantity measured, not a wait for a condition.
    sleep 1
    alive "$1" || fail "run $RUN: $2 exited"
    IDLE_MEMORY="$(awk '/^VmRSS:/ {print $2}' "/proc/$1/status") $(awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup")"
    stop_process "$1"
}
