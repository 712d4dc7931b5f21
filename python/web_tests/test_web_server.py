"""The workbench server: its answers, and that it survives what a browser (or anything
else on the machine) may send it, reads and writes nothing outside its folders."""

import concurrent.futures
import http.client
import json
import os
import socket
import subprocess
import time

import pytest

from web_support import QUICK_START, assert_same_result

from qbr.web import builders
from qbr.web.server import check, element_lines


def request(server, method, path, body=None, raw=None, headers=None):
    connection = http.client.HTTPConnection(server.host, server.port, timeout=60)
    data = raw if raw is not None else (None if body is None else json.dumps(body).encode())
    if headers is None:
        headers = {"Content-Type": "application/json"} if method == "POST" else {}
    connection.request(method, path, body=data, headers=headers)
    response = connection.getresponse()
    content = response.read()
    connection.close()
    try:
        doc = json.loads(content)
    except ValueError:
        doc = content
    return response.status, doc, response


def wait_job(server, job_id, timeout=120):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        status, job, _ = request(server, "GET", f"/api/jobs/{job_id}")
        assert status == 200
        if job["state"] not in ("queued", "running"):
            return job
        time.sleep(0.05)
    raise AssertionError(f"job {job_id} did not finish")


CLOCKWISE = QUICK_START.replace("rect -1 1 0.2 0.4 1 0 100 10", "rect 1 -1 0.2 0.4 1 0 100 10")


def test_listens_on_localhost_and_serves_the_page(server):
    assert server.host == "127.0.0.1"
    status, page, response = request(server, "GET", "/")
    assert status == 200 and b"qbr workbench" in page
    assert "default-src 'self'" in response.getheader("Content-Security-Policy")
    status, script, _ = request(server, "GET", "/static/app.js")
    assert status == 200 and b"requestCheck" in script
    status, doc, _ = request(server, "GET", "/api/builders")
    assert {b["kind"] for b in doc["builders"]} == {"microstrip", "stripline", "cpw", "coupled", "coax"}


def test_check_puts_messages_at_their_lines():
    doc = check(CLOCKWISE)
    assert doc["error"]["line"] == 9 and "runs clockwise" in doc["error"]["text"]
    assert len(doc["outlines"]) == 8  # still drawn
    doc = check(QUICK_START.replace("frequency 10 ghz", "frequency 10ghz").replace("ah 0.02", "ahh 0.02"))
    assert doc["error"] is None
    assert sorted(w["line"] for w in doc["warnings"]) == [3, 5]
    doc = check("lengthunit um\nlambda 0.09\nrect -10 10 -0.2 0 0 0 50 5\nrect -1 1 -0.1 0.4 1 0 20 5\n")
    assert "touch or cross" in doc["error"]["text"] and doc["error"]["line"] in (3, 4)
    doc = check("lengthunit um\nrect -1 1 0 1 1 0 x 5\n")
    assert doc["error"]["line"] == 2


def test_element_lines_follow_every_element_keyword():
    text = ("lengthunit um\npt 0 0 0\nrem a comment\ncircle 1 0 1 + 0 20\n"
            "rect -10 10 -5 -4 0 0 20 5\nel 0 2 0 5 1 5\n")
    assert element_lines(text) == [4, 5, 5, 5, 5, 6]
    # Dielectric outlines are numbered apart from the metal's, whenever their patch
    # becomes a dielectric.
    text = ("lengthunit um\nlambda 0.09\nrect -10 10 0 1 0 1 20 5\nrect -10 10 -1 0 0 0 20 5\n"
            "dielectric 1 4\nrect -1 1 1 1.2 1 0 20 5\n")
    assert element_lines(text) == [4] * 4 + [6] * 4


@pytest.mark.parametrize("kind", ["microstrip", "stripline", "cpw", "coupled", "coax"])
def test_every_builder_writes_a_model_that_checks(kind):
    for metal in builders.METALS:
        doc = check(builders.build(kind, {"metal": metal, "er": 3.9}))
        assert doc["error"] is None and doc["warnings"] == [], (kind, metal, doc)
        assert doc["outlines"]


def test_builder_default_microstrip_is_the_quick_start():
    text = builders.build("microstrip")
    assert "rect -10 10 -0.2 0 0 0 500 10" in text and "rect -1 1 0.2 0.4 1 0 100 10" in text


