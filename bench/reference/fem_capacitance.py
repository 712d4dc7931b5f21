#!/usr/bin/python3
"""Per-unit-length Maxwell capacitance matrix of a 2-D cross-section by finite elements.

An independent reference for the boundary-element electrostatics: it shares no code
with qbr. Perfect conductors (polygons, rectangles, circles) numbered 0 (the
reference/return; may be absent) and 1..N sit in piecewise-constant dielectric regions
(later regions win where they overlap; metal wins over any region); everything else
has the background permittivity.

Method
  * Geometry with the gmsh OCC kernel: one boolean fragment of the domain with every
    conductor and region gives a conforming partition; metal pieces are dropped and
    their edges become Dirichlet boundaries.
  * Quadratic (6-node, isoparametric) triangles. The mesh size is graded
    algebraically toward every geometric vertex (metal corners, dielectric corners,
    triple junctions): h(d) = h * ((d + d*)/L)^(1-mu), mu = 0.2, d* = L (h/L)^(1/mu),
    L the model's half-diagonal. This grading restores the optimal rate (energy error
    ~ dof^-2 for P2) for corner singularities r^lambda with lambda > 2 mu = 0.4 (a
    metal corner on silicon has lambda near 1/2). gmsh meshes down to sizes of 1e-5 L
    (its 2-D meshers fold or abort below that); the rest of the grading, down to d*
    (1e-9 L on the finest meshes), is done here by red-green refinement around the
    vertices. Every mesh is checked (conformity, no folds or cracks, total area); flat
    triangles the mesher leaves on straight boundaries are removed; a failed mesher
    is replaced by the next of Frontal-Delaunay, Delaunay, MeshAdapt.
  * Open problems: the exterior |z - c| > R of a circle that holds the whole model is
    mapped by the Kelvin inversion w = c + R^2 / conj(z - c) onto a second disk of
    radius R (background permittivity). The 2-D Dirichlet energy is invariant under
    this conformal map, so the far field is represented exactly: the two circles are
    meshed identically and their nodes are identified; the centre of the second disk
    is the point at infinity, where nothing is imposed. The total charge is then zero
    (conductor 0 returns the charge of 1..N), which is the transmission-line
    convention. '--outer dirichlet' instead grounds the circle (conductor 0), which
    leaves an error that decays only like 1/ln R; it is there to show that.
    A model may instead give an "enclosure" (a shield): its boundary is conductor 0.
  * Direct sparse solve (SuperLU) for the N excitations V_j = delta_jk, and
    C_jk = eps0 * u_j^T K u_k: the energy / weak-form reaction form (the diagonal is
    2W/V^2; it equals the reaction charge on conductor j), accurate to the square of the
    energy-norm error and exactly symmetric.
  * Refinement sequence h_k = h0 * 2^(-k/2) (about twice the dof each step); the
    last three values give the observed order p in C(n) = C_inf + a n^-p (n = dof)
    and the extrapolated C_inf (see richardson()).

Usage
  fem_capacitance.py CASE|model.json [--levels K] [--h0 F] [--rfac F] [--outer kelvin|dirichlet]
  fem_capacitance.py --list
Lengths are in any one unit (a 2-D capacitance per unit length does not depend on it);
results are in pF/m. For every model with dielectrics, C0 (all vacuum) follows.

Model file (JSON); shapes are {"rect": [x0, y0, x1, y1]}, {"circle": [cx, cy, r]} or
{"polygon": [[x, y], ...]}; several shapes may carry one conductor id:
  {"conductors":  [{"id": 0, "rect": [...]}, {"id": 1, "circle": [...]}, ...],
   "dielectrics": [{"eps": 4.3, "polygon": [...]}, ...],   optional; later ones win
   "background":  1.0,                                       optional
   "enclosure":   {"rect": [...]},     optional shield: its boundary is conductor 0
   "exact":       [[C11, C12], [C21, C22]],   optional, pF/m, printed beside results
   "exact0":      the same for C0
   "note":        "..."}
"""

import argparse
import json
import math
import sys
import time

import numpy as np
import scipy.sparse as sp
import scipy.sparse.linalg as spla
from scipy.spatial import cKDTree

try:
    import gmsh
except ImportError:  # the tests skip themselves on this
    gmsh = None

EPS0 = 8.8541878128e-12  # F/m
MU = 0.2                 # grading exponent: h ~ d^(1-MU) near vertices


# ---------------------------------------------------------------------------
# Built-in cases
# ---------------------------------------------------------------------------

def _rect(x0, y0, x1, y1):
    return {"rect": [x0, y0, x1, y1]}


def _microstrip(half_width):
    w = half_width
    return {
        "conductors": [
            dict(id=0, **_rect(-w, -1.635, w, -1.6)),
            dict(id=1, **_rect(-1.5, 0.0, 1.5, 0.035)),
        ],
        "dielectrics": [dict(eps=4.3, **_rect(-w, -1.6, w, 0.0))],
    }


