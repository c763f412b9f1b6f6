#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds ZapRun into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh
tools/ensure-packages.sh "${BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zaprun
exec build/zaprun "$@"
