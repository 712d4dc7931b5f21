import json
import pickle
import subprocess

import numpy as np
import pytest

import qbr
from conftest import STRIP_TEXT, strip_model


def assert_same_result(a: qbr.Result, b: qbr.Result) -> None:
    for name in ("L", "R", "Z", "printed"):
        np.testing.assert_array_equal(getattr(a, name), getattr(b, name), err_msg=name)
    assert a.nodes.equals(b.nodes)
    assert (a.nd, a.conductors, a.frequency_Hz, a.warnings) == (b.nd, b.conductors, b.frequency_Hz, b.warnings)


def test_file_text_builder_and_pickled_models_agree_bit_for_bit(tmp_path):
    path = tmp_path / "strip.txt"
    path.write_text(STRIP_TEXT.format(x1=-1, x2=1, y=0.2, top=0.4))
    from_file = qbr.Model.from_file(path).solve()
    built = strip_model()
    assert_same_result(from_file, built.solve())
    assert_same_result(from_file, pickle.loads(pickle.dumps(built)).solve())
    assert from_file.nd == 2 * (2 * 100 + 2 * 4 + 2 * 20 + 2 * 4) + 2
    # Points and elements by coordinates and by number make the same model.
    by_number = qbr.Model(lambda_=0.09)
    a, b = by_number.pt(0, 0), by_number.pt(1, 0)
    by_number.line(1, a, b).line(1, b, a)
    by_coordinates = qbr.Model(lambda_=0.09).line(1, (0, 0), (1, 0)).line(1, (1, 0), (0, 0))
    assert by_number.element_count == by_coordinates.element_count == 2
    assert by_number.point_count == by_coordinates.point_count == 2


def test_result_equals_the_programs_json(tmp_path, program):
    path = tmp_path / "strip.txt"
    path.write_text(STRIP_TEXT.format(x1=-1, x2=1, y=0.2, top=0.4))
    subprocess.run([program, "--no-wait", "--quiet", "--json", "out.json", "strip.txt"],
                   cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    from_program = qbr.Result.from_json((tmp_path / "out.json").read_text())
    ours = qbr.Model.from_file(path).solve()
    assert_same_result(from_program, ours)
    # Our JSON is the program's document, member for member apart from the timings.
    mine, theirs = json.loads(ours.to_json()), json.loads((tmp_path / "out.json").read_text())
    mine.pop("phase_times_s"), theirs.pop("phase_times_s")
    assert mine == theirs
    assert_same_result(pickle.loads(pickle.dumps(ours)), ours)
    nodes = ours.nodes
    assert len(nodes) == (ours.nd - 2) // 2
    # The surface current density over each node's share of the outline carries the 1 A
    # driven into the strip and back through the ground.
    current = nodes["current_density_A_per_m_per_A"].to_numpy().real * nodes["outline_share_m"]
    assert current.groupby(nodes["conductor"]).sum().to_list() == pytest.approx([-1, 1], rel=1e-3)


def test_model_errors_carry_the_programs_message():
    with pytest.raises(qbr.ModelError) as caught:
        strip_model(height=-0.1).solve()
    assert caught.value.message.startswith("\nElements ")
    assert str(caught.value) == caught.value.message.strip("\n")
    with pytest.raises(qbr.ModelError, match="^Line 2 of the model: the y2 is missing: rect 1 2 3$"):
        qbr.Model().lengthunit("um").statement("rect 1 2 3")
    with pytest.raises(qbr.ModelError, match="Too large patch number"):
        qbr.Model().patch(32, "sc")
    with pytest.raises(TypeError, match="grid_chek"):
        strip_model().solve(grid_chek=False)


def test_slips_raise_where_they_are_made():
    # Builder arguments are checked by the call that gives them; the model stays as it was.
    for build in (lambda: qbr.Model(lengthunit="micron"),
                  lambda: qbr.Model().frequency(10, "gigahertz"),
                  lambda: qbr.Model().patch(0, "cs", 0, 0.09),
                  lambda: qbr.Model().patch(0, "nc", 5.8e7),
                  lambda: qbr.Model().variables("impedence"),
                  lambda: qbr.Model().symmetry("yes"),
                  lambda: qbr.Model().circle(1, (0, 0), 1, dir="x"),
                  lambda: qbr.Model().rect(0, 1, 0, 1, 1, 0, 1000, 10)):
        with pytest.raises(qbr.ModelError):
            build()
    model = qbr.Model(lambda_=0.1)
    with pytest.raises(qbr.ModelError, match="did you mean \"um\""):
        model.lengthunit("micron")
    assert model.settings.lengthunit == "um" and model.warnings == []

    # Files and texts are read strictly unless asked otherwise; then the warnings travel.
    text = "permitivity 4.3\nlambda 0.1\npt 0 0 0\ncircle 1 0 1 + 0 8\n"
    with pytest.raises(qbr.ModelError, match='^Line 1: "permitivity" is not a keyword'):
        qbr.Model.from_text(text)
    lenient = qbr.Model.from_text(text, strict=False)
    assert lenient.warnings == ['Line 1: "permitivity" is not a keyword (did you mean '
                                '"permittivity"?); the line is ignored']
    assert pickle.loads(pickle.dumps(lenient)).warnings == lenient.warnings
    assert lenient.solve(grid_check=False).warnings == lenient.warnings


def test_check_and_progress():
    # check(): the solve's stop before any grid, the reader's warnings otherwise.
    text = STRIP_TEXT.format(x1=-1, x2=1, y=0.2, top=0.4)
    with pytest.raises(qbr.ModelError, match="runs clockwise"):
        qbr.Model.from_text(text.replace("rect -1 1", "rect 1 -1")).check()
    assert qbr.Model.from_text(text + "ahh 1\n", strict=False).check()[0].startswith("Line 9:")
    # progress(phase, done, total): each phase from its begin to its end, never backwards.
    events = []
    result = qbr.Model.from_text(text).solve(progress=lambda *e: events.append(e))
    assert [e[0] for e in events] == sorted((e[0] for e in events), key=["fill", "factorisation"].index)
    for phase in ("fill", "factorisation"):
        done = [d for p, d, _ in events if p == phase]
        total = {t for p, _, t in events if p == phase}
        assert done[0] == 0 and done[-1] == max(total) and done == sorted(done) and len(total) == 1
    assert len(events) < 250  # a call per percent at most, not per library event
    assert result.L[0, 0] == qbr.Model.from_text(text).solve().L[0, 0]