CASES = {
    "coax_shells": {
        "note": "wire r=1 in bore r=3; eps 2 for 1<r<2, eps 4 for 2<r<3",
        "enclosure": {"circle": [0.0, 0.0, 3.0]},
        "conductors": [{"id": 1, "circle": [0.0, 0.0, 1.0]}],
        "dielectrics": [{"eps": 4.0, "circle": [0.0, 0.0, 3.0]},
                        {"eps": 2.0, "circle": [0.0, 0.0, 2.0]}],
        "exact": [[2 * math.pi * EPS0 / (math.log(2.0) / 2 + math.log(1.5) / 4) * 1e12]],
        "exact0": [[2 * math.pi * EPS0 / math.log(3.0) * 1e12]],
    },
    "coax_half": {
        "note": "wire r=1 in bore r=3; eps 3 in y<0, air in y>0",
        "enclosure": {"circle": [0.0, 0.0, 3.0]},
        "conductors": [{"id": 1, "circle": [0.0, 0.0, 1.0]}],
        "dielectrics": [{"eps": 3.0, "rect": [-3.0, -3.0, 3.0, 0.0]}],
        "exact": [[math.pi * EPS0 * (3.0 + 1.0) / math.log(3.0) * 1e12]],
        "exact0": [[2 * math.pi * EPS0 / math.log(3.0) * 1e12]],
    },
    "twowire": {
        "note": "open two-wire line: wires r=1 at x=-2 (0) and x=2 (1), air",
        "conductors": [{"id": 0, "circle": [-2.0, 0.0, 1.0]},
                       {"id": 1, "circle": [2.0, 0.0, 1.0]}],
        "exact": [[math.pi * EPS0 / math.acosh(2.0) * 1e12]],
    },
    "microstrip": dict(note="FR4 microstrip, ground and substrate 20 mm wide", **_microstrip(10.0)),
    "microstrip80": dict(note="FR4 microstrip, ground and substrate 80 mm wide", **_microstrip(40.0)),
    "shielded": {
        "note": "strip on a slab in a shielded cavity x -5..5, y -2..3",
        "enclosure": _rect(-5.0, -2.0, 5.0, 3.0),
        "conductors": [dict(id=1, **_rect(-1.0, 0.0, 1.0, 0.2))],
        "dielectrics": [dict(eps=4.3, **_rect(-5.0, -2.0, 5.0, 0.0))],
    },
    "cpw": {
        "note": "coplanar waveguide on silicon (um); films 0.2 thick",
        "conductors": [
            dict(id=0, **_rect(-200.0, 0.0, -11.0, 0.2)),
            dict(id=0, **_rect(11.0, 0.0, 200.0, 0.2)),
            dict(id=1, **_rect(-5.0, 0.0, 5.0, 0.2)),
        ],
        "dielectrics": [dict(eps=11.7, **_rect(-200.0, -300.0, 200.0, 0.0))],
    },
    "coupled": {
        "note": "coupled microstrip pair on FR4",
        "conductors": [
            dict(id=0, **_rect(-10.0, -1.635, 10.0, -1.6)),
            dict(id=1, **_rect(-2.0, 0.0, -0.5, 0.035)),
            dict(id=2, **_rect(0.5, 0.0, 2.0, 0.035)),
        ],
        "dielectrics": [dict(eps=4.3, **_rect(-10.0, -1.6, 10.0, 0.0))],
    },
}


# ---------------------------------------------------------------------------
# Geometry and mesh
# ---------------------------------------------------------------------------

def _shape_points(shape):
    if "rect" in shape:
        x0, y0, x1, y1 = shape["rect"]
        return np.array([[x0, y0], [x1, y1]], float)
    if "circle" in shape:
        cx, cy, r = shape["circle"]
        return np.array([[cx - r, cy - r], [cx + r, cy + r]], float)
    if "polygon" in shape:
        return np.asarray(shape["polygon"], float)
    raise ValueError("a shape needs 'rect', 'circle' or 'polygon': %r" % (shape,))


def _add_shape(shape):
    occ = gmsh.model.occ
    if "rect" in shape:
        x0, y0, x1, y1 = shape["rect"]
        if not (x1 > x0 and y1 > y0):
            raise ValueError("empty rectangle %r" % (shape["rect"],))
        return occ.addRectangle(x0, y0, 0.0, x1 - x0, y1 - y0)
    if "circle" in shape:
        cx, cy, r = shape["circle"]
        c = occ.addCircle(cx, cy, 0.0, r)
        return occ.addPlaneSurface([occ.addCurveLoop([c])])
    pts = shape["polygon"]
    if len(pts) < 3:
        raise ValueError("a polygon needs three vertices")
    p = [occ.addPoint(x, y, 0.0) for x, y in pts]
    lines = [occ.addLine(p[i], p[(i + 1) % len(p)]) for i in range(len(p))]
    return occ.addPlaneSurface([occ.addCurveLoop(lines)])


def _smooth_vertex(p, curves):
    """True where p only splits one smooth boundary: the seam of a closed curve, or
    two tangent-continuous curves with the same faces on either side."""
    if len(curves) == 1:
        return True
    if len(curves) != 2:
        return False
    if set(gmsh.model.getAdjacencies(1, curves[0])[0]) != set(gmsh.model.getAdjacencies(1, curves[1])[0]):
        return False
    xp = np.array(gmsh.model.getValue(0, p, []))
    tangents = []
    for c in curves:
        lo, hi = gmsh.model.getParametrizationBounds(1, c)
        ends = [lo[0], hi[0]]
        dist = [np.linalg.norm(np.array(gmsh.model.getValue(1, c, [t])) - xp) for t in ends]
        t = ends[int(np.argmin(dist))]
        d = np.array(gmsh.model.getDerivative(1, c, [t]))
        tangents.append(d / np.linalg.norm(d))
    return abs(abs(float(tangents[0] @ tangents[1])) - 1.0) < 1e-9


class Mesh:
    """P2 mesh: xy (nodes x 2), tri (elements x 6, gmsh order), dof (tri with the
    Kelvin circle's nodes identified), eps (per element), cond {id: node indices}."""


