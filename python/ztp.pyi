"""ZTP particle-simulation caches as Python objects and NumPy arrays.

The library starts on first use: with CORIX_PATH set it loads the body
signatures as the converter does; without it, only the built-in body types.
Library failures raise ztp.Error.
"""

import os
from typing import Iterator, Mapping, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, "os.PathLike[str]"]
_Number = Union[int, float]
_Value = Union[int, float, str, Tuple[int, int, int], Tuple[float, float, float]]

class Error(RuntimeError):
    """A failure of the ZTP library: its message says what and where."""

class Layout:
    """A body's sparse tile layout (read-only): tiles of N^3 voxels."""
    tile_size: int
    voxel_size: float
    fine_tiles: int
    coarse_tiles: int

class Particles:
    """The particle channels of a body, rows in the converter's export order.

    particles[name] reads a channel: (n, 3) float32 for vec3f, (n, 3) int32
    for vec3i, (n,) float32, int32, int64 or int8 for scalars.
    """
    def __len__(self) -> int: ...
    @property
    def channels(self) -> list[str]: ...
    @property
    def types(self) -> dict[str, str]: ...
    def keys(self) -> list[str]: ...
    def __iter__(self) -> Iterator[str]: ...
    def __contains__(self, name: str) -> bool: ...
    def __getitem__(self, name: str) -> npt.NDArray[np.generic]: ...
    def __setitem__(self, name: str, values: npt.ArrayLike) -> None:
        """Adds or replaces a channel of a built body, rows in the order given to set_particles."""

class FieldChannel:
    """One field channel's values; unpacks as (values, tiles).

    values: (tiles, N, N, N) or (tiles, N, N, N, 3), indexed [tile, x, y, z].
    tiles: (tiles, 3) int32 tile coordinates; voxel (x, y, z) of tile t is
    the voxel N * tiles[t] + (x, y, z).
    """
    @property
    def name(self) -> str: ...
    @property
    def type(self) -> str: ...
    @property
    def values(self) -> npt.NDArray[np.generic]: ...
    @property
    def tiles(self) -> npt.NDArray[np.int32]: ...
    @property
    def background(self) -> Union[float, int, Tuple[float, float, float]]: ...
    @property
    def sample_set(self) -> int: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[npt.NDArray[np.generic]]: ...
    def __getitem__(self, index: int) -> npt.NDArray[np.generic]: ...

class Fields:
    """The field channels of a body; fields[name] gives a FieldChannel."""
    def __len__(self) -> int: ...
    @property
    def channels(self) -> list[str]: ...
    @property
    def types(self) -> dict[str, str]: ...
    def keys(self) -> list[str]: ...
    def __iter__(self) -> Iterator[str]: ...
    def __contains__(self, name: str) -> bool: ...
    def __getitem__(self, name: str) -> FieldChannel: ...

class Body:
    """A simulation body: values, a tile layout, shapes.

    Bodies of an open File are read-only; Body(name, type) builds a new one
    for write(), from the type's signature when one is loaded.
    """
    def __init__(self, name: str, type: str = "Body") -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def type(self) -> str: ...
    @property
    def values(self) -> dict[str, dict[str, _Value]]:
        """{section: {name: value}} evaluated at the file's time (0 for a built body)."""
    def expression(self, section: str, name: str) -> Union[str, Tuple[str, str, str]]: ...
    def value_type(self, section: str, name: str) -> str: ...
    def set_value(
        self,
        section: str,
        name: str,
        value: Union[_Number, bool, str, Sequence[Union[_Number, str]]],
        type: str | None = None,
    ) -> None: ...
    @property
    def layout(self) -> Layout: ...
    @property
    def shapes(self) -> list[str]: ...
    @property
    def particles(self) -> Particles | None: ...
    @property
    def fields(self) -> Fields | None: ...
    def set_particles(
        self,
        positions: npt.ArrayLike,
        voxel_size: float | None = None,
        tile_size: int = 9,
        **channels: npt.ArrayLike,
    ) -> npt.NDArray[np.int64]:
        """Gives a built body its particles; returns the stored order."""
    @property
    def source(self) -> str | None: ...
    @property
    def read_only(self) -> bool: ...

class File:
    """An open ZTP cache: its header and bodies. Use as a context manager."""
    @property
    def path(self) -> str: ...
    @property
    def version(self) -> int: ...
    @property
    def time(self) -> float: ...
    @property
    def bodies(self) -> list[Body]: ...
    @property
    def damage(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    def close(self) -> None: ...
    def __enter__(self) -> File: ...
    def __exit__(self, *args: object) -> None: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Body]: ...
    @overload
    def __getitem__(self, key: int) -> Body: ...
    @overload
    def __getitem__(self, key: str) -> Body: ...

class ExportSummary:
    """What to_txscene wrote (read-only): the particle count and the bounding box."""
    particles: int
    min: Tuple[float, float, float]
    max: Tuple[float, float, float]
    centre: Tuple[float, float, float]

def open(path: _Path, pattern: str = "*", strict: bool = True) -> File:
    """Opens a ZTP cache (versions 1 to 16) and reads its body records."""

def write(path: _Path, bodies: Sequence[Body], time: float = 0.0, compress: bool = True) -> None:
    """Writes the bodies to a version-16 ZTP cache, whole or not at all."""

def to_txscene(
    input: _Path, output: _Path, plugin_name: str, radius: float, fps: float, frame: float
) -> ExportSummary:
    """Converts a cache to a txscene file as ztp2txscene does."""

def body_types() -> list[str]: ...
def set_verbosity(level: str) -> None: ...
def verbosity() -> str: ...
