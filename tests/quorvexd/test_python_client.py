"""The quorvex Python package through PyVISA's pure-Python backend and
PyMeasure against quorvexd and quorvex-sim: a whole measurement session,
checked against the commands the simulated instruments recorded.

Run by ctest as: python3 test_python_client.py QUORVEXD QUORVEX_SIM PYTHON_DIR
"""
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

QUORVEXD, QUORVEX_SIM, PYTHON_DIR = sys.argv[1:4]
sys.path.insert(0, PYTHON_DIR)

from quorvex import QuorvexError, QuorvexLightSource  # noqa: E402

LIMIT_S = 30


def wait_for(predicate, what, limit=LIMIT_S):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("gave up waiting for " + what)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


class PythonClientTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        root = self.folder.name
        env = dict(os.environ, XDG_CONFIG_HOME=root + "/config", XDG_DATA_HOME=root + "/data")
        self.record = root + "/record"
        os.mkdir(self.record)
        self.sim_out = root + "/sim.out"
        self.sim = subprocess.Popen([QUORVEX_SIM, "--record", self.record], env=env,
                                    stdout=open(self.sim_out, "w"), stderr=subprocess.STDOUT)
        wait_for(lambda: "Press Ctrl-C" in read(self.sim_out), "the simulators")
        self.daemon_out = root + "/quorvexd.out"
        self.daemon = subprocess.Popen(
            [QUORVEXD, "--listen", "127.0.0.1:0", "--head", "COM1", "--supply", "COM2", "--counter", "COM3",
             "--log", root + "/quorvexd.log"],
            env=env, stdout=open(self.daemon_out, "w"), stderr=subprocess.DEVNULL)
        self.port = int(wait_for(lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)", read(self.daemon_out)),
                                 "quorvexd to listen").group(1))

    def tearDown(self):
        for process in (self.daemon, self.sim):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(LIMIT_S)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.folder.cleanup()

    def test_a_whole_session_over_pyvisa_and_pymeasure(self):
        source = QuorvexLightSource("TCPIP::127.0.0.1::%d::SOCKET" % self.port)
        wait_for(lambda: source.connected == (True, True, True), "the instruments")
        self.assertTrue(source.id.startswith("Vandrel Scientific Ltd,Quorvex Light Source,"))
        wait_for(lambda: source.ask("CAL:SER?").strip() != "-1", "the calibration download")

        source.move(1, 5)
        self.assertEqual(source.aperture, (1, 5))
        source.lamp_on()
        self.assertTrue(source.lamp_lit)
        self.assertGreater(source.current, 8.0)
        self.assertGreater(source.voltage, 0.0)
        self.assertEqual(len(source.temperatures), 4)
        radiance = source.radiance(550)
        self.assertGreater(radiance, 0.0)
        self.assertAlmostEqual(source.radiance(550.0), radiance)
        with self.assertRaises(QuorvexError) as raised:
            source.radiance(5000)
        self.assertEqual(raised.exception.code, -222)
        self.assertGreaterEqual(source.lamp_hours, 0.0)
        source.lamp_off()
        self.assertFalse(source.lamp_lit)
        self.assertEqual(source.errors(), [])
        source.adapter.connection.close()

        # The simulators write what they received when they stop.
        self.daemon.terminate()
        self.assertEqual(self.daemon.wait(LIMIT_S), 0)
        self.sim.terminate()
        self.sim.wait(LIMIT_S)
        head = read(self.record + "/head.txt").splitlines()
        supply = read(self.record + "/psu.txt").splitlines()
        self.assertIn("P(1,5)", head)
        for command in ("VOLT:PROT 15.000", "CURR:PROT 8.500", "OUTP ON", "CURR 8.333", "CURR 0.000"):
            self.assertIn(command, supply)
        self.assertLess(supply.index("CURR 8.333"), len(supply) - 1 - supply[::-1].index("CURR 0.000"))
        self.assertEqual(supply[-1], "SYST:LOC")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
