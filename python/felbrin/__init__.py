"""The felbrin instrument-support library from Python.

Measurement data files (binary or ASCII) come as numpy arrays over the
library's own buffers; the calibration file, ramp files, coordinate pairs
and camera bad-pixel files through the library's own readers; ``check``
says what ``calcheck`` says about any file the library reads.

    >>> import felbrin
    >>> data = felbrin.read_data("sample.dat")
    >>> data.phase.shape, float(np.nanmax(data.phase))
    >>> felbrin.write_ascii("sample.txt", data)

Every failure raises :class:`Error` with the library's code, its name and
message.
"""

from typing import List, NamedTuple, Optional, Tuple

from . import _felbrin
from ._felbrin import DataFile


class Error(Exception):
    """A library error: ``code`` (int), ``name`` (``"ERR_..."``) and ``message``."""

    def __init__(self, code: int, name: str, message: str):
        super().__init__(f"{name} ({code}): {message}")
        self.code = code
        self.name = name
        self.message = message


_felbrin._set_error_type(Error)


class Calibration(NamedTuple):
    """A calibration file as read: ``values`` maps each keyword (as ``calcheck
    --show`` names it) to its values' text, or to a list of them when the
    keyword comes on several lines (``None`` for a flag); ``messages`` is the
    reader's notes as (line, severity, code, text)."""

    values: dict
    messages: list


class Ramp(NamedTuple):
    """A ramp data file: ``header`` by the record's field names, ``points``
    uint16 (nPoints,)."""

    header: dict
    points: "numpy.ndarray"


class BadPixelSection(NamedTuple):
    """One camera set-up of a bad-pixel file; ``pixels`` int32 (n, 2) of (x, y)."""

    grab_mode: int
    grab_under: int
    width: int
    height: int
    rate: float
    pixels: "numpy.ndarray"


def read_data(path: str) -> DataFile:
    """Reads a binary or ASCII data file (binary first) into a :class:`DataFile`.

    The arrays ``phase_raw`` and ``intensity`` own the buffers the library's
    reader filled (no copy); ``phase`` (float64, NaN at invalid pixels) and
    ``valid`` (bool) are made from ``phase_raw``. The interpreter lock is
    released while the file is read.
    """
    return _felbrin.read_data(str(path))


def write_ascii(path: str, data: DataFile) -> None:
    """Writes ``data`` as an ASCII data file with the library's writer,
    byte for byte as the C++ writer does."""
    _felbrin.write_ascii(str(path), data)


def write_point_list(path: str, data: DataFile) -> None:
    """Writes ``data``'s phase map as ``mapconv``'s point list, byte for byte."""
    _felbrin.write_point_list(str(path), data)


def check(path: str, kind: Optional[str] = None) -> List[Tuple[Optional[int], str, int, str]]:
    """What ``calcheck`` says about a file of any kind the library reads, as
    (line, severity, code, text) tuples; empty for a clean file. ``kind``
    names the kind as ``calcheck --kind`` does; by default it comes from the
    content or the name."""
    return _felbrin.check(str(path), kind)


def read_calibration(path: str) -> Calibration:
    """Reads a calibration file as the library does (found where the library
    finds it); raises :class:`Error` when the reader fails."""
    values, messages = _felbrin.read_calibration(str(path))
    return Calibration(values, messages)


def read_ramp(path: str) -> Ramp:
    """Reads a ramp data file: its header and its points."""
    header, points = _felbrin.read_ramp(str(path))
    return Ramp(header, points)


def read_pairs(path: str) -> "numpy.ndarray":
    """Reads a coordinate pair file: float64 (n, 2)."""
    return _felbrin.read_pairs(str(path))


def read_bad_pixels(path: str) -> List[BadPixelSection]:
    """Reads a camera bad-pixel file: one section per camera set-up."""
    return [BadPixelSection(*s) for s in _felbrin.read_bad_pixels(str(path))]


__all__ = [
    "BadPixelSection", "Calibration", "DataFile", "Error", "Ramp", "check", "read_bad_pixels",
    "read_calibration", "read_data", "read_pairs", "read_ramp", "write_ascii", "write_point_list",
]