def build_mesh(model, h_rel, rfac=2.0, outer="kelvin", vacuum=False, algorithm=5, floor=0.0):
    """Mesh `model` with base size h = h_rel * L (L: model half-diagonal); gmsh is
    asked for no size below floor * L. Returns a Mesh."""
    bg = 1.0 if vacuum else float(model.get("background", 1.0))
    cond_shapes = model["conductors"]
    diel = [] if vacuum else model.get("dielectrics", [])
    encl = model.get("enclosure")

    allpts = np.vstack([_shape_points(s) for s in cond_shapes + diel])
    if encl is not None:
        allpts = _shape_points(encl)
    lo, hi = allpts.min(axis=0), allpts.max(axis=0)
    centre = 0.5 * (lo + hi)
    L = 0.5 * float(np.hypot(*(hi - lo)))
    h = h_rel * L
    R = rfac * L

    gmsh.initialize(readConfigFiles=False)
    gmsh.option.setNumber("General.Terminal", 0)
    gmsh.model.add("fem")
    occ = gmsh.model.occ
    if encl is not None:
        domain = _add_shape(encl)
    else:
        c = occ.addCircle(centre[0], centre[1], 0.0, R)
        domain = occ.addPlaneSurface([occ.addCurveLoop([c])])
    inputs = [("domain", None)]
    tags = [domain]
    for s in cond_shapes:
        k = int(s["id"])
        if k < 0:
            raise ValueError("conductor ids are 0 (reference) and 1..N")
        inputs.append(("metal", k))
        tags.append(_add_shape(s))
    for s in diel:
        inputs.append(("diel", float(s["eps"])))
        tags.append(_add_shape(s))
    _, outmap = occ.fragment([(2, tags[0])], [(2, t) for t in tags[1:]])
    occ.synchronize()

    # What covers each fragment: inside the domain? metal? which permittivity?
    parents = {}
    for i, children in enumerate(outmap):
        for dim, t in children:
            if dim == 2:
                parents.setdefault(t, []).append(i)
    keep, eps_of, metal_of = [], {}, {}
    for t, ps in parents.items():
        ids = {inputs[i][1] for i in ps if inputs[i][0] == "metal"}
        if len(ids) > 1:
            raise ValueError("conductors %s overlap" % sorted(ids))
        if ids:
            metal_of[t] = ids.pop()
            continue
        if 0 not in ps:
            continue  # outside the domain
        e = bg
        for i in sorted(ps):
            if inputs[i][0] == "diel":
                e = inputs[i][1]
        keep.append(t)
        eps_of[t] = e

    # Boundary curves of the kept surfaces: on metal, or on the outside of the domain.
    cond_curves, outer_curves = {}, []
    for t in keep:
        for dim, cv in gmsh.model.getBoundary([(2, t)], combined=False, oriented=False):
            up, _ = gmsh.model.getAdjacencies(1, abs(cv))
            metal = {metal_of[s] for s in up if s in metal_of}
            if len(metal) > 1:
                raise ValueError("conductors %s touch" % sorted(metal))
            if metal:
                cond_curves.setdefault(metal.pop(), set()).add(abs(cv))
            elif sum(1 for s in up if 0 in parents.get(s, ())) == 1:
                outer_curves.append(abs(cv))
    outer_curves = sorted(set(outer_curves))

    # Vertices toward which the mesh is graded (not the seam of a smooth circle, nor
    # the far circle of an open problem).
    sing = set()
    for t in keep:
        for dim, p in gmsh.model.getBoundary([(2, t)], combined=False, oriented=False,
                                            recursive=True):
            if dim != 0:
                continue
            up, _ = gmsh.model.getAdjacencies(0, p)
            if encl is None and set(up) <= set(outer_curves):
                continue
            if _smooth_vertex(p, up):
                continue
            sing.add(p)

    drop = [(2, t) for t in parents if t not in eps_of]  # metal, and pieces outside
    if drop:
        occ.remove(drop, recursive=True)
    ext = None
    shift = 3.0 * R + 2.0 * L
    if encl is None and outer == "kelvin":
        c = occ.addCircle(centre[0] + shift, centre[1], 0.0, R)
        ext = occ.addPlaneSurface([occ.addCurveLoop([c])])
    occ.synchronize()
    for dim, t in gmsh.model.getEntities(2):
        if t not in keep and t != ext:
            raise RuntimeError("stray surface %d after the metal was removed" % t)

    # Mesh size: algebraic grading toward the vertices; capped by the size it reaches
    # at the outer circle so that the far region (and the Kelvin disk) is uniform.
    dstar = L * (h / L) ** (1.0 / MU)
    dgm = max(dstar, floor * L)  # finest size asked of gmsh; refine_corners does the rest
    hmax = h if not sing else h * ((max(R - L, L) + dstar) / L) ** (1.0 - MU)
    if encl is not None:
        hmax = h
    gmsh.option.setNumber("Mesh.MeshSizeMax", hmax)
    gmsh.option.setNumber("Mesh.MeshSizeMin", 0.0)
    gmsh.option.setNumber("Mesh.MeshSizeExtendFromBoundary", 0)
    gmsh.option.setNumber("Mesh.MeshSizeFromPoints", 0)
    gmsh.option.setNumber("Mesh.MeshSizeFromCurvature", 0)
    gmsh.option.setNumber("Mesh.Algorithm", algorithm)
    gmsh.option.setNumber("Mesh.ElementOrder", 2)
    gmsh.option.setNumber("Mesh.SecondOrderLinear", 0)
    gmsh.option.setNumber("Mesh.HighOrderOptimize", 0)
    if sing:
        fd = gmsh.model.mesh.field.add("Distance")
        gmsh.model.mesh.field.setNumbers(fd, "PointsList", sorted(sing))
        fm = gmsh.model.mesh.field.add("MathEval")
        gmsh.model.mesh.field.setString(
            fm, "F", "%.17g*exp(%.17g*log((F%d+%.17g)/%.17g))" % (h, 1.0 - MU, fd, dgm, L))
        gmsh.model.mesh.field.setAsBackgroundMesh(fm)
    if ext is not None:
        ecurve = abs(gmsh.model.getBoundary([(2, ext)], oriented=False)[0][1])
        if len(outer_curves) != 1:
            raise RuntimeError("the far circle was split")
        tr = [1, 0, 0, shift, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]
        gmsh.model.mesh.setPeriodic(1, [ecurve], [outer_curves[0]], tr)
    gmsh.model.mesh.generate(2)

    ntags, coords, _ = gmsh.model.mesh.getNodes()
    ntags = np.asarray(ntags, dtype=np.int64)
    index = np.full(ntags.max() + 1, -1, dtype=np.int64)
    index[ntags] = np.arange(len(ntags))
    xy = np.asarray(coords).reshape(-1, 3)[:, :2].copy()

    tris, regs = [], []
    surfaces = [(t, eps_of[t]) for t in keep]
    if ext is not None:
        surfaces.append((ext, bg))
    for r, (t, e) in enumerate(surfaces):
        etypes, _, enodes = gmsh.model.mesh.getElements(2, t)
        for et, en in zip(etypes, enodes):
            if et != 9:
                raise RuntimeError("unexpected element type %d" % et)
            conn = index[np.asarray(en, dtype=np.int64)].reshape(-1, 6)
            tris.append(conn)
            regs.append(np.full(len(conn), r))
    tri = np.vstack(tris)
    region = np.concatenate(regs)
    area_geo = sum(gmsh.model.occ.getMass(2, t) for t, _ in surfaces)
    xy, tri, region, nfixed = repair_slivers(xy, tri, region)

    def curve_nodes(curves):
        out = []
        for cv in curves:
            nt, _, _ = gmsh.model.mesh.getNodes(1, cv, includeBoundary=True)
            out.append(index[np.asarray(nt, dtype=np.int64)])
        return np.unique(np.concatenate(out)) if out else np.zeros(0, np.int64)

    def mask(nodes):
        mk = np.zeros(len(xy), bool)
        mk[nodes] = True
        return mk

    on_curve = mask(index[np.asarray(gmsh.model.mesh.getNodes(1, -1)[0], dtype=np.int64)])
    cond = {k: mask(curve_nodes(cvs)) for k, cvs in cond_curves.items()}
    if encl is not None or outer == "dirichlet":
        cond[0] = cond.get(0, mask([])) | mask(curve_nodes(outer_curves))

    # Geometric refinement toward each vertex, below the finest size asked of gmsh.
    corners = [int(index[gmsh.model.mesh.getNodes(0, p)[0][0]]) for p in sorted(sing)]
    def size(d):
        return h * ((d + dstar) / L) ** (1.0 - MU)
    dmax = L * (1.5 * dgm / h) ** (1.0 / (1.0 - MU))  # beyond it gmsh's size is size(d)
    xy, tri, region, masks, npass = refine_corners(xy, tri, region, [on_curve] + list(cond.values()),
                                                   corners, size, dmax)
    on_curve = masks[0]
    cond = {k: np.flatnonzero(mk) for k, mk in zip(cond, masks[1:])}
    check_mesh(xy, tri, on_curve)
    eps = np.array([e for _, e in surfaces])[region]

    remap = np.arange(len(xy))
    if ext is not None:
        # Identify the nodes of the two circles (same angle <-> same point).
        inner = curve_nodes(outer_curves)
        outer_nodes = curve_nodes([ecurve])
        tree = cKDTree(xy[inner])
        dist, j = tree.query(xy[outer_nodes] - np.array([shift, 0.0]))
        if len(inner) != len(outer_nodes) or dist.max() > 1e-9 * R:
            raise RuntimeError("the circles' meshes do not match (%d vs %d nodes, gap %.3g)"
                               % (len(inner), len(outer_nodes), dist.max()))
        remap[outer_nodes] = inner[j]
    gmsh.finalize()

    m = Mesh()
    # Element geometry uses each disk's own coordinates (the stiffness of the Kelvin
    # disk needs no mapping: conformal invariance); the unknowns are shared.
    m.xy, m.tri, m.dof, m.eps, m.cond = xy, tri, remap[tri], eps, cond
    m.L, m.R, m.h = L, R, h
    m.nslivers = nfixed
    m.npass = npass
    area = float(element_areas(xy, tri).sum())
    if abs(area - area_geo) > 1e-4 * area_geo:
        raise RuntimeError("the mesh covers %.12g, the geometry %.12g" % (area, area_geo))
    m.nsing = len(sing)
    return m


