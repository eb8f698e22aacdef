#!/usr/bin/env bash
# Builds everything and starts the simulated instruments (quorvex-sim),
# linked as COM ports in a private configuration folder, until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

export XDG_CONFIG_HOME="${QUORVEX_DEMO_HOME:-$PWD/build/demo}/config"
export XDG_DATA_HOME="${QUORVEX_DEMO_HOME:-$PWD/build/demo}/data"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
exec build/bin/quorvex-sim "$@"
