# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
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
