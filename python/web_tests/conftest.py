"""Fixtures of the workbench's tests: a server started as a user starts it, in an empty
working directory, and (for the browser tests) Debian's Chromium driven by Selenium."""

import os

import pytest

from web_support import ROOT, Server, browser_missing


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
