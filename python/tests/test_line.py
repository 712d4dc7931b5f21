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


# A symmetric pair of copper traces on FR4: its mixed-mode S-parameters are the two-ports
# of its odd and even lines, whatever the references, and its modes do not convert.
def test_mixed_mode_s_parameters_of_a_symmetric_pair_are_its_odd_and_even_lines():
    def pair(frequency_Hz):
        m = qbr.Model(lengthunit="mm", frequency=frequency_Hz, frequency_unit="hz",
                      variables="impedance")
        m.patch(0, "nc", 58).layer(-1.6, 0, 4.3, 0.02)
        m.rect(-20, 20, -1.635, -1.6, c=0, nx=120, ny=4)
        m.rect(-2, -0.5, 0, 0.035, c=1, nx=40, ny=4)
        return m.rect(0.5, 2, 0, 0.035, c=2, nx=40, ny=4)

    results = [pair(f).solve(threads=1, grid_check=False) for f in (1e8, 1e9, 5e9)]
    frequencies, single = qbr.s_parameters(results, 0.05)
    blocks = _touchstone_blocks(qbr.touchstone(results, 0.05), 4)
    assert list(frequencies) == [f for f, _ in blocks]
    assert np.allclose(single, [s for _, s in blocks], rtol=0, atol=1e-11)

    for zd, zc in ((None, None), (90.0, 30.0), (90.0, 22.5)):
        mm = qbr.mixed_mode_s(results, 0.05, differential_ohm=zd, common_ohm=zc)
        assert mm.ports == ["D1", "D2", "C1", "C2"]
        assert (mm.differential_ohm, mm.common_ohm) == ((100.0, 25.0) if zd is None else (zd, zc))
        for k, r in enumerate(results):
            z, y = r.Z, r.G + 1j * r.omega_rad_per_s * r.C
            # A differential port of reference Zd sees the odd line as one of Zd / 2, a
            # common port of Zc the even line as one of 2 Zc.
            odd = qbr._core.scattering(r.frequency_Hz, [[z[0, 0] - z[0, 1]]],
                                       [[y[0, 0] - y[0, 1]]], 0.05, mm.differential_ohm / 2)
            even = qbr._core.scattering(r.frequency_Hz, [[z[0, 0] + z[0, 1]]],
                                        [[y[0, 0] + y[0, 1]]], 0.05, 2 * mm.common_ohm)
            assert np.abs(mm.sdd[k] - odd).max() < 1e-9
            assert np.abs(mm.scc[k] - even).max() < 1e-9
            assert np.abs(mm.sdc[k]).max() < 1e-9 and np.abs(mm.scd[k]).max() < 1e-9
        assert abs(mm.sdd[1][1, 0]) < 0.99 and abs(mm.sdd[1][0, 0]) > 1e-3  # lossy, mismatched
        if zc != 30.0:  # Touchstone 2.0 holds references in the ratio 4 to 1 only
            back = qbr.read_touchstone(mm.touchstone())
            assert back.mixed_mode_order == ["D1,2", "D3,4", "C1,2", "C3,4"]
            assert list(back.reference_ohm) == [mm.differential_ohm / 2] * 4
            assert np.allclose(back.frequencies_Hz, frequencies, rtol=1e-12, atol=0)
            assert np.abs(back.s - mm.s).max() < 1e-11
    back = qbr.renormalize(qbr.renormalize(single, 50.0, [30, 70, 40, 90]), [30, 70, 40, 90], 50)
    assert np.allclose(back, single, rtol=0, atol=1e-12)

    text = qbr.mixed_mode_s(results, 0.05).touchstone()
    assert "[Version] 2.0\n# Hz S RI R 50\n[Number of Ports] 4\n[Number of Frequencies] 3\n" in text
    assert "[Mixed-Mode Order] D1,2 D3,4 C1,2 C3,4\n[Network Data]\n100000000 " in text
    with pytest.raises(ValueError, match="90 and 30 ohm are not in the ratio 4 to 1"):
        qbr.mixed_mode_s(results, 0.05, differential_ohm=90.0, common_ohm=30.0).touchstone()
    # A conductor in no pair keeps the single-ended reference: [Reference] gives each port's.
    three = qbr.mixed_mode(np.tile(single[:, :2, :2], (1, 3, 3)), pairs=[(1, 2)])
    assert three[1] == ["D1", "D2", "C1", "C2", "S3", "S6"]
    text = qbr.MixedModeS(frequencies, three[0], three[1], [(1, 2)], 0.05, 50.0, 90.0,
                          22.5).touchstone()
    assert "[Reference] 45 45 50 45 45 50\n[Mixed-Mode Order] D1,2 D4,5 C1,2 C4,5 S3 S6\n" in text
    back = qbr.read_touchstone(text)
    assert list(back.reference_ohm) == [45, 45, 50, 45, 45, 50]
    assert np.abs(back.s - three[0]).max() < 1e-11
