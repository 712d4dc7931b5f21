# Type stub of the extension module qbr._core (the C++ library's API), for editors and
# type checkers. The package's own modules (Model, Result, sweep, plot) carry their
# annotations in the source.
from typing import Literal, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

_Point = Union[int, Tuple[float, float]]

class ModelError(Exception):
    """A model qbr cannot read or compute; .message is the program's text."""

    message: str

class RoughnessSettings:
    model: str
    rms: float
    sphere_radius: float
    spheres: float
    tile_area: float

class SuperconductorSettings:
    model: str
    tc_K: float
    rho_n_microohm_cm: float
    gap_meV: float
    lambda0: float

class PatchSettings:
    patch: int
    superconducting: bool
    sigma: float
    lambda_: float
    mu: float
    roughness: Optional[RoughnessSettings]
    superconductor: Optional[SuperconductorSettings]

class Settings:
    caption: str
    lengthunit: str
    gridsize: float
    frequency: float
    frequency_unit: str
    conductanceunit: str
    variables: str
    symmetry: str
    grid: str
    ah: float
    permittivity: Optional[float]
    losstangent: float
    temperature: Optional[float]
    temperature_unit: str
    accuracy: Optional[float]
    patches: list[PatchSettings]

class ElementOutline:
    element: int
    conductor: int
    patch: int
    points: npt.NDArray[np.float64]
    dielectric: bool

class Model:
    def __init__(self) -> None: ...
    @staticmethod
    def from_text(text: str, strict: bool = False) -> Model: ...
    @staticmethod
    def from_file(path: str, strict: bool = False) -> Model: ...
    def set_strict(self, strict: bool) -> Model: ...
    @property
    def strict(self) -> bool: ...
    @property
    def warnings(self) -> list[str]: ...
    def copy(self) -> Model: ...
    def statement(self, line: str) -> Model: ...
    def length_unit(self, unit: str) -> Model: ...
    def grid_size(self, g: float) -> Model: ...
    def frequency(self, value: float, unit: str = "hz") -> Model: ...
    def conductance_unit(self, unit: str) -> Model: ...
    def variables(self, word: str) -> Model: ...
    def symmetry(self, on: bool) -> Model: ...
    def grid(self, word: str) -> Model: ...
    def ah(self, h: float) -> Model: ...
    def lambda_(self, depth: float) -> Model: ...
    def sigma(self, s: float) -> Model: ...
    def caption(self, text: str) -> Model: ...
    def permittivity(self, relative: float) -> Model: ...
    def losstangent(self, tan_delta: float) -> Model: ...
    def patch(self, n: int, kind: str, sigma: Optional[float] = None,
              lambda_: Optional[float] = None, mu: Optional[float] = None) -> Model: ...
    def roughness(self, n: int, model: str, values: list[float] = ...) -> Model: ...
    def dielectric(self, n: int, permittivity: float, loss_tangent: float = ...,
                   stated_at: float | None = ..., unit: str = ...) -> Model: ...
    def layer(self, y1: float, y2: float, permittivity: float, loss_tangent: float = ...,
              stated_at: float | None = ..., unit: str = ...) -> Model: ...
    def temperature(self, value: float, unit: str = "k") -> Model: ...
    def mattis_bardeen_patch(self, n: int, tc_K: float, rho_n_microohm_cm: float,
                             gap_meV: float = 0.0) -> Model: ...
    def two_fluid_patch(self, n: int, tc_K: float, rho_n_microohm_cm: float,
                        lambda0: float) -> Model: ...
    def point(self, x: float, y: float) -> int: ...
    def line(self, c: int, p0: _Point, p1: _Point, patch: int, n: int) -> Model: ...
    def curve(self, c: int, p0: _Point, p1: _Point, p2: _Point, patch: int, n: int) -> Model: ...
    def circle(self, c: int, centre: _Point, r: float, ccw: bool, patch: int, n: int) -> Model: ...
    def rectangle(self, x1: float, x2: float, y1: float, y2: float, c: int, patch: int,
                  nx: int, ny: int) -> Model: ...
    def polyline_layer(self, layer: int, c: int, patch: int) -> Model: ...
    def import_polylines(self, file: str) -> Model: ...
    @property
    def settings(self) -> Settings: ...
    @property
    def point_count(self) -> int: ...
    @property
    def element_count(self) -> int: ...
    def outlines(self, points_per_element: int = 65) -> list[ElementOutline]: ...

class SolveOptions:
    threads: int
    grid_check: bool
    drawing_base: str
    solver: Literal["structured", "dense"]
    # Set to a callable progress(phase, done, total) (phase "fill" or "factorisation");
    # reads back whether one is set.
    progress: bool
    def __init__(self) -> None: ...