@pytest.mark.parametrize("path,body,raw,expected", [
    ("/api/check", None, b"{not json", 400),
    ("/api/check", None, b"\xff\xfe", 400),
    ("/api/check", [1, 2], None, 400),
    ("/api/check", {"text": 5}, None, 400),
    ("/api/check", {}, None, 400),
    ("/api/solve", {"text": None}, None, 400),
    ("/api/solve", {"text": QUICK_START, "length_m": "long"}, None, 400),
    ("/api/solve", {"text": QUICK_START, "length_m": -1}, None, 400),
    ("/api/build", {"kind": "waveguide"}, None, 400),
    ("/api/build", {"kind": "microstrip", "params": {"w": "wide"}}, None, 400),
    ("/api/build", {"kind": "microstrip", "params": {"w": -1}}, None, 400),
    ("/api/build", {"kind": "microstrip", "params": {"w": "nan"}}, None, 400),
    ("/api/build", {"kind": "microstrip", "params": [1]}, None, 400),
    ("/api/sweep", {"kind": "microstrip", "param": "nope", "from": 1, "to": 2, "points": 3}, None, 400),
    ("/api/sweep", {"kind": "microstrip", "param": "w", "from": 1, "to": 2, "points": 100000}, None, 400),
    ("/api/sweep", {"kind": "microstrip", "param": "w", "from": "a", "to": 2, "points": 3}, None, 400),
    ("/api/sweep", {"kind": "microstrip", "param": "w", "from": -1, "to": 2, "points": 3}, None, 400),
    ("/api/jobs/999999/cancel", {}, None, 404),
])
def test_malformed_requests_get_4xx(server, path, body, raw, expected):
    status, doc, _ = request(server, "POST", path, body=body, raw=raw,
                             headers={"Content-Type": "application/json"})
    assert status == expected, doc
    assert isinstance(doc, dict) and doc["error"]
    assert server.alive()


def test_requests_from_other_sites_are_refused(server):
    # A cross-site form can post text/plain without a preflight; a rebound DNS name
    # reaches this port under another Host.
    status, doc, _ = request(server, "POST", "/api/solve", body={"text": QUICK_START},
                             headers={"Content-Type": "text/plain"})
    assert status == 415
    for path in ("/", "/static/app.js", "/api/builders"):
        status, _, _ = request(server, "GET", path, headers={"Host": f"evil.example:{server.port}"})
        assert status == 403, path
    assert request(server, "GET", "/", headers={"Host": f"localhost:{server.port}"})[0] == 200


def test_a_model_beyond_the_memory_is_an_error_job(server):
    lines = ["lengthunit um", "lambda 0.09", "rect -100 100 -2 -1 0 0 500 500"]
    lines += [f"rect {-98 + 4 * k} {-96 + 4 * k} 0 1 1 0 500 500" for k in range(49)]  # 200 elements
    status, job, _ = request(server, "POST", "/api/solve", body={"text": "\n".join(lines)})
    job = wait_job(server, job["id"])
    assert job["state"] == "error" and "not allocated" in job["error"]
    assert server.alive()


def test_wrong_methods_and_unknown_paths(server):
    assert request(server, "GET", "/api/check")[0] == 405
    assert request(server, "DELETE", "/api/solve")[0] == 405
    assert request(server, "GET", "/api/jobs/999999")[0] == 404
    assert request(server, "GET", "/api/jobs/999999/download/json")[0] == 404
    assert request(server, "GET", "/api/nothing")[0] == 404
    assert request(server, "GET", "/api/jobs/1/download/passwd")[0] == 404
    assert server.alive()


def test_huge_inputs_are_refused(server):
    status, doc, _ = request(server, "POST", "/api/check", body={"text": "rem x\n" * 20000})
    assert status == 413 and "longer" in doc["error"]
    status, doc, _ = request(server, "POST", "/api/solve", body={"text": "x" * 70000})
    assert status == 413
    # A body beyond the server's limit: refused before it is read (or the connection
    # closed); the server lives on.
    try:
        status = request(server, "POST", "/api/check", raw=b"{" + b" " * (4 << 20) + b"}")[0]
        assert status in (400, 413)
    except (ConnectionError, http.client.HTTPException, socket.timeout):
        pass
    # A request line and headers far beyond any browser's.
    try:
        status = request(server, "GET", "/" + "a" * 200000)[0]
        assert status in (400, 404, 414, 431)
    except (ConnectionError, http.client.HTTPException):
        pass
    assert request(server, "GET", "/api/builders")[0] == 200