def _vertex_quality(xy, tri):
    """2 * area / (longest edge)^2 of the straight triangle through the vertices."""
    X = xy[tri[:, :3]]
    a = np.abs((X[:, 1, 0] - X[:, 0, 0]) * (X[:, 2, 1] - X[:, 0, 1])
               - (X[:, 2, 0] - X[:, 0, 0]) * (X[:, 1, 1] - X[:, 0, 1]))
    e2 = np.max([((X[:, i] - X[:, (i + 1) % 3]) ** 2).sum(axis=1) for i in range(3)], axis=0)
    return a / e2


_MID = {(0, 1): 3, (1, 0): 3, (1, 2): 4, (2, 1): 4, (0, 2): 5, (2, 0): 5}


def check_mesh(xy, tri, on_curve):
    """Reject a mesh that is not a valid conforming triangulation: no edge has more
    than two triangles, two that share one lie on opposite sides of it and share its
    middle node, and an edge of only one triangle lies on a geometric curve. (With the
    total area checked as well, this rules out folds, overlaps and cracks.)"""
    v = tri[:, :3]
    ends = np.stack([v[:, [0, 1]], v[:, [1, 2]], v[:, [2, 0]]], axis=1)   # (ne, 3, 2)
    ends = np.sort(ends, axis=2)
    opp = v[:, [2, 0, 1]]
    p, q, o = xy[ends[..., 0]], xy[ends[..., 1]], xy[opp]
    side = np.sign((q[..., 0] - p[..., 0]) * (o[..., 1] - p[..., 1])
                   - (q[..., 1] - p[..., 1]) * (o[..., 0] - p[..., 0])).ravel()
    keys = (ends[..., 0] * len(xy) + ends[..., 1]).ravel()
    mids = tri[:, 3:].ravel()
    order = np.argsort(keys, kind="stable")
    keys, mids, side = keys[order], mids[order], side[order]
    _, first, count = np.unique(keys, return_index=True, return_counts=True)
    if count.max() > 2:
        raise RuntimeError("an edge with more than two triangles")
    two = first[count == 2]
    if np.any(mids[two] != mids[two + 1]):
        raise RuntimeError("non-conforming middle nodes")
    if np.any(side[two] * side[two + 1] >= 0):
        raise RuntimeError("folded triangles")
    if not np.all(on_curve[mids[first[count == 1]]]):
        raise RuntimeError("a crack in the mesh")


