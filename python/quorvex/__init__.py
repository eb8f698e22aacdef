"""The Quorvex light source as served by quorvexd, for Python programs.

``QuorvexLightSource`` is a PyMeasure instrument: give it a VISA resource
such as ``"TCPIP::127.0.0.1::5025::SOCKET"`` (opened with PyVISA's
pure-Python backend unless another ``visa_library`` is given) or any
PyMeasure adapter.

    from quorvex import QuorvexLightSource
    source = QuorvexLightSource("TCPIP::127.0.0.1::5025::SOCKET")
    source.aperture = (1, 5)
    source.lamp_on()
    print(source.radiance(550.0), source.temperatures)
"""

import re

from pymeasure.instruments import Instrument

__all__ = ["QuorvexLightSource", "QuorvexError"]

PRIMARY_POSITIONS = 3
SECONDARY_POSITIONS = 12
# A ramp up takes 15 s, a ramp down 5 s; waits allow well over that.
RAMP_TIMEOUT_MS = 60000
MOVE_TIMEOUT_MS = 30000


class QuorvexError(Exception):
    """An error quorvexd reported for a command: ``code`` and ``text``."""

    def __init__(self, code, text):
        super().__init__("%d: %s" % (code, text))
        self.code = code
        self.text = text


def _position(values):
    return int(values[0]), int(values[1])


def _check_position(value, _values):
    primary, secondary = value
    if not (0 <= int(primary) < PRIMARY_POSITIONS and 0 <= int(secondary) < SECONDARY_POSITIONS):
        raise ValueError("an aperture position is (0..2, 0..11), not %r" % (value,))
    return int(primary), int(secondary)


class QuorvexLightSource(Instrument):
    """The light source: aperture wheels, lamp, readings and calibration."""

    def __init__(self, adapter, **kwargs):
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        if isinstance(adapter, str):
            kwargs.setdefault("visa_library", "@py")
        super().__init__(adapter, "Quorvex light source", includeSCPI=True, **kwargs)

    aperture = Instrument.control(
        "SOUR:APER?", "SOUR:APER %d,%d",
        """The aperture position as (primary 0..2, secondary 0..11). Setting it
        starts the move; ``wait()`` waits for it.""",
        validator=_check_position, get_process=_position)

    aperture_factor = Instrument.measurement(
        "SOUR:APER:FACT?", """The calibration's attenuation factor (%) of the current position.""")

    lamp_lit = Instrument.measurement(
        "OUTP?", """True once the lamp has been ramped up.""", get_process=lambda v: bool(int(v)))

    ramp_progress = Instrument.measurement("OUTP:RAMP:PROG?", """The running ramp's progress, 0 to 100.""")

    current = Instrument.measurement("MEAS:CURR?", """The supply's measured lamp current (A).""")
    voltage = Instrument.measurement("MEAS:VOLT?", """The supply's measured lamp voltage (V).""")
    temperatures = Instrument.measurement(
        "MEAS:TEMP?", """The head's four temperatures (deg C): motor enclosure, bulb
        enclosure, primary motor, secondary motor.""")
    bulb_temperature = Instrument.measurement("MEAS:TEMP? BULB", """The bulb enclosure's temperature (deg C).""")
    lamp_hours = Instrument.measurement("MEAS:HOUR?", """The lamp's operating hours.""")
    power_cycles = Instrument.measurement("MEAS:CYCL?", """The lamp's power cycles.""",
                                          get_process=lambda v: int(v))
    connected = Instrument.measurement(
        "SYST:CONN?", """(head, supply, counter): True for each instrument quorvexd holds.""",
        get_process=lambda v: tuple(bool(int(x)) for x in v))

    def radiance(self, wavelength_nm):
        """The spectral radiance (W/m^2/sr/nm) delivered now at that wavelength."""
        return float(self._ask_checked("SOUR:RAD? %.6g" % wavelength_nm))

    def move(self, primary, secondary, wait=True):
        """Moves the aperture wheels; with ``wait`` returns once they are there."""
        self.aperture = (primary, secondary)
        if wait:
            self.wait(MOVE_TIMEOUT_MS)

    def home(self, wait=True):
        """Homes both wheels; with ``wait`` returns once they are home."""
        self.write("SOUR:APER:HOME")
        if wait:
            self.wait(MOVE_TIMEOUT_MS)

    def lamp_on(self, wait=True):
        """Ramps the lamp up (15 s); with ``wait`` returns once it is lit."""
        self.write("OUTP ON")
        if wait:
            self.wait(RAMP_TIMEOUT_MS)
        self.check_errors()

    def lamp_off(self, wait=True):
        """Ramps the lamp down (5 s); with ``wait`` returns once it is off."""
        self.write("OUTP OFF")
        if wait:
            self.wait(RAMP_TIMEOUT_MS)
        self.check_errors()

    def abort(self):
        """Stops a ramp-up; the lamp is ramped back down."""
        self.write("ABOR")

    def wait(self, timeout_ms=MOVE_TIMEOUT_MS):
        """Returns once every operation this client started has ended."""
        connection = getattr(self.adapter, "connection", None)
        previous = getattr(connection, "timeout", None)
        if previous is not None:
            connection.timeout = timeout_ms
        try:
            self.ask("*OPC?")
        finally:
            if previous is not None:
                connection.timeout = previous

    def display(self, text):
        """Shows ``text`` (printable ASCII, no quotes) on the supply's display."""
        self.write('DISP:TEXT "%s"' % text)

    def lock(self):
        """True when this client now holds the control lock."""
        return self.ask("SYST:LOCK:REQ?").strip() == "1"

    def unlock(self):
        self.write("SYST:LOCK:REL")

    def errors(self):
        """Every queued error as (code, text), oldest first; empties the queue."""
        found = []
        for _ in range(32):
            reply = self.ask("SYST:ERR?").strip()
            code, _, text = reply.partition(",")
            if int(code) == 0:
                break
            found.append((int(code), text.strip('"').replace('""', '"')))
        return found

    def check_errors(self):
        """Raises QuorvexError for the oldest queued error, if any."""
        found = self.errors()
        if found:
            raise QuorvexError(*found[0])
        return found

    def _ask_checked(self, command):
        # A query that fails has no reply: its error is asked for first.
        self.write(command + ";SYST:ERR?")
        reply = self.read().strip()
        match = _CHECKED_REPLY.match(reply)
        if not match:
            raise QuorvexError(-100, "unexpected reply %r" % reply)
        value, code, text = match.groups()
        if int(code) != 0:
            raise QuorvexError(int(code), text.replace('""', '"'))
        return value or ""


# "<reply>;<code>,"<text>"", or the error alone when the query failed.
_CHECKED_REPLY = re.compile(r'^(?:(.*?);)?(-?\d+),"(.*)"$')
