"""The workbench's HTTP server (Tornado): the page, the model checks as the user types,
solves and sweeps in worker processes, and downloads made in memory.

It reads no file but its own static folder (served by Tornado's StaticFileHandler, which
refuses paths outside it) and writes none: input text arrives in requests, ``dxc`` lines
(which would read a polyline file) are refused, and downloads are built from the
result in memory.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import math
import os
import re
import signal
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import Any

import tornado.httpserver
import tornado.netutil
import tornado.web

import qbr

from . import builders
from .jobs import JobPool

STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")

MAX_TEXT = 64 * 1024  # characters of an input text (a full model of 200 elements is ~10 kB)
MAX_BODY = 256 * 1024  # bytes of a request body
MAX_SWEEP_POINTS = 41
MAX_MAP_POINTS = 121

_SEPARATORS = re.compile(r"[ \t,=]+")
_LINE_NUMBER = re.compile(r"^\s*Line (\d+)\b")
_ELEMENTS = re.compile(r"\b[Ee]lements? ((?:\d+(?:, | and )?)+)")


class RequestError(Exception):
    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status
        self.message = message


def _keyword(line: str) -> str:
    tokens = [t for t in _SEPARATORS.split(line.strip()) if t]
    return tokens[0].lower() if tokens else ""


def _check_text(text: Any) -> str:
    if not isinstance(text, str):
        raise RequestError(400, '"text" must be a string')
    if len(text) > MAX_TEXT:
        raise RequestError(413, f"the input is longer than {MAX_TEXT} characters")
    return text


def _refused_lines(text: str) -> list[dict]:
    """Lines the workbench does not read: ``dxc`` would read a file from the disk."""
    return [{"line": n, "text": f"Line {n}: polyline files (dxc) are not read by the workbench; "
                                "paste the elements instead"}
            for n, line in enumerate(text.splitlines(), 1) if _keyword(line) == "dxc"]


def element_lines(text: str) -> list[int]:
    """The input line (from 1) that made each metal element, by the elements of the
    text's leading lines: for messages that name elements. Dielectric outlines are
    numbered apart, so each leading part is read with every ``dielectric`` line of the
    whole text after it, to tell its elements apart as the whole text does."""
    lines = text.splitlines()
    kinds = [line for line in lines if _keyword(line) == "dielectric"]
    owner: list[int] = []
    for n in range(1, len(lines) + 1):
        if _keyword(lines[n - 1]) not in ("line", "curve", "circle", "el", "rect"):
            continue
        try:
            model = qbr.Model.from_text("\n".join(lines[:n] + kinds) + "\n", strict=False)
            metal = sum(1 for o in model.outlines(2) if not o.dielectric)
        except qbr.ModelError:
            continue
        owner += [n] * max(0, metal - len(owner))
    return owner


def _message(text: str, message: str, owners: list[int] | None) -> dict:
    """A message with the line it is about (0: the model as a whole)."""
    message = message.strip()
    m = _LINE_NUMBER.match(message)
    if m:
        return {"line": int(m.group(1)), "text": message}
    m = _ELEMENTS.search(message)
    if m:
        if owners is None:
            owners = element_lines(text)
        numbers = [int(x) for x in re.findall(r"\d+", m.group(1))]
        lines = sorted({owners[e] for e in numbers if 0 <= e < len(owners)})
        if lines:
            return {"line": lines[0], "lines": lines, "text": message}
    return {"line": 0, "text": message}


def check(text: str) -> dict:
    """The reader's and the set-up's messages, each at its line, and the drawing."""
    out: dict[str, Any] = {"warnings": [], "error": None, "outlines": [], "layers": [],
                           "symmetry": False, "lengthunit": "um"}
    refused = _refused_lines(text)
    if refused:
        out["error"] = refused[0]
        return out
    try:
        model = qbr.Model.from_text(text, strict=False)
    except qbr.ModelError as error:
        out["error"] = _message(text, str(error), None)
        return out
    out["warnings"] = [_message(text, w, None) for w in model.warnings]
    settings = model.settings
    out["symmetry"] = settings.symmetry == "on"
    out["lengthunit"] = settings.lengthunit
    out["layers"] = [{"y1": layer.y1 * settings.gridsize, "y2": layer.y2 * settings.gridsize,
                      "er": layer.dielectric.permittivity} for layer in settings.layers]
    try:
        outlines = model.outlines(65)  # enough for circles to look round when fitted
        out["outlines"] = [{"element": o.element, "conductor": o.conductor, "patch": o.patch,
                            "dielectric": bool(o.dielectric),
                            "points": [[float(x), float(y)] for x, y in o.points]}
                           for o in outlines]
    except qbr.ModelError as error:
        out["error"] = _message(text, str(error), None)
        return out
    try:
        seen = {w["text"] for w in out["warnings"]}
        out["warnings"] += [_message(text, w, None) for w in model.check() if w.strip() not in seen]
    except qbr.ModelError as error:
        out["error"] = _message(text, str(error), None)
    return out


class _RequestErrors:
    """A RequestError raised in a handler answers with its status and message as JSON."""

    def _handle_request_exception(self, e: BaseException) -> None:
        if isinstance(e, RequestError):
            self.set_status(e.status)
            self.finish({"error": e.message})
            return
        super()._handle_request_exception(e)


class BaseHandler(_RequestErrors, tornado.web.RequestHandler):
    def set_default_headers(self) -> None:
        self.set_header("X-Content-Type-Options", "nosniff")
        self.set_header("Cache-Control", "no-store")
        self.set_header("Content-Security-Policy",
                        "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:")

    def write_error(self, status_code: int, **kwargs: Any) -> None:
        message = self._reason
        exc = kwargs.get("exc_info")
        if exc and isinstance(exc[1], RequestError):
            message = exc[1].message
        self.finish({"error": message})

    def prepare(self) -> None:
        # A page on another site may send requests to this port through the user's
        # browser: a Host other than this machine's (DNS rebinding) is refused, and a
        # POST must say it is JSON, which a cross-site form cannot without the CORS
        # preflight this server never grants.
        allowed = self.application.settings["allowed_hosts"]
        host = self.request.host.rsplit(":", 1)[0] if not self.request.host.endswith("]") \
            else self.request.host
        if allowed is not None and host.lower() not in allowed:
            raise RequestError(403, f"host {self.request.host!r} is not this machine")
        if self.request.method == "POST":
            kind = self.request.headers.get("Content-Type", "").split(";")[0].strip().lower()
            if kind != "application/json":
                raise RequestError(415, "requests must be JSON (Content-Type: application/json)")

    def body(self) -> dict:
        try:
            doc = json.loads(self.request.body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            raise RequestError(400, "the request body is not JSON") from None
        if not isinstance(doc, dict):
            raise RequestError(400, "the request body must be a JSON object")
        return doc

    @property
    def pool(self) -> JobPool:
        return self.application.settings["pool"]

    @property
    def checker(self) -> ThreadPoolExecutor:
        return self.application.settings["checker"]


class IndexHandler(BaseHandler):
    def get(self) -> None:
        with open(os.path.join(STATIC, "index.html"), "rb") as page:
            self.set_header("Content-Type", "text/html; charset=utf-8")
            self.write(page.read())


class BuildersHandler(BaseHandler):
    def get(self) -> None:
        self.finish({"builders": builders.specs()})


class BuildHandler(BaseHandler):
    def post(self) -> None:
        doc = self.body()
        params = doc.get("params", {})
        if not isinstance(params, dict):
            raise RequestError(400, '"params" must be an object')
        try:
            self.finish({"text": builders.build(str(doc.get("kind")), params)})
        except builders.BuildError as error:
            raise RequestError(400, str(error)) from None


class CheckHandler(BaseHandler):
    async def post(self) -> None:
        text = _check_text(self.body().get("text"))
        result = await asyncio.get_running_loop().run_in_executor(self.checker, check, text)
        self.finish(result)


class SolveHandler(BaseHandler):
    def post(self) -> None:
        doc = self.body()
        text = _check_text(doc.get("text"))
        refused = _refused_lines(text)
        if refused:
            raise RequestError(400, refused[0]["text"])
        length = doc.get("length_m", 0.01)
        if not isinstance(length, (int, float)) or not 0 < length <= 1e3:
            raise RequestError(400, '"length_m" must be a number above 0 and at most 1000')
        try:
            job = self.pool.submit({"type": "solve", "text": text, "length_m": float(length)})
        except JobPool.Full as error:
            raise RequestError(503, str(error)) from None
        self.set_status(202)
        self.finish(job.public())


class SweepHandler(BaseHandler):
    def post(self) -> None:
        doc = self.body()
        try:
            start, stop, count = float(doc["from"]), float(doc["to"]), int(doc["points"])
        except (KeyError, TypeError, ValueError, OverflowError):
            raise RequestError(400, '"from", "to" and "points" must be numbers') from None
        if not 2 <= count <= MAX_SWEEP_POINTS:
            raise RequestError(400, f'"points" must be 2 to {MAX_SWEEP_POINTS}')
        if not all(map(math.isfinite, (start, stop))):
            raise RequestError(400, '"from" and "to" must be finite')
        values = [start + (stop - start) * k / (count - 1) for k in range(count)]
        if doc.get("param") == "frequency" and "text" in doc:
            # The editor's model over a band of frequencies in GHz.
            text = _check_text(doc.get("text"))
            refused = _refused_lines(text)
            if refused:
                raise RequestError(400, refused[0]["text"])
            if min(values) <= 0:
                raise RequestError(400, "the frequencies must be above 0")
            spec = {"type": "sweep", "text": text, "param": "frequency", "values": values}
        else:
            spec = self._builder_sweep(doc, values)
        try:
            job = self.pool.submit(spec)
        except JobPool.Full as error:
            raise RequestError(503, str(error)) from None
        self.set_status(202)
        self.finish(job.public())


    @staticmethod
    def _builder_sweep(doc: dict, values: list[float]) -> dict:
        kind, params, param = doc.get("kind"), doc.get("params", {}), doc.get("param")
        if not isinstance(params, dict):
            raise RequestError(400, '"params" must be an object')
        spec = next((b for b in builders.specs() if b["kind"] == kind), None)
        if spec is None:
            raise RequestError(400, f"no builder {kind!r}")
        if param not in [f["name"] for f in spec["fields"]]:
            raise RequestError(400, f"{kind} has no parameter {param!r} to sweep")
        job = {"type": "sweep", "kind": kind, "params": params, "param": param, "values": values}
        first = dict(params, **{param: values[0]})
        param2 = doc.get("param2")
        if param2:  # a second parameter: a map
            if param2 == param or param2 not in [f["name"] for f in spec["fields"]]:
                raise RequestError(400, f"{kind} has no other parameter {param2!r} to sweep")
            try:
                start, stop, count = float(doc["from2"]), float(doc["to2"]), int(doc["points2"])
            except (KeyError, TypeError, ValueError, OverflowError):
                raise RequestError(400, '"from2", "to2" and "points2" must be numbers') from None
            if not 2 <= count <= MAX_SWEEP_POINTS or count * len(values) > MAX_MAP_POINTS:
                raise RequestError(400, f'"points2" must be 2 to {MAX_SWEEP_POINTS}, and a map '
                                   f"holds at most {MAX_MAP_POINTS} points")
            if not all(map(math.isfinite, (start, stop))):
                raise RequestError(400, '"from2" and "to2" must be finite')
            job["param2"] = param2
            job["values2"] = [start + (stop - start) * k / (count - 1) for k in range(count)]
            first[param2] = job["values2"][0]
        try:  # the first point's model, to refuse bad parameters before queueing
            builders.build(kind, first)
        except builders.BuildError as error:
            raise RequestError(400, str(error)) from None
        return job


class JobHandler(BaseHandler):
    def get(self, job_id: str) -> None:
        job = self.pool.get(job_id)
        if job is None:
            raise RequestError(404, "no such job")
        self.finish(job.public())


class CancelHandler(BaseHandler):
    def post(self, job_id: str) -> None:
        job = self.pool.cancel(job_id)
        if job is None:
            raise RequestError(404, "no such job")
        self.finish(job.public())


_DOWNLOADS = {
    "json": ("application/json", "qbr-result.json"),
    "csv": ("text/csv", "qbr-result.csv"),
    "spice": ("text/plain", "qbr-line.cir"),
    "touchstone": ("text/plain", None),
}


class DownloadHandler(BaseHandler):
    def get(self, job_id: str, kind: str) -> None:
        job = self.pool.get(job_id)
        if job is None:
            raise RequestError(404, "no such job")
        if kind not in _DOWNLOADS:
            raise RequestError(404, f"no download {kind!r}")
        if job.state != "done" or kind not in job.files:
            raise RequestError(409, f"job {job_id} has no {kind} to download")
        mime, name = _DOWNLOADS[kind]
        content = job.files[kind]
        if kind == "touchstone":
            ports = 2 * (job.summary or {}).get("conductors", 1)
            name = f"qbr-line.s{ports}p"
        if job.type == "sweep" and kind == "csv":
            name = "qbr-sweep.csv"
        self.set_header("Content-Type", mime + "; charset=utf-8")
        self.set_header("Content-Disposition", f'attachment; filename="{name}"')
        self.finish(content.encode("utf-8"))


class NotFoundHandler(BaseHandler):
    def prepare(self) -> None:
        super().prepare()
        raise RequestError(404, "not found")


class StaticHandler(_RequestErrors, tornado.web.StaticFileHandler):
    def prepare(self) -> None:
        BaseHandler.prepare(self)  # the same Host check as the rest

    def write_error(self, status_code: int, **kwargs: Any) -> None:
        self.finish({"error": self._reason})


LOOPBACK = ("127.0.0.1", "localhost", "::1", "[::1]")


def make_app(workers: int = 2, threads: int | None = None,
             host: str = "127.0.0.1") -> tornado.web.Application:
    """The application; listening on a loopback address it answers only requests whose
    Host is this machine, on any other (served on purpose to others) every Host."""
    pool = JobPool(workers=workers, threads=threads)
    allowed = {h.lower() for h in LOOPBACK} | {host.lower()} if host in LOOPBACK else None
    return tornado.web.Application(
        [
            (r"/", IndexHandler),
            (r"/api/builders", BuildersHandler),
            (r"/api/build", BuildHandler),
            (r"/api/check", CheckHandler),
            (r"/api/solve", SolveHandler),
            (r"/api/sweep", SweepHandler),
            (r"/api/jobs/([0-9-]{1,40})", JobHandler),
            (r"/api/jobs/([0-9-]{1,40})/cancel", CancelHandler),
            (r"/api/jobs/([0-9-]{1,40})/download/([a-z]{1,20})", DownloadHandler),
        ],
        static_path=STATIC,
        static_url_prefix="/static/",
        static_handler_class=StaticHandler,
        allowed_hosts=allowed,
        default_handler_class=NotFoundHandler,
        pool=pool,
        checker=ThreadPoolExecutor(2, thread_name_prefix="qbr-web-check"),
        compress_response=True,
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="qbr-web", description="The qbr cross-section workbench in the browser.")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1: this machine only)")
    parser.add_argument("--port", type=int, default=8026, help="port (default 8026; 0: any free)")
    parser.add_argument("--workers", type=int, default=2,
                        help="solves and sweeps that run at once, each in its own process")
    parser.add_argument("--threads", type=int, default=None,
                        help="threads per solve (default: all cores)")
    args = parser.parse_args(argv)
    try:
        return asyncio.run(_serve(args))
    except KeyboardInterrupt:
        return 0


async def _serve(args: argparse.Namespace) -> int:
    app = make_app(args.workers, args.threads, args.host)
    server = tornado.httpserver.HTTPServer(app, max_body_size=MAX_BODY)
    try:
        sockets = tornado.netutil.bind_sockets(args.port, address=args.host)
    except OSError as error:
        print(f"qbr-web: cannot listen on {args.host}:{args.port}: {error.strerror}", file=sys.stderr)
        app.settings["pool"].close()
        return 1
    server.add_sockets(sockets)
    port = sockets[0].getsockname()[1]
    host = f"[{args.host}]" if ":" in args.host else args.host
    print(f"qbr workbench: http://{host}:{port}/  (Ctrl-C ends it)", flush=True)
    # SIGTERM ends it as Ctrl-C does: the workers are stopped with it.
    stop = asyncio.Event()
    try:
        asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    except (NotImplementedError, RuntimeError):
        pass
    try:
        await stop.wait()
    except asyncio.CancelledError:
        pass
    finally:
        server.stop()
        app.settings["pool"].close()
    return 0

if __name__ == "__main__":
    sys.exit(main())
