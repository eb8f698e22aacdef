#!/usr/bin/env bash
# The demo: builds everything, starts the simulated instruments (quorvex-sim)
# on COM1..COM3 in private folders under build/demo, points the program's
# settings at them and opens the control panel. Closing the panel stops the
# simulators. Without a display (neither DISPLAY nor WAYLAND_DISPLAY) the
# panel runs under Xvfb and takes its own tour (--tour), saving a picture of
# each step under build/demo/screenshots.
#
# QUORVEX_BUILD_DIR picks another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${QUORVEX_BUILD_DIR:-build}"

bash scripts/setup-debian.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"

demo="$PWD/$build/demo"
export XDG_CONFIG_HOME="$demo/config"
export XDG_DATA_HOME="$demo/data"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
ports="$XDG_CONFIG_HOME/Vandrel Scientific Ltd/ports"

sim_pid=""
stop_simulators() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid"
    wait "$sim_pid" || true
  fi
}
trap stop_simulators EXIT

"$build/bin/quorvex-sim" --head 1 --psu 2 --counter 3 &
sim_pid=$!

# The links appear once the simulators run; a start that fails ends the
# process instead.
for _ in $(seq 1 200); do
  if [ -e "$ports/COM1" ] && [ -e "$ports/COM2" ] && [ -e "$ports/COM3" ]; then break; fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: quorvex-sim did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if ! [ -e "$ports/COM1" ] || ! [ -e "$ports/COM2" ] || ! [ -e "$ports/COM3" ]; then
  echo "demo: the simulators' COM links did not appear in $ports" >&2
  exit 1
fi

# The program's settings (QSettings, native format) with the three ports on
# the simulators; any other setting already there is kept.
python3 - "$XDG_CONFIG_HOME/Vandrel Scientific Ltd/Quorvex Control Panel.conf" <<'EOF'
import os, sys
path = sys.argv[1]
section = "[Application%20Settings]"
ports = {"QuorvexSerialSettings\\port": "1", "AgilentSerialSettings\\port": "2",
         "ETCSerialSettings\\port": "3"}
lines = open(path).read().splitlines() if os.path.exists(path) else []
if section not in lines:
    lines += ([""] if lines else []) + [section]
start = lines.index(section) + 1
end = next((i for i in range(start, len(lines)) if lines[i].startswith("[")), len(lines))
body = [l for l in lines[start:end] if l.split("=", 1)[0] not in ports]
body = [f"{k}={v}" for k, v in ports.items()] + [l for l in body if l.strip()]
lines[start:end] = body + ([""] if end < len(lines) else [])
os.makedirs(os.path.dirname(path), exist_ok=True)
open(path, "w").write("\n".join(lines) + "\n")
EOF

panel="$build/bin/QuorvexControlPanel"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shots="$demo/screenshots"
  rm -rf "$shots"
  echo "No display: the panel takes its tour under Xvfb; pictures go to $shots"
  status=0
  xvfb-run -a "$panel" --tour "$shots" || status=$?
  echo "Screenshots:"
  ls -1 "$shots"/*.png 2>/dev/null || echo "  (none)"
  echo "Log: $(ls -1t "$XDG_DATA_HOME"/*/*/logs/*.log 2>/dev/null | head -n 1)"
  exit "$status"
fi
"$panel"
