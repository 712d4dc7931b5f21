"""The qbr workbench: a local web page to edit, draw, solve and sweep a cross-section.

Start it with ``python3 -m qbr.web`` (or ``qbr-web``); it listens on 127.0.0.1:8026 and
prints its address. The server (Tornado) computes with this package's solver, in worker
processes; the page (``static/``) is plain JavaScript and fetches nothing from elsewhere.
"""

from .server import check, element_lines, main, make_app

__all__ = ["main", "make_app", "check", "element_lines"]
