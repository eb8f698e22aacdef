#!/usr/bin/env python3
"""End-to-end test of the whole program: the real QuorvexControlPanel binary
with its real libraries takes its tour (--tour) against quorvex-sim running in
a separate process, with private XDG folders and Qt's offscreen platform.
Afterwards it checks the tour's lines and pictures, what each simulated
instrument received (quorvex-sim --record) and the shared log file.

usage: tour_e2e.py PANEL SIM WORKDIR
"""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys

LIMIT = 180  # seconds for the tour; the two lamp ramps alone take about 30 s
PREFIXES = ("CQuorvex", "CAgilentE3633A", "CElapsedTimeCounter")
SEVERE = re.compile(r"; (Emergency|Alert|Critical|Error)\]:")
ORDER = (
    r"\]: Connecting to the Quorvex hardware\.",
    r"\]: CQuorvex .*has been detected",
    r"\]: CAgilentE3633A .*has been detected",
    r"\]: CElapsedTimeCounter .*has been detected",
    r"\]: Successfully connected to the Quorvex hardware\.",
    r"\]: CQuorvex .*Finished download of aperture calibration data",
    r"\]: CAgilentE3633A .*Ramp-up @ 100\.0% done",
    r"\]: CAgilentE3633A .*Ramp-down @ 100\.0% done",
)
STEP = re.compile(r"^step (\d): (.*) -> (.*\.png)$")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def read_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().splitlines()


def start_simulators(sim, env, records):
    proc = subprocess.Popen([sim, "--head", "1", "--psu", "2", "--counter", "3", "--record", records],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    # It announces itself once the three links exist; reading blocks until
    # then, and an early end closes the pipe.
    for line in proc.stdout:
        if line.startswith("Press Ctrl-C"):
            return proc
    proc.wait(timeout=30)
    sys.exit("quorvex-sim did not start")


def write_settings(config):
    folder = os.path.join(config, "Vandrel Scientific Ltd")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Quorvex Control Panel.conf"), "w") as f:
        # Log ceiling 7: every entry, the libraries' debug entries too.
        f.write("[Application%20Settings]\nLogCeiling=7\n"
                "QuorvexSerialSettings\\port=1\nAgilentSerialSettings\\port=2\nETCSerialSettings\\port=3\n")


def check_tour(result, shots):
    steps = [STEP.match(line) for line in result.stdout.splitlines()]
    steps = [m for m in steps if m]
    check(result.returncode == 0, f"the tour exited with {result.returncode}")
    check([int(m.group(1)) for m in steps] == list(range(1, 8)), "the tour did not print steps 1 to 7 in order")
    for m in steps:
        path = m.group(3)
        check(os.path.dirname(os.path.abspath(path)) == os.path.abspath(shots), f"{path} is not in {shots}")
        with open(path, "rb") as f:
            check(f.read(8) == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG file")
    text = {int(m.group(1)): m.group(2) for m in steps}
    check(text.get(1, "").startswith("Connected to Vandrel "), "step 1 does not report the connection")
    check("Lamp: ON" in text.get(2, ""), "step 2 does not report the lamp on")
    check("630" in text.get(3, ""), "step 3 did not pick 630 nm")
    check("Lamp: OFF" in text.get(6, ""), "step 6 does not report the lamp off")
    check("Disconnected" in text.get(7, ""), "step 7 does not report the disconnection")


def index_of(lines, pattern, start=0):
    for i in range(start, len(lines)):
        if re.fullmatch(pattern, lines[i]):
            return i
    return -1


def check_records(records):
    head = read_lines(os.path.join(records, "head.txt"))
    psu = read_lines(os.path.join(records, "psu.txt"))
    counter = read_lines(os.path.join(records, "counter.txt"))
    # The head: identified first, its tables downloaded, then one move.
    check(head[:1] == ["I?"], f"the head's first command was {head[:1]}, not I?")
    check(index_of(head, r"C[01]\?") > 0, "the head's tables were not asked for")
    check(index_of(head, r"P\(\d+,\d+\)") > index_of(head, r"C[01]\?"), "the head got no move after the download")
    # The supply: identified, ramped up to the lamp's current and down to
    # zero in steps, and back to local control last.
    check(index_of(psu, r"\*IDN\?") >= 0, "the supply was not identified")
    currents = [float(m.group(1)) for line in psu for m in [re.fullmatch(r"CURR(?:ent)? ([0-9.Ee+-]+)", line)] if m]
    top = currents.index(max(currents)) if currents else -1
    check(len(currents) > 10 and max(currents) > 0, f"the supply got {len(currents)} current set points")
    if top > 0:
        check(currents[:top + 1] == sorted(currents[:top + 1]), "the ramp-up's set points do not rise")
        check(currents[top:] == sorted(currents[top:], reverse=True), "the ramp-down's set points do not fall")
        check(currents[-1] == 0, "the ramp-down did not end at zero")
    check(psu[-1:] == ["SYST:LOC"], f"the supply's last command was {psu[-1:]}, not SYST:LOC")
    # The counter: queried for its hours and cycles.
    check(counter[:1] == ["I?"] and all(line.endswith("?") for line in counter),
          f"the counter got something else than queries: {counter[:5]}")


def check_log(data):
    logs = glob.glob(os.path.join(data, "Vandrel Scientific Ltd", "Quorvex Control Panel", "logs", "*.log"))
    if not check(len(logs) == 1, f"expected one log file, found {logs}"):
        return
    lines = read_lines(logs[0])
    entries = [line for line in lines if line.startswith("[")]
    check(len(entries) > 20, f"the log holds only {len(entries)} entries")
    for line in entries:
        check(not SEVERE.search(line), f"a severe entry: {line}")

    for prefix in PREFIXES:
        check(any("]: " + prefix + " " in line for line in entries), f"no entry of {prefix}")
    program = [line for line in entries if not any(("]: " + p) in line for p in PREFIXES)]
    check(len(program) > 0, "no entry of the program itself")
    # The session's milestones, each after the one before.
    at = 0
    for pattern in ORDER:
        found = next((i for i in range(at, len(entries)) if re.search(pattern, entries[i])), -1)
        if not check(found >= 0, f"no entry /{pattern}/ after entry {at}"):
            return
        at = found
    for prefix in PREFIXES:
        check(any(re.search(r"\]: " + prefix + r" .*Disconnecting from serial port", line) for line in entries[at:]),
              f"{prefix} did not disconnect after the ramp-down")


def main():
    panel, sim, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    config, data, home = (os.path.join(work, name) for name in ("config", "data", "home"))
    records, shots = os.path.join(work, "records"), os.path.join(work, "screenshots")
    for folder in (config, data, home):
        os.makedirs(folder)
    env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_DATA_HOME=data, HOME=home, QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)

    simulators = start_simulators(sim, env, records)
    try:
        write_settings(config)
        result = subprocess.run([panel, "--tour", shots], env=env, capture_output=True, text=True, timeout=LIMIT)
        print(result.stdout, end="")
        print(result.stderr, end="", file=sys.stderr)
    finally:
        simulators.send_signal(signal.SIGTERM)
        tail = simulators.communicate(timeout=30)[0]
    check(simulators.returncode == 0, f"quorvex-sim exited with {simulators.returncode}: {tail}")

    check_tour(result, shots)
    check_records(records)
    check_log(data)
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