_REF = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0], [0.5, 0.0], [0.5, 0.5], [0.0, 0.5]])
_RED = ((0, 3, 5), (3, 1, 4), (5, 4, 2), (3, 4, 5))
_HALF = {frozenset(p): m for m, pairs in ((3, ((0, 3), (3, 1))), (4, ((1, 4), (4, 2))),
                                          (5, ((2, 5), (5, 0)))) for p in pairs}


def p2_shape(xi, eta):
    l0, l1, l2 = 1.0 - xi - eta, xi, eta
    return np.array([l0 * (2 * l0 - 1), l1 * (2 * l1 - 1), l2 * (2 * l2 - 1),
                     4 * l0 * l1, 4 * l1 * l2, 4 * l2 * l0])


def refine_corners(xy, tri, region, masks, corners, size, dmax):
    """Refine near the corner nodes until every triangle is no larger than
    1.5 * size(d), d the distance of its nearest vertex from the nearest corner (only
    within dmax of a corner: gmsh's mesh is finer than that elsewhere).

    Each pass splits the marked triangles into four (red) and closes the mesh by
    halving the neighbours that got one new node on an edge (green); a neighbour with
    two or more is split into four as well. New nodes are placed by each parent's own
    quadratic map, so the geometry (curved edges included) is unchanged and neighbours
    agree. masks (per node: on a curve, on conductor k) pass to a node made on the half
    of an edge from that edge's middle node. Returns the new arrays and the number of
    passes."""
    corners = np.asarray(corners, dtype=np.int64)
    masks = [np.asarray(mk) for mk in masks]
    npass = 0
    if not len(corners):
        return xy, tri, region, masks, npass
    tree = cKDTree(xy[corners])
    dn = tree.query(xy)[0]
    while True:
        v = tri[:, :3]
        dnear = dn[v].min(axis=1)
        near = np.flatnonzero(dnear < dmax)
        X = xy[v[near]]
        edge = np.sqrt(np.max([((X[:, i] - X[:, (i + 1) % 3]) ** 2).sum(axis=1)
                               for i in range(3)], axis=0))
        marked = near[edge > 1.5 * size(dnear[near])]
        if not len(marked):
            break
        red = set(marked.tolist())
        # closure: neighbours with two or more split edges become red too
        while True:
            rv = np.unique(v[list(red)])
            cand = np.flatnonzero(np.isin(v, rv).any(axis=1))
            split = set()
            for e in red:
                t = tri[e]
                split.update((min(t[i], t[j]), max(t[i], t[j])) for i, j in ((0, 1), (1, 2), (2, 0)))
            green, grow = {}, []
            for e in cand:
                if e in red:
                    continue
                t = tri[e]
                hits = [k for k, (i, j) in enumerate(((0, 1), (1, 2), (2, 0)))
                        if (min(t[i], t[j]), max(t[i], t[j])) in split]
                if len(hits) >= 2:
                    grow.append(e)
                elif hits:
                    green[e] = hits[0]
            if not grow:
                break
            red.update(grow)
        # existing edges of the elements concerned -> their middle nodes
        emid = {}
        for e in list(red) + list(green):
            t = tri[e]
            for i, j, m in ((0, 1, 3), (1, 2, 4), (2, 0, 5)):
                emid[(min(t[i], t[j]), max(t[i], t[j]))] = t[m]
        new_xy, new_mask = [], []
        n0 = len(xy)

        def mid(e, i, j, ri, rj):
            """Middle node of the child edge between local nodes i, j of element e."""
            a, b = tri[e][i], tri[e][j]
            key = (min(a, b), max(a, b))
            if key in emid:
                return emid[key]
            r = 0.5 * (ri + rj)
            new_xy.append(p2_shape(*r) @ xy[tri[e]])
            parent_mid = _HALF.get(frozenset((i, j)))
            new_mask.append([bool(mk[tri[e][parent_mid]]) if parent_mid is not None else False
                             for mk in masks])
            emid[key] = n0 + len(new_xy) - 1
            return emid[key]

        children, child_reg = [], []
        for e in red:
            for i, j, k in _RED:
                children.append([tri[e][i], tri[e][j], tri[e][k],
                                 mid(e, i, j, _REF[i], _REF[j]), mid(e, j, k, _REF[j], _REF[k]),
                                 mid(e, k, i, _REF[k], _REF[i])])
                child_reg.append(region[e])
        for e, k in green.items():
            i, j = ((0, 1), (1, 2), (2, 0))[k]
            m = 3 + k
            o = 3 - i - j
            for a, b in ((i, m), (m, j)):
                children.append([tri[e][a], tri[e][b], tri[e][o],
                                 mid(e, a, b, _REF[a], _REF[b]), mid(e, b, o, _REF[b], _REF[o]),
                                 mid(e, o, a, _REF[o], _REF[a])])
                child_reg.append(region[e])
        drop = np.zeros(len(tri), bool)
        drop[list(red) + list(green)] = True
        tri = np.vstack([tri[~drop], np.asarray(children, dtype=tri.dtype)])
        region = np.concatenate([region[~drop], np.asarray(child_reg, dtype=region.dtype)])
        if new_xy:
            xy = np.vstack([xy, np.asarray(new_xy)])
            nm = np.asarray(new_mask, bool).reshape(len(new_xy), len(masks))
            masks = [np.concatenate([mk, nm[:, q]]) for q, mk in enumerate(masks)]
            dn = np.concatenate([dn, tree.query(np.asarray(new_xy))[0]])
        npass += 1
        if npass > 200:
            raise RuntimeError("corner refinement does not end")
    return xy, tri, region, masks, npass