def test_no_file_outside_the_static_folder_is_served(server, tmp_path):
    secret = server.workdir / "secret.txt"
    secret.write_text("SECRET-26")
    try:
        for path in ["/static/../server.py", "/static/..%2fserver.py", "/static/%2e%2e/server.py",
                     "/static/..%2f..%2f..%2fetc%2fpasswd", "/static//etc/passwd", "/../secret.txt",
                     "/static/../../../../../../etc/passwd", "/static/%2e%2e%2f%2e%2e%2fsecret.txt",
                     "/static/..\\server.py", "/secret.txt", "/static/secret.txt",
                     f"/static/{server.workdir}/secret.txt"]:
            connection = socket.create_connection((server.host, server.port), timeout=10)
            connection.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
            answer = b""
            while chunk := connection.recv(65536):
                answer += chunk
            connection.close()
            status = int(answer.split(b" ", 2)[1])
            assert status in (400, 403, 404), (path, answer[:200])
            assert b"root:" not in answer and b"SECRET-26" not in answer and b"import" not in answer
    finally:
        secret.unlink()


def test_polyline_files_are_never_read(server):
    (server.workdir / "poly.dxc").write_text("0\nPOLYLINE\n")
    try:
        text = QUICK_START + "pl 0 1 0\n dxc poly.dxc\n"
        status, doc, _ = request(server, "POST", "/api/check", body={"text": text})
        assert status == 200 and doc["error"]["line"] == 11 and "dxc" in doc["error"]["text"]
        status, doc, _ = request(server, "POST", "/api/solve", body={"text": "DXC=../../etc/passwd\n"})
        assert status == 400
    finally:
        (server.workdir / "poly.dxc").unlink()


def test_solve_result_and_downloads_match_the_program(server, program, tmp_path):
    status, job, _ = request(server, "POST", "/api/solve", body={"text": QUICK_START})
    assert status == 202
    job = wait_job(server, job["id"])
    assert job["state"] == "done", job
    result = job["result"]
    assert f"{result['L_H_per_m'][0][0] * 1e6:.6g}" == "0.168699"
    assert set(job["downloads"]) == {"json", "csv"}  # no line parameters: no SPICE, Touchstone
    status, doc, response = request(server, "GET", f"/api/jobs/{job['id']}/download/json")
    assert status == 200 and "attachment" in response.getheader("Content-Disposition")
    (tmp_path / "m.txt").write_text(QUICK_START)
    subprocess.run([program, "--no-wait", "--quiet", "--json", "m.json", "m.txt"], cwd=tmp_path,
                   check=True, stdout=subprocess.DEVNULL)
    ours = json.loads((tmp_path / "m.json").read_text())
    assert_same_result(doc, ours)
    status, csv, _ = request(server, "GET", f"/api/jobs/{job['id']}/download/csv")
    assert csv.decode().splitlines()[0].startswith("i,j,L_H_per_m")
    assert request(server, "GET", f"/api/jobs/{job['id']}/download/spice")[0] == 409


def test_line_downloads_spice_and_touchstone(server):
    text = builders.build("microstrip", {"er": 4.3, "tand": 0.01, "metal": "copper", "frequency_ghz": 1})
    status, job, _ = request(server, "POST", "/api/solve", body={"text": text, "length_m": 0.02})
    job = wait_job(server, job["id"])
    assert job["state"] == "done", job
    line = job["result"]["line"]
    assert line["Z0_ohm"]["re"][0][0] > 0 and line["eps_eff"][0] > 1
    assert set(job["downloads"]) == {"json", "csv", "spice", "touchstone"}
    status, spice, _ = request(server, "GET", f"/api/jobs/{job['id']}/download/spice")
    assert status == 200 and b".subckt" in spice.lower()
    status, s2p, response = request(server, "GET", f"/api/jobs/{job['id']}/download/touchstone")
    assert status == 200 and b"#" in s2p and ".s2p" in response.getheader("Content-Disposition")


