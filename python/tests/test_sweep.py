import concurrent.futures as cf

import pandas as pd
import pytest

import qbr
from conftest import strip_model


def test_sweep_tables_agree_on_threads_processes_and_dask():
    from distributed import Client, LocalCluster

    axes = dict(width=[1.0, 3.0], height=[0.2, -0.1])  # at height -0.1 the strip cuts the ground
    with cf.ThreadPoolExecutor(2) as pool:
        on_threads = qbr.sweep(strip_model, executor=pool, progress=False, **axes)
    on_processes = qbr.sweep(lambda width, height: strip_model(width, height), progress=False, **axes)
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        on_dask = qbr.sweep(strip_model, executor=client.get_executor(), progress=False, **axes)
    pd.testing.assert_frame_equal(on_threads, on_processes)
    pd.testing.assert_frame_equal(on_threads, on_dask)

    assert list(on_threads["width"]) == [1.0, 1.0, 3.0, 3.0]
    ok = on_threads[on_threads["error"].isna()]
    failed = on_threads[on_threads["error"].notna()]
    assert list(ok["height"]) == [0.2, 0.2]
    assert failed["error"].str.startswith("Elements ").all() and failed["i"].isna().all()
    assert ok["L_H_per_m"].iloc[0] == strip_model(1.0).solve(threads=1).L[0, 0]
    assert ok["L_H_per_m"].iloc[0] > ok["L_H_per_m"].iloc[1]


def test_frequency_sweep_and_point_lists():
    model = strip_model()
    table = qbr.frequency_sweep(model, [1e9, 1e10], executor=cf.ThreadPoolExecutor(2),
                                grid_check=False, progress=False)
    assert list(table["frequency_Hz"]) == [1e9, 1e10]
    single = model.copy().frequency(1e9, "hz").solve(threads=1, grid_check=False)
    assert table["Z_ohm_per_m"].iloc[0] == single.Z[0, 0]
    listed = qbr.sweep(lambda w: strip_model(w), [{"w": 2.0}, {"w": "two"}],
                       executor=cf.ThreadPoolExecutor(1), progress=False)
    assert listed["error"].iloc[1].startswith("TypeError")
    with pytest.raises(TypeError):
        qbr.sweep(strip_model, [{"width": 1}], width=[1])


def test_a_misspelt_axis_raises_before_any_point_runs():
    calls = []

    def build(width, height=0.2):
        calls.append(width)
        return strip_model(width, height)

    with pytest.raises(TypeError, match="takes no parameter 'widht' \\(did you mean 'width'\\?\\)"):
        qbr.sweep(build, widht=[1, 2], executor=cf.ThreadPoolExecutor(1), progress=False)
    with pytest.raises(TypeError, match="width"):
        qbr.sweep(build, height=[0.2], executor=cf.ThreadPoolExecutor(1), progress=False)
    assert calls == []


def test_a_frequency_sweep_carries_the_roughness_factor_of_each_point():
    def coax(rough=True):
        m = qbr.Model(lengthunit="mm").patch(0, "nc", 58)
        if rough:  # 14 spheres of 0.5 um per 115 um^2, as a tile and per unit area
            m.roughness(0, "huray", 0.0005, 14, 0.000115)
        p = m.pt(0, 0)
        return m.circle(1, p, 0.5, "+", n=40).circle(0, p, 1.75, "-", n=60).circle(0, p, 2, "+", n=60)

    table = qbr.frequency_sweep(coax(), [1e6, 1e10], executor=cf.ThreadPoolExecutor(2),
                                grid_check=False, progress=False)
    assert list(table.columns[6:9]) == ["Z_ohm_per_m", "R_smooth_ohm_per_m", "K_patch0"]
    k_low, k_high = table["K_patch0"]
    assert k_low - 1 < 1e-4 and k_high > 1.1
    assert table["R_ohm_per_m"].iloc[1] == pytest.approx(k_high * table["R_smooth_ohm_per_m"].iloc[1],
                                                         rel=1e-12)
    per_area = coax(False).roughness(0, "huray", 0.0005, 14 / 0.000115).frequency(10, "ghz")
    assert per_area.solve(grid_check=False).roughness.patches[0].factor == pytest.approx(k_high, rel=1e-12)
    smooth = coax(False).frequency(10, "ghz").solve(threads=1, grid_check=False)
    assert smooth.R_smooth is None and smooth.roughness is None
    assert smooth.R[0, 0] == table["R_smooth_ohm_per_m"].iloc[1]
    assert "R_smooth_ohm_per_m" not in qbr.frequency_sweep(
        coax(False), [1e6], executor=cf.ThreadPoolExecutor(1), grid_check=False, progress=False)
    with pytest.raises(qbr.ModelError, match='did you mean "groisse"'):
        coax().roughness(0, "groise", 0.001)
