"""qbr: the per-unit-length inductance and impedance matrix of a multiconductor
transmission line from its 2D cross-section, from Python.

    import qbr
    model = qbr.Model.from_file("examples/microstrip_sc.txt")
    result = model.solve()
    result.L                      # H/m, a numpy array
    table = qbr.sweep(build, width=[1, 2, 4])        # a pandas DataFrame
    qbr.plot.cross_section(model)

The computation is the C++ library's (the GIL is released while it runs); this package
adds keyword builders, DataFrames, sweeps on any executor and matplotlib plots.
"""

from . import _core
from ._model import Model, ModelError, Result, solve
from ._sweep import default_executor, frequency_sweep, sweep, temperature_sweep
from ._core import bcs_gap, mattis_bardeen, mattis_bardeen_conductivity, two_fluid
from ._line import (MixedModeS, TouchstoneData, mixed_mode, mixed_mode_s, read_touchstone,
                    renormalize, s_parameters, touchstone)
from ._synthesis import Synthesis, synthesize
from ._broadband import BroadbandModel, CoupledBroadbandModel, abcd_s21, broadband_model
from ._transient import StepResponse, gaussian_step, step_response
from . import plot

__version__ = _core.version().split()[-1]

__all__ = ["Model", "ModelError", "Result", "solve", "sweep", "frequency_sweep",
           "temperature_sweep", "default_executor", "touchstone", "s_parameters", "mixed_mode",
           "mixed_mode_s", "MixedModeS", "read_touchstone", "TouchstoneData", "renormalize", "synthesize", "Synthesis",
           "broadband_model", "BroadbandModel", "CoupledBroadbandModel", "abcd_s21", "step_response",
           "StepResponse", "gaussian_step", "plot", "mattis_bardeen",
           "two_fluid", "bcs_gap", "mattis_bardeen_conductivity", "__version__"]
