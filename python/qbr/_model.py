"""Models and results: the keyword face of qbr's C++ model and result."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Sequence, Union

import numpy as np

from . import _core

if TYPE_CHECKING:  # pandas is imported when a table is first asked for
    import pandas

ModelError = _core.ModelError

#: A point of the model: its number (from :meth:`Model.pt`) or its coordinates.
PointRef = Union[int, Sequence[float]]

_SETTING_DEFAULTS = {
    "cc": None,
    "lengthunit": "um",
    "gridsize": 1.0,
    "frequency": 1.0,
    "frequency_unit": "mhz",
    "conductanceunit": "ms/m",
    "variables": "phases",
    "symmetry": False,
    "grid": "graded",
    "ah": 1.0,
    "lambda_": 0.0,
    "sigma": 0.0,
    "permittivity": None,
    "losstangent": 0.0,
    "temperature": None,
}


def _replay(steps: list) -> "Model":
    """Rebuilds a model from its recorded steps (pickling: models go to worker processes)."""
    kind, source, strict = steps[0]
    model = Model.__new__(Model)
    if kind == "text":
        model._core = _core.Model.from_text(source, strict)
    elif kind == "file":
        model._core = _core.Model.from_file(source, strict)
    else:
        model._core = _core.Model()
    model._core.set_strict(strict)
    model._steps = [steps[0]]
    for name, args in steps[1:]:
        getattr(model, name)(*args)
    return model


class Model:
    """A cross-section to compute, as an input file describes it.

    Build it from a file (:meth:`from_file`), from the text of one (:meth:`from_text`),
    or statement by statement with the methods below, which are named after the input
    keywords, take their tokens in the same order and with the same defaults, and go
    through the program's own reader: the same checks, capacities and messages (a
    statement it refuses raises :class:`ModelError`, naming "line n of the model").
    The builder is strict: a call the reader doubts (a unit or setting word it does not
    know, a patch kind other than ``sc`` and ``nc``, a grid count outside 3..500, a
    conductivity beyond any metal's) raises :class:`ModelError` from that call and leaves
    the model as it was.
    Lengths are in the model's length unit. Builder methods return the model, so calls
    chain::

        m = qbr.Model(lengthunit="um", frequency=10, frequency_unit="ghz", lambda_=0.09, ah=0.02)
        m.rect(-10, 10, -0.2, 0, c=0, nx=500, ny=10).rect(-1, 1, 0.2, 0.4, c=1, nx=100, ny=10)
        result = m.solve()

    ``lambda`` is a Python keyword, so the penetration depth is ``lambda_``.
    """

    def __init__(
        self,
        *,
        cc: str | None = None,
        lengthunit: str = "um",
        gridsize: float = 1.0,
        frequency: float = 1.0,
        frequency_unit: str = "mhz",
        conductanceunit: str = "ms/m",
        variables: str = "phases",
        symmetry: bool | str = False,
        grid: str = "graded",
        ah: float = 1.0,
        lambda_: float = 0.0,
        sigma: float = 0.0,
        permittivity: float | None = None,
        losstangent: float = 0.0,
        temperature: float | None = None,
    ) -> None:
        """Settings as keywords, defaulted as in an input file, except ``grid``: a model
        built in code grades its grids, as the library's do (``grid="uniform"`` for an
        input file's even grid), and its grids, when no element gives a count and ``ah``
        is not set, are chosen and refined until every entry is resolved to 1e-3 (as
        ``accuracy(1e-3)``). Only settings that differ from the defaults become
        statements."""
        self._core = _core.Model()
        self._core.set_strict(True)
        self._steps: list = [("new", None, True)]
        given = dict(cc=cc, lengthunit=lengthunit, gridsize=gridsize, frequency=frequency,
                     frequency_unit=frequency_unit, conductanceunit=conductanceunit,
                     variables=variables, symmetry=symmetry, grid=grid, ah=ah, lambda_=lambda_,
                     sigma=sigma, permittivity=permittivity, losstangent=losstangent,
                     temperature=temperature)
        for name, value in given.items():
            if name == "frequency_unit" or value == _SETTING_DEFAULTS[name]:
                continue
            if name == "frequency":
                self.frequency(frequency, frequency_unit)
            else:
                getattr(self, name)(value)
        if frequency == 1.0 and frequency_unit != "mhz":
            self.frequency(frequency, frequency_unit)

    # -- reading ---------------------------------------------------------------------

    @classmethod
    def from_text(cls, text: str, strict: bool = True) -> "Model":
        """The model of an input file's whole text ("dxc" files are looked for relative
        to the current directory, as the program does).

        strict: a line the reader doubts (a word that is no keyword, an unknown setting
        word or patch kind, a number with letters after it, a conductivity beyond any
        metal's) raises :class:`ModelError` naming the line, as ``qbr --strict`` stops.
        ``strict=False`` reads such lines as the program does without ``--strict`` and
        keeps the warnings in :attr:`warnings` (and the result's ``warnings``)."""
        model = cls.__new__(cls)
        model._core = _core.Model.from_text(text, bool(strict))
        model._steps = [("text", text, bool(strict))]
        return model

    @classmethod
    def from_file(cls, path: str | os.PathLike, strict: bool = True) -> "Model":
        """The model of an input file; ``strict`` as for :meth:`from_text`."""
        model = cls.__new__(cls)
        model._core = _core.Model.from_file(os.fspath(path), bool(strict))
        model._steps = [("file", os.path.abspath(os.fspath(path)), bool(strict))]
        return model

    def copy(self) -> "Model":
        """An independent copy: statements added to either leave the other as it is."""
        model = Model.__new__(Model)
        model._core = self._core.copy()
        model._steps = list(self._steps)
        return model

    def __reduce__(self):
        return _replay, (self._steps,)

    def _add(self, name: str, *args: Any) -> None:
        self._steps.append((name, args))

    # -- statements ------------------------------------------------------------------

    def statement(self, line: str) -> "Model":
        """One line in the input file's syntax, e.g. ``"rect -1 1 0.2 0.4 1 0 100 10"``."""
        self._core.statement(line)
        self._add("statement", line)
        return self

    def cc(self, text: str) -> "Model":
        """``cc``: the caption."""
        self._core.caption(text)
        self._add("cc", text)
        return self

    def lengthunit(self, unit: str = "um") -> "Model":
        """``lengthunit``: ``m``, ``cm``, ``mm`` or ``um``, for every length of the model."""
        self._core.length_unit(unit)
        self._add("lengthunit", unit)
        return self

    def gridsize(self, g: float = 1.0) -> "Model":
        """``gridsize``: scale factor for every coordinate and radius (not ``ah``, ``lambda``)."""
        self._core.grid_size(g)
        self._add("gridsize", g)
        return self

    def frequency(self, f: float = 1.0, unit: str = "mhz") -> "Model":
        """``frequency f [unit]``: unit ``hz``, ``khz``, ``mhz`` (the default) or ``ghz``."""
        self._core.frequency(f, unit)
        self._add("frequency", f, unit)
        return self

    def conductanceunit(self, unit: str = "ms/m") -> "Model":
        """``conductanceunit``: ``s/m``, or ``ms/m`` for megasiemens per metre (the default)."""
        self._core.conductance_unit(unit)
        self._add("conductanceunit", unit)
        return self

    def variables(self, word: str = "phases") -> "Model":
        """``variables``: ``phases`` (inductance report) or ``impedance`` (R + jX report)."""
        self._core.variables(word)
        self._add("variables", word)
        return self

    def symmetry(self, on: bool | str = False) -> "Model":
        """``symmetry``: True or ``"on"`` makes the line y = 0 an ideal ground plane."""
        if isinstance(on, (bool, np.bool_)):
            flag = bool(on)
        elif str(on).lower() in ("on", "off"):
            flag = str(on).lower() == "on"
        else:
            raise ModelError(f'symmetry: {on!r} is neither True, False, "on" nor "off"')
        self._core.symmetry(flag)
        self._add("symmetry", flag)
        return self

    def grid(self, word: str = "graded") -> "Model":
        """``grid``: ``graded`` clusters every element's nodes toward its corners and
        integrates the pieces next to each node to second order (the default of a model
        built in code); ``uniform`` spreads them evenly (the default of input files)."""
        self._core.grid(word)
        self._add("grid", word)
        return self

    def ah(self, h: float = 1.0) -> "Model":
        """``ah``: node spacing, in length units, for elements without a grid count."""
        self._core.ah(h)
        self._add("ah", h)
        return self

    def lambda_(self, depth: float = 0.0) -> "Model":
        """``lambda``: London penetration depth of patch 0, in length units."""
        self._core.lambda_(depth)
        self._add("lambda_", depth)
        return self

    def sigma(self, s: float = 0.0) -> "Model":
        """``sigma``: conductivity of patch 0, in the ``conductanceunit``."""
        self._core.sigma(s)
        self._add("sigma", s)
        return self

    def permittivity(self, eps_r: float) -> "Model":
        """``permittivity``: relative permittivity of the homogeneous dielectric round the
        conductors; the solve then also computes the capacitance and the line parameters
        (``Result.C``, ``Z0``, ``velocity``, ``line``)."""
        self._core.permittivity(eps_r)
        self._add("permittivity", eps_r)
        return self

    def accuracy(self, tolerance: float = 1e-3) -> "Model":
        """``accuracy``: the grids are chosen and refined until every printed entry's
        estimated relative error is at most ``tolerance`` (as ``solve(tolerance=...)``)."""
        self._core.accuracy(tolerance)
        self._add("accuracy", tolerance)
        return self

    def losstangent(self, tan_delta: float = 0.0) -> "Model":
        """``losstangent``: tan(delta) of that dielectric, for G = omega tan(delta) C."""
        self._core.losstangent(tan_delta)
        self._add("losstangent", tan_delta)
        return self

    def patch(self, n: int, kind: str, sigma: float | None = None, lambda_: float | None = None,
              mu: float | None = None) -> "Model":
        """``patch n kind [sigma [lambda [mu]]]``: kind ``sc`` (superconductor) or ``nc``
        (normal metal); values left out (None) keep what the patch had. Superconductors
        given by their transition temperature: :meth:`patch_mb`, :meth:`patch_twofluid`."""
        if str(kind).lower() in ("mb", "twofluid"):
            raise ModelError(f"patch: kind {kind!r} takes Tc and rho_n, not sigma and lambda: "
                             f"use patch_{str(kind).lower()}(n, tc, rho_n, ...)")
        self._core.patch(n, kind, sigma, lambda_, mu)
        self._add("patch", n, kind, sigma, lambda_, mu)
        return self

    def roughness(self, n: int, model: str, *values: float) -> "Model":
        """``roughness n model values``: the surface roughness of normal-metal patch n,
        lengths in the model's length unit: ``roughness(0, "hammerstad", rms)``,
        ``roughness(0, "groisse", rms)``, ``roughness(0, "huray", radius, spheres_per_area)``
        or ``roughness(0, "huray", radius, spheres, tile_area)``; ``roughness(0, "none")``
        makes it smooth again. The result's R then includes it (``R_smooth`` without)."""
        self._core.roughness(n, model, [float(v) for v in values])
        self._add("roughness", n, model, *values)
        return self

    def dielectric(self, n: int, eps_r: float, tan_delta: float = 0.0,
                   stated_at: float | None = None, unit: str = "mhz") -> "Model":
        """``dielectric n er [tand [f [unit]]]``: the elements of patch n (any kind, either
        sense) outline a region of dielectric with relative permittivity ``eps_r`` and
        loss tangent ``tan_delta``; with ``stated_at`` (a frequency in ``unit``) they are
        the values there of a causal wideband Debye model. Regions may nest, share sides
        and overlap the metal, which wins."""
        self._core.dielectric(n, eps_r, tan_delta, stated_at, unit)
        self._add("dielectric", n, eps_r, tan_delta, stated_at, unit)
        return self

    def layer(self, y1: float, y2: float, eps_r: float, tan_delta: float = 0.0,
              stated_at: float | None = None, unit: str = "mhz") -> "Model":
        """``layer y1 y2 er [tand [f [unit]]]``: a horizontal slab of dielectric between
        the heights y1 and y2, running sideways beyond everything else (a stack-up)."""
        self._core.layer(y1, y2, eps_r, tan_delta, stated_at, unit)
        self._add("layer", y1, y2, eps_r, tan_delta, stated_at, unit)
        return self

    def patch_mb(self, n: int, tc: float, rho_n: float, gap: float = 0.0) -> "Model":
        """``patch n mb Tc rho_n [gap]``: a superconductor with the Mattis-Bardeen
        conductivity (local, dirty limit) at the model's :meth:`temperature` and frequency.
        tc: transition temperature in K (0 when ``gap`` is given); rho_n: normal-state
        resistivity in microohm cm (niobium films about 5); gap: Delta at T = 0 in meV when
        it is not 1.764 k Tc (the temperature dependence stays that of BCS theory)."""
        self._core.mattis_bardeen_patch(n, tc, rho_n, gap)
        self._add("patch_mb", n, tc, rho_n, gap)
        return self

    def patch_twofluid(self, n: int, tc: float, rho_n: float, lambda0: float) -> "Model":
        """``patch n twofluid Tc rho_n lambda0``: the two-fluid superconductor,
        lambda = lambda0 / sqrt(1 - (T/Tc)^4) (lambda0 in length units) with the normal
        fluid sigma1 = sigma_n (T/Tc)^4, sigma_n = 1 / rho_n (rho_n in microohm cm)."""
        self._core.two_fluid_patch(n, tc, rho_n, lambda0)
        self._add("patch_twofluid", n, tc, rho_n, lambda0)
        return self

    def temperature(self, t: float, unit: str = "k") -> "Model":
        """``temperature t [unit]``: the temperature of the patches of kinds ``mb`` and
        ``twofluid`` (the others do not depend on it); unit ``k`` (kelvin) or ``mk``."""
        self._core.temperature(t, unit)
        self._add("temperature", t, unit)
        return self

    def pt(self, x: float, y: float) -> int:
        """``pt``: a basic point; returns its number (that of an earlier point within 1e-7)."""
        number = self._core.point(x, y)
        self._add("pt", x, y)
        return number

    @staticmethod
    def _points(*refs: PointRef) -> tuple[bool, list]:
        numbered = [isinstance(p, (int, np.integer)) for p in refs]
        if all(numbered):
            return True, [int(p) for p in refs]
        if any(numbered):
            raise TypeError("give all points of an element by number or all by coordinates")
        return False, [(float(p[0]), float(p[1])) for p in refs]

    def line(self, c: int, p0: PointRef, p1: PointRef, patch: int = 0, n: int = 0) -> "Model":
        """``line c p0 p1 [patch [n]]`` (points by number) or ``el 0`` (by coordinates):
        a straight element of conductor c; n = 0 lets ``ah`` choose the grid count."""
        _, points = self._points(p0, p1)
        self._core.line(c, *points, patch, n)
        self._add("line", c, p0, p1, patch, n)
        return self

    def curve(self, c: int, p0: PointRef, p1: PointRef, p2: PointRef, patch: int = 0,
              n: int = 0) -> "Model":
        """``curve`` / ``el 1``: a parabolic arc from p0 through p1 (its middle) to p2."""
        _, points = self._points(p0, p1, p2)
        self._core.curve(c, *points, patch, n)
        self._add("curve", c, p0, p1, p2, patch, n)
        return self

    def circle(self, c: int, centre: PointRef, r: float, dir: str = "+", patch: int = 0,
               n: int = 0) -> "Model":
        """``circle`` / ``el 2``: a full circle; dir ``"+"`` counter-clockwise, ``"-"`` clockwise."""
        if dir not in ("+", "-"):
            raise ModelError(f'circle: the direction {dir!r} is neither "+" nor "-"')
        _, (point,) = self._points(centre)
        self._core.circle(c, point, r, dir == "+", patch, n)
        self._add("circle", c, centre, r, dir, patch, n)
        return self

    def rect(self, x1: float, x2: float, y1: float, y2: float, c: int = 0, patch: int = 0,
             nx: int = 0, ny: int = 0) -> "Model":
        """``rect x1 x2 y1 y2 [c [patch [nx [ny]]]]``: four straight elements, counter-clockwise
        for x1 < x2 and y1 < y2; nx nodes on the sides along x, ny on those along y."""
        self._core.rectangle(x1, x2, y1, y2, c, patch, nx, ny)
        self._add("rect", x1, x2, y1, y2, c, patch, nx, ny)
        return self

    def pl(self, layer: int, c: int, patch: int) -> "Model":
        """``pl layer c patch``: polylines of this layer in later ``dxc`` files become
        elements of conductor c and this patch."""
        self._core.polyline_layer(layer, c, patch)
        self._add("pl", layer, c, patch)
        return self

    def dxc(self, file: str | os.PathLike) -> "Model":
        """``dxc file``: imports the closed polylines of a polyline file now."""
        self._core.import_polylines(os.fspath(file))
        self._add("dxc", os.fspath(file))
        return self

    # -- what the model holds --------------------------------------------------------

    @property
    def settings(self) -> _core.Settings:
        """The settings as they stand (words lower-cased, numbers as written)."""
        return self._core.settings

    @property
    def warnings(self) -> list[str]:
        """What the reader doubted but read (a model read with ``strict=False``), each
        naming its line; the solve reports them first among the result's ``warnings``."""
        return list(self._core.warnings)

    @property
    def point_count(self) -> int:
        return self._core.point_count

    @property
    def element_count(self) -> int:
        return self._core.element_count

    def outlines(self, points_per_element: int = 65) -> list[_core.ElementOutline]:
        """Every element's outline (element, conductor, patch, points as an (n, 2) array
        in length units after ``gridsize``), for drawings."""
        return self._core.outlines(points_per_element)

    def check(self) -> list[str]:
        """The checks a solve makes before its grids (units and materials; outlines closed,
        run the right way, nested, not touching; dielectric regions), without solving:
        returns the warnings a solve would report first, and raises :class:`ModelError`
        with the solve's message where a solve would stop there. Milliseconds: for
        editors that check a model as it is typed."""
        return list(_core.check(self._core))

    def solve(self, threads: int | None = None, grid_check: bool = True, **options: Any) -> "Result":
        """Computes the conductor matrix and the boundary solution.

        threads: threads of the fill and the factorisation; None uses all cores, as the
        program does. grid_check: solve again on grids with 1/sqrt(2) and sqrt(2) times the
        nodes, estimate every entry's error (``accuracy``) and warn (``warnings``) where
        one is not resolved to about 1 % (about three times the solve's time; sweeps
        that check their grids themselves may leave it out). Further keywords set
        fields of the library's SolveOptions of the same name (``drawing_base``: also
        draw the EPS file; ``solver="dense"``: factorise the full matrix instead of the
        default ``"structured"`` elimination of each conductor's interior;
        ``tolerance=1e-4``: graded grids from the cross-section's own scales, refined
        until every printed entry's estimated relative error is at most that, with the
        estimates in ``result.accuracy``; a model built in code that gives no grid count
        and no ``ah`` is refined to 1e-3 without it; ``progress``: a callable
        ``progress(phase, done, total)``, phase ``"fill"`` or ``"factorisation"``, called
        from the solve's threads at each percent). The GIL is released while it computes,
        so solves in threads
        run side by side. Raises :class:`ModelError` with the program's message.
        """
        return Result(_core.solve(self._core, _options(threads, grid_check, options)))

    def __repr__(self) -> str:
        s = self.settings
        return (f"<qbr.Model {s.caption!r}: {self.element_count} elements, "
                f"{self.point_count} points, lengthunit {s.lengthunit}>")


def _options(threads: int | None, grid_check: bool, extra: dict) -> _core.SolveOptions:
    options = _core.SolveOptions()
    options.threads = 0 if threads is None else int(threads)
    options.grid_check = bool(grid_check)
    for name, value in extra.items():
        if not hasattr(options, name):
            raise TypeError(f"solve() got an unexpected keyword argument {name!r}")
        setattr(options, name, value)
    return options


class Result:
    """The result of one solve, in SI units per unit length.

    ``L``, ``R`` (real) and ``Z`` (complex) are conductors x conductors numpy arrays in
    H/m and ohm/m, entry [i, j] for conductors i + 1 and j + 1; ``printed`` is the
    matrix as the program prints it (pH/um in inductance mode, ohm/m times 1e6 in
    impedance mode); ``nodes`` is the boundary solution at every grid node as a
    DataFrame. Every other field of the library's result reads through under its JSON
    name: ``conductors``, ``nd``, ``frequency_Hz``, ``omega_rad_per_s``, ``mode``,
    ``has_return_conductor``, ``length_unit``, ``length_unit_m``, ``phase_times_s``,
    ``warnings``, ``settings``. With a ``permittivity`` in the model, ``C``, ``G`` and the
    line's ``Z0``, ``velocity`` and ``delay`` as well (None without it), ``line`` with all
    of its parameters, and :meth:`spice_model`. With a surface roughness, ``R`` and ``Z``
    include it, ``R_smooth`` is R without it and ``roughness`` has every dissipating
    patch's ``factor`` K and its share of ``R_smooth``. With patches of kinds ``mb`` or
    ``twofluid``, ``L_ext``, ``L_k``, ``alpha``, ``Q_c`` and ``superconductors`` (None
    without them).
    """

    def __init__(self, core: _core.Result) -> None:
        self._core = core
        self._nodes = None

    def __getattr__(self, name: str) -> Any:
        if name.startswith("__") or name == "_core":
            raise AttributeError(name)
        return getattr(self._core, name)

    def __dir__(self):
        return sorted(set(super().__dir__()) | {n for n in dir(self._core) if not n.startswith("_")})

    @property
    def L(self) -> np.ndarray:
        """Inductance matrix, H/m (X / omega; in inductance mode the printed real part)."""
        return self._core.inductance_H_per_m

    @property
    def R(self) -> np.ndarray:
        """Resistance matrix, ohm/m."""
        return self._core.resistance_ohm_per_m

    @property
    def Z(self) -> np.ndarray:
        """Impedance matrix R + jX, ohm/m (complex)."""
        return self._core.impedance_ohm_per_m

    @property
    def R_smooth(self) -> np.ndarray | None:
        """Resistance matrix of smooth surfaces, ohm/m, when the model gives a surface
        roughness (``R`` then includes it); None without. ``roughness`` holds each
        patch's factor K and its share of this matrix."""
        losses = self._core.roughness
        return None if losses is None else losses.smooth_resistance_ohm_per_m

    @property
    def printed(self) -> np.ndarray:
        """The matrix as the program prints it: pH/um (L, -R/omega) or ohm/m * 1e6 (R + jX)."""
        return self._core.printed

    @property
    def nodes(self) -> "pandas.DataFrame":
        """One row per excitation and grid node: ``excitation`` (the conductor driven with
        1 A, back through conductor 0), ``element`` (from 0), ``node`` (from 1),
        ``x_length_units``, ``y_length_units``, ``conductor``, and the complex columns
        ``field`` (A_z / mu0 per ampere), ``normal_derivative_per_length_unit`` and
        ``current_density_A_per_m_per_A`` (surface current density), and
        ``outline_share_m``, the node's share of its outline in metres (density times
        share, summed over a conductor, is its current)."""
        if self._nodes is None:
            import pandas as pd

            self._nodes = pd.DataFrame(self._core.node_columns())
        return self._nodes

    # -- the line, when the model gives the permittivity ------------------------------

    @property
    def line(self) -> _core.LineParameters | None:
        """The line parameters, or None when the model gives no ``permittivity``:
        ``permittivity_relative``, ``loss_tangent``, ``lossless``, the matrices
        ``capacitance_F_per_m``, ``conductance_S_per_m``, ``characteristic_impedance_ohm``
        and, per mode (fastest first), ``velocity_m_per_s``, ``delay_s_per_m``,
        ``attenuation_Np_per_m``, ``propagation_per_m`` (gamma = alpha + j beta)."""
        return self._core.line_parameters

    def _line(self, name: str):
        line = self._core.line_parameters
        return None if line is None else getattr(line, name)

    @property
    def C(self) -> np.ndarray | None:
        """Capacitance matrix, F/m, referenced as L is (None without ``permittivity``)."""
        return self._line("capacitance_F_per_m")

    @property
    def G(self) -> np.ndarray | None:
        """Conductance matrix omega tan(delta) C, S/m (None without ``permittivity``)."""
        return self._line("conductance_S_per_m")

    @property
    def Z0(self) -> np.ndarray | None:
        """Characteristic impedance matrix Zc, ohm (complex; V = Zc I for the forward
        waves; ``Z0[0, 0]`` of one line). None without ``permittivity``."""
        return self._line("characteristic_impedance_ohm")

    @property
    def velocity(self) -> np.ndarray | None:
        """Phase velocity of each mode, m/s, fastest first (None without ``permittivity``)."""
        return self._line("velocity_m_per_s")

    @property
    def C0(self) -> np.ndarray | None:
        """Capacitance matrix of the same conductors in vacuum, F/m (None without a
        ``permittivity`` or dielectric regions)."""
        return self._line("vacuum_capacitance_F_per_m")

    @property
    def details(self) -> _core.LineDetails | None:
        """What follows from the line parameters (None without them):
        ``effective_permittivity`` and the attenuation's ``conductor_attenuation_Np_per_m``
        and ``dielectric_attenuation_Np_per_m`` per mode, ``external_inductance_H_per_m``
        (mu0 eps0 C0^-1), ``internal_inductance_H_per_m`` and ``internal_fraction`` (L -
        L_ext per conductor: internal or kinetic), and for two conductors ``even_ohm``,
        ``odd_ohm``, ``differential_ohm``, ``common_ohm``, ``near_end_coupling`` and
        ``far_end_coupling_s_per_m``."""
        if self._core.line_parameters is None:
            return None
        return _core.line_details(self._core)

    @property
    def eps_eff(self) -> np.ndarray | None:
        """Effective permittivity (c / v)^2 of each mode, fastest first."""
        details = self.details
        return None if details is None else details.effective_permittivity

    @property
    def delay(self) -> np.ndarray | None:
        """Delay of each mode, s/m, fastest first (None without ``permittivity``)."""
        return self._line("delay_s_per_m")

    # -- superconductors given by their transition temperature ---------------------

    @property
    def superconductors(self) -> _core.SuperconductorReport | None:
        """With patches of kinds ``mb`` or ``twofluid``: ``temperature_K``, ``patches``
        (each ``patch``, ``kind``, ``tc_K`` and its ``response``: ``gap_meV``,
        ``lambda_eff_m``, ``sigma1_S_per_m``, ``sigma2_S_per_m``,
        ``surface_impedance_ohm`` of a film many lambda thick), and the arrays below;
        otherwise None."""
        return self._core.superconductors

    def _superconductors(self, name: str):
        report = self._core.superconductors
        return None if report is None else getattr(report, name)

    @property
    def L_ext(self) -> np.ndarray | None:
        """The inductance of the same cross-section with perfect conductors, H/m:
        mu0 eps0 C0^-1 with C0 its capacitance in vacuum (None without ``mb`` or
        ``twofluid`` patches)."""
        return self._superconductors("external_inductance_H_per_m")

    @property
    def L_k(self) -> np.ndarray | None:
        """Kinetic (and internal) inductance L - L_ext, H/m (None as for L_ext)."""
        return self._superconductors("kinetic_inductance_H_per_m")

    @property
    def alpha(self) -> np.ndarray | None:
        """Kinetic fraction L_k / L of each conductor (its diagonal entries)."""
        return self._superconductors("kinetic_fraction")

    @property
    def Q_c(self) -> np.ndarray | None:
        """Quality factor of the conductor loss of each conductor, omega L / R (beta / 2
        alpha_c of the line driven on that conductor alone); inf without loss, empty at
        zero frequency."""
        return self._superconductors("quality_factor_conductor")

    def spice_model(self, length_m: float, name: str = "qbr_line") -> str:
        """The ngspice line model of ``length_m`` metres (``qbr --spice``): subcircuits
        ``name`` (the model to use) and ``name``_rlgc; raises :class:`ModelError` without
        ``permittivity``."""
        return _core.spice_model(self._core, length_m, name)

    def to_json(self, with_nodes: bool = True) -> str:
        """The program's JSON document of this result (``--json``), full precision."""
        return self._core.to_json(with_nodes)

    @classmethod
    def from_json(cls, text: str) -> "Result":
        """The result of a JSON document written by the program or :meth:`to_json`."""
        return cls(_core.Result.from_json(text))

    def __reduce__(self):
        return Result.from_json, (self.to_json(),)

    def __repr__(self) -> str:
        return (f"<qbr.Result {self.mode}, {self.conductors} conductors, nd {self.nd}, "
                f"{self.frequency_Hz:g} Hz>")


def solve(model: Model, threads: int | None = None, grid_check: bool = True, **options: Any) -> Result:
    """``model.solve(...)``: see :meth:`Model.solve`."""
    return model.solve(threads, grid_check, **options)
