"""The felbrin module against the library's own programs: what it reads
equals what datinfo describes and mapconv writes, NaN exactly at invalid
pixels, every reader's failure as felbrin.Error, and no block left behind."""

import filecmp
import gc
import tracemalloc

import numpy as np
import pytest

import felbrin
from felbrin import _felbrin
from conftest import EXAMPLES, datinfo, run_tool

INVALID = 2147483640


def check_against_datinfo(path, data):
    info = datinfo(path)
    assert info["format"] == data.format
    valid = data.phase_raw[data.phase_raw < INVALID]
    assert info["valid_points"] == valid.size
    if valid.size:
        assert info["minimum"] == valid.min() and info["maximum"] == valid.max()
    assert (info["phase_x"], info["phase_y"]) == data.phase_origin
    assert (info["phase_height"], info["phase_width"]) == data.phase_raw.shape
    assert (info["intensity_buckets"], info["intensity_height"], info["intensity_width"]) == (
        data.intensity.shape if data.intensity.size else (0, 0, 0))
    for key in ("h076", "h162", "h188", "h210", "h218", "h798"):
        assert info[key] == data.header[key]
    assert info["h080"] == data.header["h080"]
    for key, value in data.source.items():
        assert info[key] == value


@pytest.mark.parametrize("options", [
    ("-w", "1", "-h", "1"),
    ("-w", "64", "-h", "48", "-b", "3"),
    ("-w", "5", "-h", "7", "-x", "100", "-y", "200", "-i", "0"),
    ("-w", "3", "-h", "2", "-i", "100"),
    ("-w", "1031", "-h", "1023", "-b", "1", "-l"),  # read in halves on two threads
])
def test_binary_and_ascii_files_read_as_datinfo_describes_them(make_data, tmp_path, options):
    path = make_data(*options)
    data = felbrin.read_data(path)
    check_against_datinfo(path, data)
    ascii = tmp_path / "copy.txt"
    felbrin.write_ascii(ascii, data)
    again = felbrin.read_data(ascii)
    assert again.format == "ascii"
    check_against_datinfo(ascii, again)
    np.testing.assert_array_equal(again.phase_raw, data.phase_raw)
    np.testing.assert_array_equal(again.intensity, data.intensity)


def test_bundled_sample_and_its_point_list(tmp_path):
    data = felbrin.read_data(EXAMPLES / "sample.dat")
    check_against_datinfo(EXAMPLES / "sample.dat", data)
    ours = tmp_path / "ours.txt"
    felbrin.write_point_list(ours, data)
    theirs = tmp_path / "theirs.txt"
    run_tool("mapconv", EXAMPLES / "sample.dat", theirs)
    assert filecmp.cmp(ours, theirs, shallow=False)


def test_nan_exactly_at_invalid_pixels(make_data):
    data = felbrin.read_data(make_data("-w", "40", "-h", "30", "-i", "25"))
    raw = data.phase_raw
    assert data.phase.dtype == np.float64 and data.valid.dtype == np.bool_
    np.testing.assert_array_equal(np.isnan(data.phase), raw >= INVALID)
    np.testing.assert_array_equal(data.valid, raw < INVALID)
    np.testing.assert_array_equal(data.phase[data.valid], raw[data.valid].astype(np.float64))


def test_arrays_outlive_the_object_they_came_from(make_data):
    data = felbrin.read_data(make_data("-w", "20", "-h", "10", "-b", "2"))
    raw, frames = data.phase_raw, data.intensity
    expected = raw.copy(), frames.copy()
    del data
    gc.collect()
    np.testing.assert_array_equal(raw, expected[0])
    np.testing.assert_array_equal(frames, expected[1])
    assert raw.base is not None  # a view over the library's buffer, not a copy


def test_writers_take_the_arrays_as_changed(make_data, tmp_path):
    data = felbrin.read_data(make_data("-w", "4", "-h", "3", "-i", "0"))
    data.phase_raw[0, 0] = INVALID
    out = tmp_path / "changed.txt"
    felbrin.write_ascii(out, data)
    assert felbrin.read_data(out).phase_raw[0, 0] >= INVALID
    data.phase_raw = np.zeros((2, 2), dtype=np.int32)  # no longer the window
    with pytest.raises(felbrin.Error) as e:
        felbrin.write_point_list(out, data)
    assert e.value.name == "ERR_INVALID_PARAM"
    data.phase_raw = np.zeros((2, 3, 4), dtype=np.int32)  # not even rows and columns
    for derived in ("phase", "valid"):
        with pytest.raises(felbrin.Error):
            getattr(data, derived)


