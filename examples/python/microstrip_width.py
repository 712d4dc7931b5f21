"""Superconducting microstrip: inductance against strip width, 0.5 to 20 um, computed by
qbr and from Chang's closed form, on the same axes.

A niobium-like strip (penetration depth 0.09 um, 0.2 um thick) 0.2 um above a ground film
of the same material and thickness; the ground is wider than the strip by 10 um on each
side, which to the field is an infinite plane. Writes python_microstrip_width.png.
"""

import math
import os
import time

import matplotlib.pyplot as plt
import numpy as np

import qbr
from _common import output_dir

LAMBDA = 0.09  # um, strip and ground
T_STRIP = 0.2  # um
T_GROUND = 0.2  # um
D = 0.2  # um, between the ground's top and the strip's bottom
MU0 = 4e-7 * math.pi


def microstrip(width: float) -> qbr.Model:
    """The strip over a ground film whose top is split so that the part under the strip
    gets the fine grid and the rest a coarse one."""
    m = qbr.Model(cc=f"microstrip {width:g} um", frequency=10, frequency_unit="ghz",
                  lambda_=LAMBDA)
    near = width / 2 + 2.0  # fine grid on the ground up to 2 um beyond the strip's edges
    far = near + 8.0
    fine = lambda length: min(500, max(25, math.ceil(length / 0.04)))
    corners = [(-far, -T_GROUND), (far, -T_GROUND), (far, 0.0), (near, 0.0), (-near, 0.0), (-far, 0.0)]
    counts = [120, 4, 60, fine(2 * near), 60, 4]
    p = [m.pt(x, y) for x, y in corners]
    for k, n in enumerate(counts):
        m.line(0, p[k], p[(k + 1) % len(p)], patch=0, n=n)
    return m.rect(-width / 2, width / 2, D, D + T_STRIP, c=1, patch=0, nx=fine(width), ny=8)


def chang(width: float, d: float = D, t1: float = T_STRIP, t2: float = T_GROUND,
          lambda1: float = LAMBDA, lambda2: float = LAMBDA) -> float:
    """Inductance per unit length (H/m) of a superconducting strip of width `width` and
    thickness t1 at height d over a superconducting ground plane of thickness t2, lengths
    in one unit: the closed form of W. H. Chang, "The inductance of a superconducting
    strip transmission line", Journal of Applied Physics 50, 8129 (1979). A conformal map
    gives the fringe factor K of the field, the London equations the two films' terms:

        L = mu0 d / (W K) [1 + (lambda1/d) coth(t1/lambda1) + (lambda2/d) coth(t2/lambda2)]
    """
    b = 1 + t1 / d
    p = 2 * b**2 - 1 + math.sqrt((2 * b**2 - 1) ** 2 - 1)
    sp = math.sqrt(p)
    w = math.pi * width / (2 * d)
    eta = sp * (w + (p + 1) / (2 * sp) * (1 + math.log(4 / (p - 1))) - 2 * math.atanh(1 / sp))
    r_b0 = eta + (p + 1) / 2 * math.log(max(eta, p))
    if width / d >= 5:
        r_b = r_b0
    else:
        r_b = (r_b0 - math.sqrt((r_b0 - 1) * (r_b0 - p))
               + (p + 1) * math.atanh(math.sqrt((r_b0 - p) / (r_b0 - 1)))
               - 2 * sp * math.atanh(math.sqrt((r_b0 - p) / (p * (r_b0 - 1)))) + w * sp)
    ln_r_a = -1 - w - (p + 1) / sp * math.atanh(1 / sp) - math.log((p - 1) / (4 * p))
    k = (math.log(2 * r_b) - ln_r_a) / w
    films = 1 + lambda1 / d / math.tanh(t1 / lambda1) + lambda2 / d / math.tanh(t2 / lambda2)
    return MU0 * d / (width * k) * films


def main() -> None:
    out = output_dir(__doc__.splitlines()[0])
    widths = np.geomspace(0.5, 20, 14)
    start = time.perf_counter()
    table = qbr.sweep(microstrip, width=widths)
    seconds = time.perf_counter() - start
    ok = table[table["error"].isna()]
    if len(ok) != len(widths):
        raise SystemExit(f"some widths failed:\n{table[table['error'].notna()]}")
    computed = ok["L_H_per_m"].to_numpy()
    closed = np.array([chang(w) for w in widths])
    deviation = computed / closed - 1

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(7, 7), sharex=True,
                                      gridspec_kw=dict(height_ratios=[3, 1.3]))
    qbr.plot.sweep(table, "width", "L_H_per_m", ax=top, label="qbr", color="tab:blue")
    fine = np.geomspace(0.5, 20, 200)
    top.plot(fine, [chang(w) for w in fine], "--", color="tab:red", label="Chang (1979)")
    top.set_ylabel("L [H/m]")
    top.set_xlabel("")
    top.legend()
    top.set_title("Superconducting microstrip: λ = 0.09 µm, films 0.2 µm, 0.2 µm apart", fontsize=10)
    bottom.semilogx(widths, 100 * deviation, "o-", ms=3, color="tab:blue")
    bottom.axhline(0, color="0.5", lw=0.8)
    bottom.set_xlabel("strip width [µm]")
    bottom.set_ylabel("qbr / Chang − 1 [%]")
    bottom.grid(True, which="both", alpha=0.3)
    fig.tight_layout()
    path = os.path.join(out, "python_microstrip_width.png")
    fig.savefig(path, dpi=90)
    print(f"{len(widths)} widths in {seconds:.1f} s; qbr against Chang: "
          f"{100 * deviation.min():+.2f} % to {100 * deviation.max():+.2f} %; wrote {os.path.basename(path)}")
    for text in sorted(set(ok["warnings"]) - {""}):
        print("  grid check:", text)
    for w, l, c in zip(widths, computed, closed):
        print(f"  W = {w:6.3f} um: qbr {l * 1e6:.5f} pH/um, Chang {c * 1e6:.5f} pH/um")


if __name__ == "__main__":
    main()
