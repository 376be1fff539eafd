# Type stubs of the felbrin package, for editors and type checkers.
from typing import Any, Dict, List, NamedTuple, Optional, Tuple

import numpy as np
import numpy.typing as npt

class Error(Exception):
    code: int
    name: str
    message: str
    def __init__(self, code: int, name: str, message: str) -> None: ...

class DataFile:
    format: str
    phase_raw: npt.NDArray[np.int32]
    intensity: npt.NDArray[np.uint16]
    @property
    def phase(self) -> npt.NDArray[np.float64]: ...
    @property
    def valid(self) -> npt.NDArray[np.bool_]: ...
    @property
    def phase_origin(self) -> Tuple[int, int]: ...
    @property
    def intensity_origin(self) -> Tuple[int, int]: ...
    @property
    def aux(self) -> int: ...
    @property
    def header(self) -> Dict[str, Any]: ...
    @property
    def source(self) -> Dict[str, Any]: ...

class Calibration(NamedTuple):
    values: Dict[str, Any]
    messages: List[Tuple[Optional[int], str, int, str]]

class Ramp(NamedTuple):
    header: Dict[str, Any]
    points: npt.NDArray[np.uint16]

class BadPixelSection(NamedTuple):
    grab_mode: int
    grab_under: int
    width: int
    height: int
    rate: float
    pixels: npt.NDArray[np.int32]

def read_data(path: str) -> DataFile: ...
def write_ascii(path: str, data: DataFile) -> None: ...
def write_point_list(path: str, data: DataFile) -> None: ...
def check(path: str, kind: Optional[str] = ...) -> List[Tuple[Optional[int], str, int, str]]: ...
def read_calibration(path: str) -> Calibration: ...
def read_ramp(path: str) -> Ramp: ...
def read_pairs(path: str) -> npt.NDArray[np.float64]: ...
def read_bad_pixels(path: str) -> List[BadPixelSection]: ...