def repair_slivers(xy, tri, eps, qmin=1e-9):
    """Remove flat triangles (three collinear vertices) that the 2-D Delaunay mesher
    leaves along straight boundaries where the grading is extreme.

    A flat triangle (a, b, c), b between a and c, covers no area. Its neighbour across
    a-c, T = (a, c, x), is split into (a, b, x) and (b, c, x) and the flat one dropped:
    the mesh stays conforming and covers the same area. Returns the new arrays and the
    number of repairs.
    """
    nfixed = 0
    for _ in range(1000):
        q = _vertex_quality(xy, tri)
        flat = np.flatnonzero(q < qmin)
        if len(flat) == 0:
            return xy, tri, eps, nfixed
        v = tri[:, :3]
        keys = np.sort(np.stack([v[:, [0, 1]], v[:, [1, 2]], v[:, [2, 0]]], axis=1), axis=2)
        n = len(xy)
        keys = keys[..., 0] * n + keys[..., 1]          # (ne, 3)
        touched, drop, add_tri, add_eps, new_xy = set(), [], [], [], []
        for f in flat:
            X = xy[tri[f, :3]]
            e2 = [((X[i] - X[(i + 1) % 3]) ** 2).sum() for i in range(3)]
            i = int(np.argmax(e2))
            ia, ic, ib = i, (i + 1) % 3, (i + 2) % 3    # a-c is the longest edge
            owners = np.flatnonzero((keys == keys[f, i]).any(axis=1))
            owners = owners[owners != f]
            if len(owners) != 1:
                raise RuntimeError("flat triangle on the boundary of the mesh")
            t = int(owners[0])
            if q[t] < qmin or t in touched or f in touched:
                continue  # a nested flat one: next pass
            a, b, c = tri[f, ia], tri[f, ib], tri[f, ic]
            m_ab, m_bc = tri[f, _MID[(ia, ib)]], tri[f, _MID[(ib, ic)]]
            lt = list(tri[t, :3])
            ja, jc = lt.index(a), lt.index(c)
            jx = 3 - ja - jc
            x = tri[t, jx]
            m_xa, m_cx = tri[t, _MID[(jx, ja)]], tri[t, _MID[(jc, jx)]]
            m_bx = n + len(new_xy)
            new_xy.append(0.5 * (xy[b] + xy[x]))
            add_tri += [[a, b, x, m_ab, m_bx, m_xa], [b, c, x, m_bc, m_cx, m_bx]]
            add_eps += [eps[t], eps[t]]
            drop += [f, t]
            touched.update((f, t))
            nfixed += 1
        if not drop:
            raise RuntimeError("could not repair the flat triangles")
        keep = np.ones(len(tri), bool)
        keep[drop] = False
        tri = np.vstack([tri[keep], np.asarray(add_tri, dtype=tri.dtype)])
        eps = np.concatenate([eps[keep], np.asarray(add_eps)])
        xy = np.vstack([xy, np.asarray(new_xy)])
    raise RuntimeError("too many flat triangles")


ALGORITHMS = ((6, "Frontal-Delaunay"), (5, "Delaunay"), (1, "MeshAdapt"))
FLOOR = 1e-5  # finest mesh size asked of gmsh, relative to L (see refine_corners)


def mesh_robust(model, h_rel, **kw):
    """build_mesh with gmsh's fast 2-D Delaunay mesher, falling back on slower ones.

    Under extreme grading the Delaunay mesher can fold or crack a mesh, or abort the
    process; each attempt therefore runs in a forked child, and a mesh is taken only
    when check_mesh and the area check pass."""
    import multiprocessing as mp
    ctx = mp.get_context("fork")
    errors = []
    for alg, name in ALGORITHMS:
        recv, send = ctx.Pipe(duplex=False)

        def child(send=send, alg=alg):
            try:
                send.send(("ok", build_mesh(model, h_rel, algorithm=alg, floor=FLOOR, **kw)))
            except Exception as e:  # reported to the parent
                send.send(("error", str(e)))
            send.close()

        p = ctx.Process(target=child)
        p.start()
        send.close()
        try:
            status, value = recv.recv()
        except EOFError:
            status, value = "error", "the mesher aborted"
        p.join()
        if status == "ok":
            value.algorithm = name
            value.mesh_errors = errors
            return value
        errors.append("%s: %s" % (name, value))
    raise RuntimeError("no mesher succeeded: " + "; ".join(errors))


# ---------------------------------------------------------------------------
# Finite elements
# ---------------------------------------------------------------------------

# Degree-4 six-point rule on the reference triangle (weights sum to 1/2).
_QA, _QB = 0.445948490915965, 0.091576213509771
_QW1, _QW2 = 0.223381589678011 / 2, 0.109951743655322 / 2
QP = np.array([[_QA, _QA], [1 - 2 * _QA, _QA], [_QA, 1 - 2 * _QA],
               [_QB, _QB], [1 - 2 * _QB, _QB], [_QB, 1 - 2 * _QB]])
QW = np.array([_QW1] * 3 + [_QW2] * 3)


