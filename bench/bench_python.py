"""Reading a 2048 x 2048 binary data file with both blocks into numpy through
the felbrin module, against the library's C++ reader alone (bench_read, the
same run) and a plain numpy reader of the same file (numpy.fromfile with
big-endian dtypes, written here for the comparison). Best of several runs,
the file in the page cache.

    PYTHONPATH=build/linux/python python3 bench/bench_python.py build/linux
"""

import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import felbrin

BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else "build/linux")
RUNS = 7
INVALID = 2147483640


def best(f):
    times = []
    for _ in range(RUNS):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return min(times)


def numpy_reader(path, header_bytes=834):
    """The plain reader: the geometry from the header, then both blocks."""
    raw = np.fromfile(path, dtype=np.uint8)
    be16 = lambda at: int(np.frombuffer(raw[at:at + 2].tobytes(), ">i2")[0])
    be32 = lambda at: int(np.frombuffer(raw[at:at + 4].tobytes(), ">i4")[0])
    iw, ih, buckets, ibytes = be16(52), be16(54), be16(56), be32(60)
    pw, ph = be16(68), be16(70)
    at = header_bytes
    intensity = np.frombuffer(raw[at:at + ibytes].tobytes(), ">u2").astype(np.uint16)
    intensity = intensity.reshape(buckets, ih, iw)
    at += ibytes
    phase_raw = np.frombuffer(raw[at:at + 4 * pw * ph].tobytes(), ">i4").astype(np.int32).reshape(ph, pw)
    phase = np.where(phase_raw < INVALID, phase_raw, np.nan)
    return intensity, phase_raw, phase


def main():
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "map.dat"
        subprocess.run([str(BUILD / "mkdatafile"), "-w", "2048", "-h", "2048", "-b", "5", str(path)],
                       check=True)
        module = best(lambda: felbrin.read_data(path))
        with_phase = best(lambda: felbrin.read_data(path).phase)
        ours = felbrin.read_data(path)
        intensity, phase_raw, phase = numpy_reader(path)
        np.testing.assert_array_equal(ours.phase_raw, phase_raw)
        np.testing.assert_array_equal(ours.intensity, intensity)
        np.testing.assert_array_equal(ours.phase, phase)
        plain = best(lambda: numpy_reader(path))
        cpp = float(subprocess.run([str(BUILD / "bench" / "bench_read"), str(path), str(RUNS)],
                                   check=True, capture_output=True, text=True).stdout)
    print(f"2048 x 2048, 5 frames: C++ reader {cpp:.4f} s; module {module:.4f} s "
          f"({module / cpp:.2f}x), with the float64 phase {with_phase:.4f} s "
          f"({with_phase / cpp:.2f}x); numpy reader (both blocks and the phase) {plain:.4f} s "
          f"({plain / with_phase:.2f}x the module's)")


main()
