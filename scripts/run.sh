#!/usr/bin/env bash
# Builds the server (Release) and runs it from run/ with the bundled game mode.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/install.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQLM_TESTS=OFF -DQLM_BENCH=OFF
cmake --build build-release --target qlm-server -j"$(nproc)"

mkdir -p run
[ -e run/Main.lua ] || cp gamemodes/default/Main.lua run/Main.lua
cd run
exec ../build-release/qlm-server