def test_file_bytes_that_are_not_utf8_come_through_escaped(tmp_path):
    bad = write(tmp_path, "pairs.txt", b"1 2\n3 \xe9\n")
    with pytest.raises(felbrin.Error) as e:
        felbrin.read_pairs(bad)
    assert e.value.name == "ERR_CANT_READ_FILE" and "\\xe9" in e.value.message
    assert any("\\xe9" in text for _, _, _, text in felbrin.check(bad))


def write(tmp_path, name, content):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return path


@pytest.mark.parametrize("reader, name, content, code", [
    (felbrin.read_data, "missing.dat", None, "ERR_CANT_OPEN_FILE"),
    (felbrin.read_data, "x.txt", "not a data file\n", "ERR_NOT_A_DATA_FILE"),
    (felbrin.read_data, "y.txt", "Trel ASCII Data File - Format 2\n1 2 3\n", "ERR_CORRUPT_DATA_FILE"),
    (felbrin.read_data, "cut.dat", b"\x88\x1b\x03\x6f\x00", "ERR_PREMATURE_EOF"),
    (felbrin.read_ramp, "r.ramp", b"RAMQ", "ERR_PREMATURE_EOF"),
    (felbrin.read_ramp, "r2.ramp", b"XXXX" + bytes(400), "ERR_NOT_A_RAMP_FILE"),
    (felbrin.read_pairs, "p.txt", "1 2\n3\n", "ERR_CANT_READ_FILE"),
    (felbrin.read_bad_pixels, "b.dat", "[1 2 3 4 5]\n1 x\n", "ERR_CB_FILE_INVALID"),
    (felbrin.read_calibration, "c.cal", "Birch4 5 23 12345\nNoSuchKeyword 1\n", "ERR_SB_CALFILE_SYNTAX"),
])
def test_each_readers_failure_is_an_error_with_code_and_name(tmp_path, reader, name, content, code):
    path = tmp_path / name if content is None else write(tmp_path, name, content)
    with pytest.raises(felbrin.Error) as e:
        reader(path)
    assert e.value.name == code
    assert e.value.code > 0 and e.value.message


def test_the_other_readers_on_the_bundled_files(tmp_path):
    pairs = felbrin.read_pairs(EXAMPLES / "pairs.txt")
    assert pairs.dtype == np.float64 and pairs.ndim == 2 and pairs.shape[1] == 2
    sections = felbrin.read_bad_pixels(EXAMPLES / "camera" / "bpix_1234.dat")
    assert [(s.width, s.height, len(s.pixels)) for s in sections] == [(640, 480, 2), (320, 240, 1)]
    cal = felbrin.read_calibration(EXAMPLES / "calibration" / "kite.cal")
    assert cal.values["Camera Type"] and cal.messages[0][1] == "note"
    assert felbrin.check(EXAMPLES / "pairs.txt") == []
    assert felbrin.check(EXAMPLES / "sample.dat", kind="binary") == []


def test_check_says_what_calcheck_says(tmp_path):
    bad = write(tmp_path, "pairs.txt", "1 2\n3\n")
    assert felbrin.check(bad) == [
        (2, "error", 123, f"Error in data file {bad}"),
        (2, "error", 123, "Line 2: 3"),
        (None, "error", 123, "cannot be read: ERR_CANT_READ_FILE"),
    ]
    with pytest.raises(felbrin.Error):
        felbrin.check(bad, kind="bogus")


def test_no_block_is_left_behind_over_a_thousand_reads(make_data):
    path = make_data("-w", "64", "-h", "48", "-b", "2")
    felbrin.read_data(path)
    gc.collect()
    blocks = _felbrin._live_blocks()
    tracemalloc.start()
    before = tracemalloc.take_snapshot()
    for _ in range(1000):
        data = felbrin.read_data(path)
        data.phase
        del data
        try:
            felbrin.read_data(str(path) + ".missing")
        except felbrin.Error:
            pass
    gc.collect()
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    grown = sum(s.size_diff for s in after.compare_to(before, "filename"))
    assert grown < 64 * 1024
    assert _felbrin._live_blocks() == blocks
