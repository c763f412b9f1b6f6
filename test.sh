#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds ZapRun and runs every test: unit and widget tests, end-to-end tests on Xvfb and the
# packaging checks, then the whole suite again under AddressSanitizer and UBSan. First the lint:
# every shell script through shellcheck, every C++ file through clang-format.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh
tools/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc)
status=0

run_suite() { # build-dir, extra cmake options...
    local dir=$1
    shift
    echo "=== $dir"
    cmake -S . -B "$dir" -G Ninja -DZAPRUN_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=1
}

lint() {
    local scripts sources
    mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
    mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')
    echo "=== lint: shellcheck ${#scripts[@]} scripts, clang-format ${#sources[@]} files"
    shellcheck "${scripts[@]}" || status=1
    clang-format --dry-run --Werror "${sources[@]}" || status=1
}

lint
echo "=== build-fuzz"
tools/fuzz.sh 30 || status=1

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAPRUN_BUILD_BENCH=ON
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZAPRUN_SANITIZE=ON

exit $status
