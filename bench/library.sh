# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2317 # stamp_and_exec runs through spawn
# What the start-up benchmarks share.

# write_library COUNT : the store holds COUNT scripts of about 1 KiB each, "script number I".
write_library() {
    local i pad names=() bodies=()
    pad=$(printf '%*s' 1000 '' | tr ' ' '#')
    for ((i = 0; i < $1; i++)); do
        names+=("\"script number $i\"")
        bodies+=("\"# $pad\\necho $i\\n\"")
    done
    mkdir -p "$XDG_CONFIG_HOME/zaprun"
    printf '{\n    "all scripts names": [%s],\n    "all scripts": [%s]\n}\n' \
        "$(IFS=,; echo "${names[*]}")" "$(IFS=,; echo "${bodies[*]}")" >"$(store_file)"
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
