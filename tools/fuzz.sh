#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the store's reading of its file with libFuzzer for the given number of seconds
# (default 600). New inputs go to a scratch corpus; a crash leaves its input in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAPRUN_BUILD_FUZZ=ON -DZAPRUN_BUILD_TESTS=OFF -DZAPRUN_WERROR=ON >/dev/null
cmake --build build-fuzz --target fuzz_defaults
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
log=build-fuzz/fuzz.log
echo "fuzzing the store's reader for ${seconds} s (log: $log)"
if ! (cd build-fuzz && tests/fuzz/fuzz_defaults -max_total_time="$seconds" -timeout=10 \
        -dict=../tests/fuzz/defaults.dict "$scratch" ../tests/fuzz/corpus 2>fuzz.log); then
    grep -v '^zaprun:' "$log" | tail -60
    exit 1
fi
grep -E '^Done [0-9]+ runs' "$log"