def p2_shape_grad(xi, eta):
    """d N_a / d(xi, eta) for the 6-node triangle (gmsh order: 3 vertices, edges 01 12 20)."""
    l0, l1, l2 = 1.0 - xi - eta, xi, eta
    dl = np.array([[-1.0, -1.0], [1.0, 0.0], [0.0, 1.0]])
    g = np.empty((6, 2))
    g[0] = (4 * l0 - 1) * dl[0]
    g[1] = (4 * l1 - 1) * dl[1]
    g[2] = (4 * l2 - 1) * dl[2]
    g[3] = 4 * (l0 * dl[1] + l1 * dl[0])
    g[4] = 4 * (l1 * dl[2] + l2 * dl[1])
    g[5] = 4 * (l2 * dl[0] + l0 * dl[2])
    return g


DN = np.array([p2_shape_grad(x, y) for x, y in QP])  # (nq, 6, 2)


def element_areas(xy, tri):
    """Areas of the (curved) P2 triangles, with the same quadrature as the stiffness."""
    J = np.einsum("eai,qaj->eqij", xy[tri], DN)
    det = J[..., 0, 0] * J[..., 1, 1] - J[..., 0, 1] * J[..., 1, 0]
    return np.abs(det) @ QW


def stiffness(xy, tri, eps, dof=None, chunk=200000):
    """Global matrix of  integral eps grad(u).grad(v)  over isoparametric P2 triangles.

    xy[tri] is each element's geometry; dof (default tri) numbers its unknowns."""
    if dof is None:
        dof = tri
    n = len(xy)
    rows, cols, vals = [], [], []
    ii = np.repeat(np.arange(6), 6)
    jj = np.tile(np.arange(6), 6)
    for s in range(0, len(tri), chunk):
        t = tri[s:s + chunk]
        X = xy[t]                                  # (ne, 6, 2)
        J = np.einsum("eai,qaj->eqij", X, DN)      # dx_i / dxi_j
        det = J[..., 0, 0] * J[..., 1, 1] - J[..., 0, 1] * J[..., 1, 0]
        if np.any(np.abs(det) <= 0):
            raise RuntimeError("degenerate element")
        inv = np.empty_like(J)
        inv[..., 0, 0] = J[..., 1, 1] / det
        inv[..., 1, 1] = J[..., 0, 0] / det
        inv[..., 0, 1] = -J[..., 0, 1] / det
        inv[..., 1, 0] = -J[..., 1, 0] / det
        G = np.einsum("qaj,eqji->eqai", DN, inv)   # physical gradients
        w = np.abs(det) * QW[None, :] * eps[s:s + chunk, None]
        Ke = np.einsum("eq,eqai,eqbi->eab", w, G, G)
        d = dof[s:s + chunk]
        rows.append(d[:, ii].ravel())
        cols.append(d[:, jj].ravel())
        vals.append(Ke.reshape(len(t), 36).ravel())
    K = sp.csr_matrix((np.concatenate(vals), (np.concatenate(rows), np.concatenate(cols))),
                      shape=(n, n))
    return K


def capacitance(m):
    """Maxwell matrix C_jk (pF/m) for conductors 1..N with conductor 0 grounded."""
    K = stiffness(m.xy, m.tri, m.eps, m.dof)
    used = np.zeros(len(m.xy), bool)
    used[m.dof.ravel()] = True
    ids = sorted(k for k in m.cond if k != 0)
    if not ids:
        raise ValueError("no conductor other than 0")
    fixed = np.zeros(len(m.xy), bool)
    for k, nodes in m.cond.items():
        fixed[nodes] = True
    free = np.flatnonzero(used & ~fixed)
    U = np.zeros((len(m.xy), len(ids)))
    for j, k in enumerate(ids):
        U[m.cond[k], j] = 1.0
    Kc = K.tocsc()
    Kff = Kc[free][:, free]
    rhs = -(Kc[free] @ U)
    # SPD matrix: symmetric ordering and no pivoting (far faster than the defaults).
    lu = spla.splu(Kff.tocsc(), permc_spec="MMD_AT_PLUS_A", diag_pivot_thresh=0.0,
                   options=dict(SymmetricMode=True))
    U[free] = lu.solve(np.asarray(rhs))
    KU = K @ U
    C = U.T @ KU
    C = 0.5 * (C + C.T) * EPS0 * 1e12
    return ids, C, len(free)


# ---------------------------------------------------------------------------
# Convergence and extrapolation
# ---------------------------------------------------------------------------

def richardson(n, c, p_nominal=2.0):
    """Extrapolate c(n) = c_inf + a n^-p from the last three (dof, value) pairs.

    Returns (c_inf, err, p_obs). p_obs is fitted to the last three points; outside
    0.5..4 (noise dominates) the nominal order 2 (P2, energy) is used instead. c_inf
    extrapolates the last two values with that order. The error bar is the largest of
      |c_inf - c_inf with the nominal order|,
      |c_inf - c_inf of the previous three points|,
      0.1 |c_inf - finest value|.
    """
    n = np.asarray(n, float)
    c = np.asarray(c, float)

    def fit(n3, c3):
        # Solve for p with (c1-c2)/(c2-c3) = (n1^-p - n2^-p)/(n2^-p - n3^-p).
        d1, d2 = c3[0] - c3[1], c3[1] - c3[2]
        p = float("nan")
        if d1 * d2 > 0 and abs(d2) > 0:
            target = d1 / d2
            f = lambda p: (n3[0] ** -p - n3[1] ** -p) / (n3[1] ** -p - n3[2] ** -p) - target
            lo, hi = 0.05, 8.0
            if f(lo) * f(hi) < 0:
                for _ in range(100):
                    mid = 0.5 * (lo + hi)
                    if f(lo) * f(mid) <= 0:
                        hi = mid
                    else:
                        lo = mid
                p = 0.5 * (lo + hi)
        return p

    def extrap(n2, c2, p):
        r = (n2[1] / n2[0]) ** p
        return c2[1] + (c2[1] - c2[0]) / (r - 1.0)

    if len(c) < 3:
        return c[-1], float("nan"), float("nan")
    p_obs = fit(n[-3:], c[-3:])
    p_use = p_obs if (p_obs == p_obs and 0.5 <= p_obs <= 4.0) else p_nominal
    c_inf = extrap(n[-2:], c[-2:], p_use)
    err = abs(c_inf - extrap(n[-2:], c[-2:], p_nominal))
    if len(c) >= 4:
        p_prev = fit(n[-4:-1], c[-4:-1])
        p_prev = p_prev if (p_prev == p_prev and 0.5 <= p_prev <= 4.0) else p_nominal
        err = max(err, abs(c_inf - extrap(n[-3:-1], c[-3:-1], p_prev)))
    err = max(err, 0.1 * abs(c_inf - c[-1]))
    return c_inf, err, p_obs


