import concurrent.futures as cf
import math

import numpy as np
import pytest

import qbr

EPS0 = 8.8541878128e-12
MU0 = 4e-7 * math.pi

# A superconducting coax (wire of radius 1 um in a tube from 3 to 4 um) with a penetration
# depth far below every size: its L is the exterior inductance.
COAX = """lengthunit um
frequency 10 ghz
lambda 1e-6
pt 0 0 0
circle 1 0 1 + 0 200
circle 0 0 3 - 0 300
circle 0 0 4 + 0 300
"""


def _touchstone_blocks(text: str, ports: int) -> list[tuple[float, np.ndarray]]:
    numbers = [float(v) for line in text.splitlines() if not line.startswith(("!", "#"))
               for v in line.split()]
    size = 1 + 2 * ports * ports
    blocks = []
    for k in range(0, len(numbers), size):
        values = np.array(numbers[k + 1:k + size])
        s = (values[0::2] + 1j * values[1::2]).reshape(ports, ports)
        blocks.append((numbers[k], s.T if ports == 2 else s))  # a two-port is column by column
    return blocks


def test_line_parameters_of_a_coax_and_its_model_for_ngspice():
    model = qbr.Model.from_text(COAX)
    plain = model.copy().solve(threads=1, grid_check=False)
    assert plain.C is None and plain.Z0 is None and plain.line is None
    with pytest.raises(qbr.ModelError, match="permittivity"):
        plain.spice_model(0.01)

    r = model.permittivity(2.5).solve(threads=1, grid_check=False)
    assert r.settings.permittivity == 2.5 and "capacitance" in r.phase_times_s
    eps = 2.5 * EPS0
    C, L = r.C[0, 0], r.L[0, 0]
    assert C == pytest.approx(2 * math.pi * eps / math.log(3.0), rel=1e-4)
    assert L * C == pytest.approx(MU0 * eps, rel=1e-4)
    assert r.line.lossless and r.G[0, 0] == 0.0
    assert r.Z0[0, 0] == pytest.approx(math.sqrt(L / C), rel=1e-9)
    assert r.velocity[0] * math.sqrt(L * C) == pytest.approx(1.0, rel=1e-12)
    assert r.delay[0] * r.velocity[0] == pytest.approx(1.0, rel=1e-12)
    spice = r.spice_model(0.01)
    (_, s), = _touchstone_blocks(qbr.touchstone([r], 0.01), 2)
    assert np.allclose(s.conj().T @ s, np.eye(2), rtol=0, atol=1e-9)  # lossless: unitary
    assert f"T1 in1 in0 out1 out0 Z0={r.Z0[0, 0].real:.12g} TD={0.01 * r.delay[0]:.12g}" in spice


# Two copper wires of different radii over the ground plane in a lossy dielectric: the
# sweep's table and its results give the same four-port, which is reciprocal and passive.
def test_touchstone_over_a_frequency_sweep(tmp_path):
    model = qbr.Model.from_text(
        "lengthunit um\npatch 0 nc 58\nsymmetry on\npermittivity 4.3\nlosstangent 0.02\n"
        "el 2 1 -3 4 1 + 0 100\nel 2 2 3 4 0.5 + 0 100\n")
    frequencies = [1e9, 3e9]
    with cf.ThreadPoolExecutor(2) as pool:
        table = qbr.frequency_sweep(model, frequencies, executor=pool, grid_check=False,
                                    progress=False)
    results = [model.copy().frequency(f, "hz").solve(threads=1, grid_check=False)
               for f in frequencies]
    first = table[table["point"] == 0]
    assert list(first["C_F_per_m"]) == list(results[0].C.ravel())
    assert list(first["G_S_per_m"]) == list(results[0].G.ravel())

    from_table = qbr.touchstone(table, 0.01, tmp_path / "pair.s4p")
    from_results = qbr.touchstone(results, 0.01)
    assert (tmp_path / "pair.s4p").read_text() == from_table
    assert from_table.split("# Hz")[1] == from_results.split("# Hz")[1]
    blocks = _touchstone_blocks(from_table, 4)
    assert [f for f, _ in blocks] == frequencies
    for _, s in blocks:
        assert np.allclose(s, s.T, rtol=0, atol=1e-12)
        assert np.linalg.norm(s, 2) < 0.99  # no wave leaves with more power: lossy
    # The two wires differ: the near-end reflections of ports 1 and 2 are not the same.
    assert abs(blocks[0][1][0, 0] - blocks[0][1][1, 1]) > 1e-3

    with pytest.raises(ValueError, match="permittivity"):
        qbr.touchstone(table.drop(columns="Y_S_per_m"), 0.01)