def test_concurrent_solves_and_cancel(server):
    text = builders.build("coax")
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        posted = list(pool.map(lambda _: request(server, "POST", "/api/solve", body={"text": text}), range(6)))
    assert all(status == 202 for status, _, _ in posted)
    # A long solve, cancelled while it runs.
    big = builders.build("microstrip", {"w": 3}).replace("500 10", "500 60")
    status, long_job, _ = request(server, "POST", "/api/solve", body={"text": big})
    # More than the queue holds: refused with 503, not queued without bound.
    refused = [request(server, "POST", "/api/solve", body={"text": text})[0] for _ in range(12)]
    assert 503 in refused
    for status, job, _ in posted:
        assert wait_job(server, job["id"])["state"] == "done"
    values = {wait_job(server, job["id"])["result"]["L_H_per_m"][0][0] for _, job, _ in posted}
    assert len(values) == 1
    for _ in range(400):
        state = request(server, "GET", f"/api/jobs/{long_job['id']}")[1]["state"]
        if state == "running":
            break
        time.sleep(0.05)
    status, doc, _ = request(server, "POST", f"/api/jobs/{long_job['id']}/cancel", body={})
    assert status == 200
    assert wait_job(server, long_job["id"])["state"] == "cancelled"
    # The pool replaced the ended worker: the next solve runs.
    status, job, _ = request(server, "POST", "/api/solve", body={"text": text})
    assert wait_job(server, job["id"])["state"] == "done"
    assert server.alive()


def test_a_model_the_solver_refuses_is_an_error_job(server):
    status, job, _ = request(server, "POST", "/api/solve", body={"text": CLOCKWISE})
    job = wait_job(server, job["id"])
    assert job["state"] == "error" and "runs clockwise" in job["error"]


def test_sweep_gives_every_point(server):
    status, job, _ = request(server, "POST", "/api/sweep", body={
        "kind": "coax", "params": {}, "param": "b", "from": 2, "to": 4, "points": 3})
    assert status == 202
    job = wait_job(server, job["id"])
    points = job["result"]["points"]
    assert [p["value"] for p in points] == [2, 3, 4]
    ls = [p["L11_H_per_m"] for p in points]
    assert ls[0] < ls[1] < ls[2]
    status, csv, _ = request(server, "GET", f"/api/jobs/{job['id']}/download/csv")
    assert len(csv.decode().splitlines()) == 4


def test_frequency_sweep_of_the_editors_model_gives_touchstone(server):
    text = builders.build("coax", {"er": 2.1, "metal": "copper"})
    status, doc, _ = request(server, "POST", "/api/sweep", body={
        "text": text, "param": "frequency", "from": 0, "to": 2, "points": 3})
    assert status == 400 and "above 0" in doc["error"]
    status, job, _ = request(server, "POST", "/api/sweep", body={
        "text": text, "param": "frequency", "from": 1, "to": 5, "points": 3})
    job = wait_job(server, job["id"])
    assert job["state"] == "done" and set(job["downloads"]) == {"csv", "touchstone"}, job
    r = [p["R11_ohm_per_m"] for p in job["result"]["points"]]
    assert r[0] < r[1] < r[2]  # the skin effect
    status, s2p, response = request(server, "GET", f"/api/jobs/{job['id']}/download/touchstone")
    rows = [line for line in s2p.decode().splitlines() if line.strip() and line[0] not in "!#"]
    assert status == 200 and ".s2p" in response.getheader("Content-Disposition")
    assert "# Hz S RI R 50" in s2p.decode()
    assert [float(row.split()[0]) for row in rows] == pytest.approx([1e9, 3e9, 5e9], rel=1e-12)


def test_sweep_of_two_parameters_gives_a_map(server):
    body = {"kind": "coax", "params": {}, "param": "a", "from": 0.5, "to": 1, "points": 2,
            "param2": "b", "from2": 3, "to2": 4, "points2": 2}
    assert request(server, "POST", "/api/sweep", body=dict(body, param2="a"))[0] == 400
    assert request(server, "POST", "/api/sweep", body=dict(body, points=12, points2=12))[0] == 400
    status, job, _ = request(server, "POST", "/api/sweep", body=body)
    job = wait_job(server, job["id"])
    L = {(p["value"], p["value2"]): p["L11_H_per_m"] for p in job["result"]["points"]}
    assert sorted(L) == [(0.5, 3), (0.5, 4), (1, 3), (1, 4)]
    assert L[1, 3] < L[0.5, 3] < L[0.5, 4] and L[1, 3] < L[1, 4]  # ln(b/a)
    csv = request(server, "GET", f"/api/jobs/{job['id']}/download/csv")[1].decode().splitlines()
    assert csv[0].startswith("value,value2,L11_H_per_m") and len(csv) == 5


def test_the_server_wrote_nothing(server):
    # Everything above ran against this server: its working directory is as it began.
    assert sorted(os.listdir(server.workdir)) == []
