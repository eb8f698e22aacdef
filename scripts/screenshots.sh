#!/usr/bin/env bash
# Renders the control panel's windows into PNG files under
# build/screenshots/ (panel-screenshots on Qt's offscreen platform, no
# display needed) and prints their paths. Configures ./build if it has not
# been configured yet, and builds only the screenshot tool.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build --target panel-screenshots

out=build/screenshots
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen build/bin/panel-screenshots "$out"