# ---------------------------------------------------------------------------
# Driver
# ---------------------------------------------------------------------------

def run(model, levels=6, h0=0.2, rfac=2.0, outer="kelvin", vacuum=False, out=sys.stdout):
    rows = []
    for k in range(levels):
        h_rel = h0 * 2.0 ** (-0.5 * k)
        t0 = time.time()
        m = mesh_robust(model, h_rel, rfac=rfac, outer=outer, vacuum=vacuum)
        t1 = time.time()
        ids, C, ndof = capacitance(m)
        t2 = time.time()
        rows.append(dict(level=k, h=h_rel, dof=ndof, ntri=len(m.tri), C=C, ids=ids,
                         mesher="%s%s/%d" % (m.algorithm[0], "+%d" % m.nslivers if m.nslivers else "",
                                             m.npass),
                         tmesh=t1 - t0, tsolve=t2 - t1))
        print_row(rows[-1], out, header=(k == 0))
    return rows


def entry_names(ids):
    return [(a, b) for i, a in enumerate(ids) for b in ids[i:]]


def print_row(r, out, header):
    names = entry_names(r["ids"])
    idx = {k: i for i, k in enumerate(r["ids"])}
    if header:
        out.write("%5s %9s %9s %9s " % ("level", "h/L", "dof", "tri")
                  + " ".join("%17s" % ("C%d%d" % ab) for ab in names)
                  + " %7s %7s %s\n" % ("mesh s", "solve s", "mesher"))
    out.write("%5d %9.4g %9d %9d " % (r["level"], r["h"], r["dof"], r["ntri"])
              + " ".join("%17.10f" % r["C"][idx[a], idx[b]] for a, b in names)
              + " %7.1f %7.1f %s\n" % (r["tmesh"], r["tsolve"], r["mesher"]))
    out.flush()


def summarize(rows, exact=None, out=sys.stdout, label=""):
    ids = rows[-1]["ids"]
    idx = {k: i for i, k in enumerate(ids)}
    n = [r["dof"] for r in rows]
    res = {}
    for a, b in entry_names(ids):
        c = [r["C"][idx[a], idx[b]] for r in rows]
        c_inf, err, p = richardson(n, c)
        res[(a, b)] = (c_inf, err, p)
        line = "%sC%d%d = %.9f +- %.2g pF/m (rel %.1e); observed order in dof %.2f" % (
            label, a, b, c_inf, err, abs(err / c_inf), p)
        if exact is not None:
            ex = exact[idx[a]][idx[b]]
            line += "; exact %.9f, finest rel. error %.2e, extrapolated rel. error %.2e" % (
                ex, (c[-1] - ex) / ex, (c_inf - ex) / ex)
        out.write(line + "\n")
    return res


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[1],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("case", nargs="?", help="built-in case name or a JSON file")
    ap.add_argument("--list", action="store_true", help="list the built-in cases")
    ap.add_argument("--levels", type=int, default=6, help="number of refinements (default 6)")
    ap.add_argument("--h0", type=float, default=0.2,
                    help="coarsest base size relative to the model half-diagonal (0.2)")
    ap.add_argument("--rfac", type=float, default=2.0,
                    help="far circle radius / model half-diagonal (open problems; 2)")
    ap.add_argument("--outer", choices=["kelvin", "dirichlet"], default="kelvin",
                    help="far field: exact Kelvin exterior (default) or a grounded circle")
    ap.add_argument("--no-c0", action="store_true", help="skip the all-vacuum C0 run")
    args = ap.parse_args(argv)
    if args.list or not args.case:
        for k, v in CASES.items():
            print("%-14s %s" % (k, v.get("note", "")))
        return 0
    if gmsh is None:
        sys.exit("gmsh's Python module is missing (apt-get install python3-gmsh)")
    if args.case in CASES:
        model = CASES[args.case]
    else:
        with open(args.case) as f:
            model = json.load(f)
    exact = model.get("exact")
    print("# %s: %s" % (args.case, model.get("note", "")))
    if model.get("enclosure") is None:
        print("# far field: %s, R = %g x model half-diagonal" % (args.outer, args.rfac))
    else:
        print("# enclosed: the enclosure's boundary is conductor 0")
    print("# mesher: F/D/M = gmsh Frontal-Delaunay/Delaunay/MeshAdapt, +n flat triangles"
          " removed, /k refinement passes toward the vertices")
    t0 = time.time()
    rows = run(model, args.levels, args.h0, args.rfac, args.outer)
    summarize(rows, exact)
    print("# time %.1f s" % (time.time() - t0))
    if model.get("dielectrics") and not args.no_c0:
        print("# C0: everything vacuum (the regions are left out of the geometry)")
        t0 = time.time()
        rows0 = run(model, args.levels, args.h0, args.rfac, args.outer, vacuum=True)
        summarize(rows0, model.get("exact0"), label="vacuum ")
        print("# time %.1f s" % (time.time() - t0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