class LineParameters:
    permittivity_relative: float
    loss_tangent: float
    lossless: bool
    capacitance_F_per_m: npt.NDArray[np.float64]
    conductance_S_per_m: npt.NDArray[np.float64]
    characteristic_impedance_ohm: npt.NDArray[np.complex128]
    velocity_m_per_s: npt.NDArray[np.float64]
    delay_s_per_m: npt.NDArray[np.float64]
    attenuation_Np_per_m: npt.NDArray[np.float64]
    propagation_per_m: npt.NDArray[np.complex128]
    vacuum_capacitance_F_per_m: npt.NDArray[np.float64]
    dielectric_regions: str

class LineDetails:
    effective_permittivity: npt.NDArray[np.float64]
    conductor_attenuation_Np_per_m: npt.NDArray[np.float64]
    dielectric_attenuation_Np_per_m: npt.NDArray[np.float64]
    external_inductance_H_per_m: npt.NDArray[np.float64]
    internal_inductance_H_per_m: npt.NDArray[np.float64]
    internal_fraction: npt.NDArray[np.float64]
    pair: bool
    even_ohm: complex
    odd_ohm: complex
    differential_ohm: complex
    common_ohm: complex
    near_end_coupling: float
    far_end_coupling_s_per_m: float

def line_details(result: Result) -> LineDetails: ...

class PatchLoss:
    patch: int
    model: str
    rms_m: float
    sphere_radius_m: float
    spheres_per_m2: float
    skin_depth_m: float
    factor: float
    smooth_resistance_ohm_per_m: npt.NDArray[np.float64]

class RoughnessLosses:
    smooth_resistance_ohm_per_m: npt.NDArray[np.float64]
    patches: list[PatchLoss]
    flux_mismatch: float

class SuperconductorResponse:
    superconducting: bool
    gap_meV: float
    sigma1_S_per_m: float
    sigma2_S_per_m: float
    lambda_eff_m: float
    surface_impedance_ohm: complex

class SuperconductingPatch:
    patch: int
    kind: str
    tc_K: float
    response: SuperconductorResponse

class SuperconductorReport:
    temperature_K: float
    patches: list[SuperconductingPatch]
    external_inductance_H_per_m: npt.NDArray[np.float64]
    kinetic_inductance_H_per_m: npt.NDArray[np.float64]
    kinetic_fraction: npt.NDArray[np.float64]
    quality_factor_conductor: npt.NDArray[np.float64]

class Result:
    conductors: int
    frequency_Hz: float
    omega_rad_per_s: float
    mode: str
    nd: int
    has_return_conductor: bool
    length_unit: str
    length_unit_m: float
    impedance_ohm_per_m: npt.NDArray[np.complex128]
    inductance_H_per_m: npt.NDArray[np.float64]
    resistance_ohm_per_m: npt.NDArray[np.float64]
    printed: npt.NDArray[np.complex128]
    phase_times_s: dict[str, float]
    warnings: list[str]
    settings: Settings
    line_parameters: Optional[LineParameters]
    roughness: Optional[RoughnessLosses]
    superconductors: Optional[SuperconductorReport]
    def node_columns(self) -> dict[str, npt.NDArray]: ...
    def to_json(self, with_nodes: bool = True) -> str: ...
    @staticmethod
    def from_json(text: str) -> Result: ...

def solve(model: Model, options: SolveOptions = ...) -> Result: ...
def check(model: Model) -> list[str]: ...
def spice_model(result: Result, length_m: float, name: str = "qbr_line") -> str: ...
def touchstone(results: list[Result], length_m: float, reference_ohm: float = 50.0) -> str: ...
def touchstone_samples(frequencies_Hz: list[float], impedances_ohm_per_m: list[npt.ArrayLike],
                       admittances_S_per_m: list[npt.ArrayLike], length_m: float,
                       reference_ohm: float = 50.0, caption: str = "") -> str: ...
def scattering(frequency_Hz: float, impedance_ohm_per_m: npt.ArrayLike,
               admittance_S_per_m: npt.ArrayLike, length_m: float,
               reference_ohm: float = 50.0) -> npt.NDArray[np.complex128]: ...
def mattis_bardeen(tc_K: float, rho_n_microohm_cm: float, temperature_K: float,
                   frequency_Hz: float, gap_meV: float = 0.0) -> SuperconductorResponse: ...
def two_fluid(tc_K: float, rho_n_microohm_cm: float, lambda0_m: float, temperature_K: float,
              frequency_Hz: float) -> SuperconductorResponse: ...
def bcs_gap(reduced_temperature: float) -> float: ...
def mattis_bardeen_conductivity(hbar_omega_over_gap: float,
                                kT_over_gap: float) -> Tuple[float, float]: ...
def version() -> str: ...
