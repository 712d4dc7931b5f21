"""What the workbench's tests and its benchmark share: the quick-start model, a server
started as a user starts it, and the comparison of two results."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import urllib.request

ROOT = pathlib.Path(__file__).resolve().parents[2]

QUICK_START = """cc Superconducting microstrip: 2 um wide strip 0.2 um above a 20 um ground strip
lengthunit um
frequency 10 ghz
lambda 0.09
ah 0.02
rem ground strip: x from -10 to 10, y from -0.2 to 0, conductor 0 (the return)
rect -10 10 -0.2 0 0 0 500 10
rem signal strip: x from -1 to 1, y from 0.2 to 0.4, conductor 1
rect -1 1 0.2 0.4 1 0 100 10
"""


class Server:
    def __init__(self, workdir: pathlib.Path, *args: str) -> None:
        self.workdir = workdir
        import qbr

        # The package this test imports, wherever the server's working directory is.
        package_root = str(pathlib.Path(qbr.__file__).resolve().parents[1])
        path = os.pathsep.join([package_root] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1", PYTHONPATH=path)
        self.process = subprocess.Popen(
            [sys.executable, "-m", "qbr.web", "--port", "0", *args], cwd=workdir, env=env,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        m = re.search(r"http://([\d.]+):(\d+)/", line)
        if not m:
            self.process.kill()
            raise RuntimeError(f"the server did not print its address: {line!r} "
                               f"{self.process.stderr.read()}")
        self.host, self.port = m.group(1), int(m.group(2))
        self.url = f"http://{self.host}:{self.port}"
        for _ in range(100):  # until it answers
            try:
                urllib.request.urlopen(self.url + "/api/builders", timeout=2).read()
                break
            except OSError:
                time.sleep(0.05)

    def alive(self) -> bool:
        return self.process.poll() is None

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def browser_missing() -> str | None:
    """What of the browser set-up is missing, or None."""
    if shutil.which("chromium") is None and not os.path.exists("/usr/bin/chromium"):
        return "chromium (Debian package chromium)"
    if shutil.which("chromedriver") is None and not os.path.exists("/usr/bin/chromedriver"):
        return "chromedriver (Debian package chromium-driver)"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "selenium (Debian package python3-selenium)"
    return None


def assert_same_result(a: dict, b: dict) -> None:
    """Two results of one model from two builds of a run: equal but for the clock, to
    the design's tolerance between builds (1e-8 of the largest entry)."""
    assert a["nd"] == b["nd"] and a["settings"] == b["settings"]
    for key in ("inductance_H_per_m", "resistance_ohm_per_m"):
        x, y = a["matrices"][key], b["matrices"][key]
        scale = max(abs(v) for row in y for v in row) or 1.0
        for rx, ry in zip(x, y):
            for u, v in zip(rx, ry):
                assert abs(u - v) <= 1e-8 * scale, (key, u, v)
    assert [e["conductor"] for e in a["excitations"]] == [e["conductor"] for e in b["excitations"]]
    assert a["excitations"][0]["nodes"]["x_length_units"] == b["excitations"][0]["nodes"]["x_length_units"]
