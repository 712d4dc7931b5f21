"""The workbench driven in a real browser: Debian's Chromium, headless, through Selenium."""

import json
import subprocess
import time

import pytest

from web_support import QUICK_START, assert_same_result

pytestmark = pytest.mark.usefixtures("browser")


def wait(driver, condition, timeout=60, what="the page"):
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = condition(driver)
            if last:
                return last
        except Exception as error:  # stale elements while the page redraws
            last = error
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {last!r})")


def open_page(driver, server):
    driver.get(server.url + "/")
    # The page writes the builder's microstrip into the editor when it starts.
    wait(driver, lambda d: d.find_element("id", "editor").get_attribute("value"), what="the builder's text")
    wait(driver, lambda d: d.find_element("id", "drawing").get_attribute("data-revision"), what="a drawing")


def type_text(driver, text):
    """Clears the editor and types the text key by key, as a user does."""
    editor = driver.find_element("id", "editor")
    editor.clear()
    driver.execute_script("arguments[0].value = ''; arguments[0].dispatchEvent(new Event('input'))", editor)
    editor.send_keys(text)
    wait(driver, lambda d: d.execute_script("return window.qbrStats.lastCheckText") == editor.get_attribute("value"),
         what="the check of the typed text")


def solve(driver):
    driver.find_element("id", "solve").click()
    wait(driver, lambda d: "done in" in d.find_element("id", "job-status").text, timeout=120,
         what="the solve")


def test_type_the_quick_start_see_it_drawn_and_solve(browser, server):
    open_page(browser, server)
    type_text(browser, QUICK_START)
    drawing = browser.find_element("id", "drawing")
    assert drawing.get_attribute("data-elements") == "8"
    # Two conductors filled, eight element outlines with their hover decorations.
    assert len(drawing.find_elements("css selector", "path.conductor")) == 2
    assert len(drawing.find_elements("css selector", "g.el")) == 8
    assert browser.find_elements("css selector", "#messages li") == []
    solve(browser)
    cell = browser.find_element("css selector", "table.result-L td[data-i='1'][data-j='1']")
    assert cell.text == "0.168699"
    assert "Inductance L [pH/µm]" in browser.find_element("css selector", "table.result-L caption").text


def test_clockwise_outline_shows_its_message_at_its_line(browser, server):
    open_page(browser, server)
    type_text(browser, QUICK_START.replace("rect -1 1 0.2 0.4 1 0 100 10", "rect 1 -1 0.2 0.4 1 0 100 10"))
    message = wait(browser, lambda d: d.find_elements("css selector", "#messages li.err"), what="the message")[0]
    assert message.get_attribute("data-line") == "9"
    assert "runs clockwise" in message.text and message.text.startswith("Line 9:")
    mark = browser.find_element("css selector", "#gutter .ln[data-line='9']")
    assert "err" in mark.get_attribute("class").split() and "runs clockwise" in mark.get_attribute("title")
    # Mending the line takes the message away.
    type_text(browser, QUICK_START)
    assert browser.find_elements("css selector", "#messages li.err") == []


def test_warning_of_the_reader_at_its_line(browser, server):
    open_page(browser, server)
    type_text(browser, QUICK_START.replace("frequency 10 ghz", "frequency 10ghz"))
    message = wait(browser, lambda d: d.find_elements("css selector", "#messages li.warn"), what="the warning")[0]
    assert message.get_attribute("data-line") == "3" and message.text.startswith("Line 3:")


def test_sweep_a_width_and_plot_it(browser, server):
    open_page(browser, server)
    from selenium.webdriver.support.ui import Select

    Select(browser.find_element("id", "builder-kind")).select_by_value("microstrip")
    Select(browser.find_element("id", "sweep-param")).select_by_value("w")
    for field, value in (("sweep-from", "1"), ("sweep-to", "4"), ("sweep-points", "4")):
        box = browser.find_element("id", field)
        box.clear()
        box.send_keys(value)
    browser.find_element("id", "sweep").click()
    wait(browser, lambda d: d.find_element("id", "sweep-plot").get_attribute("data-points"), timeout=180,
         what="the sweep")
    plot = browser.find_element("id", "sweep-plot")
    assert plot.get_attribute("data-points") == "4"
    assert len(plot.find_elements("css selector", "circle.pt")) == 4
    # L falls as the strip widens: the points go down from left to right.
    ys = [float(c.get_attribute("cy")) for c in plot.find_elements("css selector", "circle.pt")]
    assert ys == sorted(ys)


def test_download_the_json_and_compare_with_the_program(browser, server, program, tmp_path):
    open_page(browser, server)
    type_text(browser, QUICK_START)
    solve(browser)
    before = set(browser.downloads.iterdir())
    browser.find_element("css selector", "#downloads a.download-json").click()
    path = wait(browser, lambda d: [p for p in set(browser.downloads.iterdir()) - before
                                    if p.suffix == ".json"], what="the download")[0]
    time.sleep(0.2)
    downloaded = json.loads(path.read_text())
    (tmp_path / "m.txt").write_text(QUICK_START)
    subprocess.run([program, "--no-wait", "--quiet", "--json", "m.json", "m.txt"], cwd=tmp_path,
                   check=True, stdout=subprocess.DEVNULL)
    assert_same_result(downloaded, json.loads((tmp_path / "m.json").read_text()))


def test_zoom_and_pan_keep_the_drawing(browser, server):
    open_page(browser, server)
    type_text(browser, QUICK_START)
    drawing = browser.find_element("id", "drawing")
    revision = int(drawing.get_attribute("data-revision"))
    browser.find_element("id", "zoom-in").click()
    browser.find_element("id", "zoom-in").click()
    assert int(drawing.get_attribute("data-revision")) == revision + 2
    assert len(drawing.find_elements("css selector", "g.el")) == 8
    browser.find_element("id", "fit").click()
    assert len(drawing.find_elements("css selector", "g.el")) == 8


def test_sweep_two_parameters_and_map_them(browser, server):
    open_page(browser, server)
    from selenium.webdriver.support.ui import Select

    Select(browser.find_element("id", "builder-kind")).select_by_value("coax")
    Select(browser.find_element("id", "sweep-param")).select_by_value("a")
    Select(browser.find_element("id", "sweep-param2")).select_by_value("b")
    for field, value in (("sweep-from", "0.5"), ("sweep-to", "1"), ("sweep-points", "2"),
                         ("sweep-from2", "3"), ("sweep-to2", "4"), ("sweep-points2", "2")):
        box = browser.find_element("id", field)
        box.clear()
        box.send_keys(value)
    browser.find_element("id", "sweep").click()
    wait(browser, lambda d: d.find_element("id", "sweep-plot").get_attribute("data-points"), timeout=180,
         what="the map")
    cells = browser.find_elements("css selector", "#sweep-plot rect.cell")
    assert len(cells) == 4 and len({c.get_attribute("fill") for c in cells}) == 4
