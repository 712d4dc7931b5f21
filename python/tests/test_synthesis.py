import json
import re
import subprocess

import pytest

import qbr

H, T = 1.6, 0.035  # mm: FR4 (eps_r 4.3, tan d 0.02) and 35 um copper, at 1 GHz


def board(width: float) -> qbr.Model:
    """The FR4 microstrip of examples/python/fr4_width.py."""
    m = qbr.Model(lengthunit="mm", frequency=1, frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-H, 0, 4.3, 0.02)
    m.rect(-30, 30, -H - T, -H, c=0, nx=400, ny=6)
    return m.rect(-width / 2, width / 2, 0, T, c=1, nx=160, ny=8)


def pair(gap: float, width: float = 1.5, coarse: bool = False) -> qbr.Model:
    """Two traces of ``width`` ``gap`` apart on the same board."""
    n = 2 if coarse else 1
    m = qbr.Model(lengthunit="mm", frequency=1, frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-H, 0, 4.3, 0.02)
    m.rect(-30, 30, -H - T, -H, c=0, nx=300 // n, ny=6)
    m.rect(-gap / 2 - width, -gap / 2, 0, T, c=1, nx=100 // n, ny=6)
    return m.rect(gap / 2, gap / 2 + width, 0, T, c=2, nx=100 // n, ny=6)


def test_the_50_ohm_width_of_a_microstrip_and_the_100_ohm_gap_of_a_pair():
    found = qbr.synthesize(board, 50.0, "width", (1.0, 5.0), tolerance=1e-3)
    assert found.converged and found.solves <= 10
    assert abs(found.achieved - 50.0) <= 1e-3 and found.quantity == "Z0"
    # The reported value is what a fresh solve at that width gives.
    assert board(found.value).solve(grid_check=False).Z0[0, 0].real == pytest.approx(
        found.achieved, abs=1e-9)
    assert len(found.history) == found.solves and found.parameter_error < 1e-3
    assert 3.0 < found.value < 3.15  # Hammerstad-Jensen: 3.08 mm

    diff = qbr.synthesize(pair, 100.0, "gap", (0.1, 3.0), quantity="Z_diff")
    assert diff.converged and diff.solves <= 10 and abs(diff.error) <= 1e-3
    assert diff.result.details.differential_ohm.real == pytest.approx(diff.achieved, abs=1e-12)
    assert diff.result.details.odd_ohm.real == pytest.approx(50.0, abs=1e-3)


def test_a_target_outside_the_bracket_names_both_ends_and_parameters_are_checked():
    with pytest.raises(ValueError) as caught:
        qbr.synthesize(pair, 200.0, "gap", (0.5, 1.0), quantity="Z_diff",
                       fixed=dict(coarse=True))
    text = str(caught.value)
    assert "Z_diff = 200 ohm is not between the ends of the bracket" in text
    assert "gap = 0.5 gives Z_diff = 9" in text and "gap = 1 gives 1" in text
    with pytest.raises(TypeError, match="takes no parameter 'gpa'"):
        qbr.synthesize(pair, 100.0, "gpa", (0.5, 1.0))
    with pytest.raises(ValueError, match="unknown quantity 'Zdiff'"):
        qbr.synthesize(pair, 100.0, "gap", (0.5, 1.0), quantity="Zdiff")
    # A quantity of one's own: eps_eff through a function of the result.
    found = qbr.synthesize(pair, 2.75, "gap", (0.2, 2.0), quantity=lambda r: float(r.eps_eff[0]),
                           tolerance=1e-4, fixed=dict(coarse=True))
    assert abs(found.achieved - 2.75) <= 1e-4 and found.solves <= 10


# The program's --synthesize over a template, against qbr.synthesize on the same text.
STRIP_TEMPLATE = """cc FR4 microstrip
lengthunit mm
frequency 1 ghz
variables impedance
patch 0 nc 58
layer -1.6 0 4.3 0.02
rect -30 30 -1.635 -1.6 0 0 200 6
rect -W/2 W/2 0 0.035 1 0 80 6
"""
PAIR_TEMPLATE = STRIP_TEMPLATE.replace("rect -W/2 W/2 0 0.035 1 0 80 6",
                                       "rect -G/2-1.5 -G/2 0 0.035 1 0 60 6\n"
                                       "rect G/2 G/2+1.5 0 0.035 2 0 60 6")


def test_the_program_synthesizes_a_width_and_a_gap_and_names_the_ends_it_cannot_bracket(
        tmp_path, program):
    def run(template, *options):
        (tmp_path / "line.txt").write_text(template)
        done = subprocess.run([program, "--no-wait", "--quiet", "--json", "line.json", *options,
                               "line.txt"], cwd=tmp_path, capture_output=True, text=True)
        return done, (json.loads((tmp_path / "line.json").read_text())
                      if done.returncode == 0 else None)

    done, result = run(STRIP_TEMPLATE, "--synthesize", "Z0=50", "--vary", "W=1:5")
    found = result["synthesis"]
    assert done.returncode == 0 and found["converged"] and len(found["steps"]) <= 10
    z0 = result["line_parameters"]["characteristic_impedance_ohm"]["re"][0][0]
    assert z0 == found["achieved"] and abs(z0 - 50) <= 1e-3 * 50
    assert f"Synthesis: W = {found['value']:.8g}" in done.stdout
    assert done.stdout.count("  solve ") == len(found["steps"])
    text = lambda w: STRIP_TEMPLATE.replace("-W/2", repr(-w / 2)).replace("W/2", repr(w / 2))
    python = qbr.synthesize(lambda width: qbr.Model.from_text(text(width)), 50.0, "width",
                            (1.0, 5.0))
    assert found["value"] == pytest.approx(python.value, rel=2e-3)
    print(f"program: W = {found['value']:.6f} mm in {len(found['steps'])} solves; "
          f"qbr.synthesize: {python.value:.6f} mm in {python.solves}")

    done, result = run(PAIR_TEMPLATE, "--synthesize", "Zdiff=100", "--vary", "G=0.1:3")
    found = result["synthesis"]
    assert done.returncode == 0 and found["converged"] and len(found["steps"]) <= 10
    assert abs(found["achieved"] - 100) <= 0.1 and found["parameter"] == "G"
    print(f"program: G = {found['value']:.6f} mm for Zdiff {found['achieved']:.5f} ohm in "
          f"{len(found['steps'])} solves")

    done, result = run(PAIR_TEMPLATE, "--synthesize", "Zdiff=200", "--vary", "G=0.5:1")
    assert done.returncode == 1 and result is None
    assert re.search(r"The target Zdiff = 200 is not between the ends of the range: G = 0.5 "
                     r"gives Zdiff = 9\d\.\d+, G = 1 gives Zdiff = 1\d\d\.\d+; widen the range;",
                     done.stdout)
    assert "not between" in (tmp_path / "qbr.log").read_text()
