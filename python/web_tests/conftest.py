"""Fixtures of the workbench's tests: a server started as a user starts it, in an empty
working directory, and (for the browser tests) Debian's Chromium driven by Selenium."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import urllib.request

import pytest

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


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    workdir = tmp_path_factory.mktemp("web-cwd")
    s = Server(workdir)
    yield s
    s.stop()


@pytest.fixture
def program() -> str:
    """The qbr program of this build."""
    path = os.environ.get("QBR_EXECUTABLE", str(ROOT / "build" / "qbr"))
    if not os.access(path, os.X_OK):
        pytest.fail(f"no qbr program at {path} (set QBR_EXECUTABLE)")
    return path


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


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    missing = browser_missing()
    if missing:
        message = (f"the browser tests need {missing}: scripts/setup.sh installs it "
                   "(./run-tests.sh runs it)")
        if os.environ.get("CI"):
            pytest.fail(message)  # in CI a missing browser is a failure, never a skip
        pytest.skip(message)
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    downloads = tmp_path_factory.mktemp("downloads")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1400,900", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {
        "download.default_directory": str(downloads),
        "download.prompt_for_download": False,
    })
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.downloads = downloads
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    yield driver
    driver.quit()
