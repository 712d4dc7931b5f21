// The qbr workbench page: editor with the reader's messages at their lines, the
// cross-section drawn as SVG as the text changes, solves and sweeps run by the server.
// Plain JavaScript, no libraries: nothing is fetched but from the server that served it.
"use strict";

const $ = (id) => document.getElementById(id);
const SVG = "http://www.w3.org/2000/svg";
const COLOURS = ["#9e9e9e", "#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e"];
const DIELECTRIC = ["#c8e6c9", "#ffe0b2", "#bbdefb", "#f8bbd0", "#d1c4e9", "#fff9c4"];

const state = {
  check: null,          // the last answer of /api/check
  view: null,           // {cx, cy, scale}: model point at the centre, pixels per unit
  result: null,         // the last solve's summary
  builders: [],
  checking: false,
  pending: false,
  editStarted: 0,       // performance.now() of the edit being checked
  revision: 0,
};
// For the tests and the benchmark: what was drawn, and how long a redraw took.
window.qbrStats = { redraws: 0, lastRedrawMs: null, lastCheckText: null };

function el(tag, attrs, parent) {
  const node = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs || {})) node.setAttribute(k, v);
  if (parent) parent.appendChild(node);
  return node;
}

function html(tag, attrs, text) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) node.setAttribute(k, v);
  if (text !== undefined) node.textContent = text;
  return node;
}

async function api(path, body) {
  const options = body === undefined ? {} : {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body) };
  const response = await fetch(path, options);
  let doc = {};
  try { doc = await response.json(); } catch (e) { doc = { error: response.statusText }; }
  if (!response.ok) throw new Error(doc.error || response.statusText);
  return doc;
}

const fmt = (x, digits = 6) =>
  (x === null || x === undefined) ? "–" : (Number.isFinite(x) ? Number(x.toPrecision(digits)).toString() : String(x));

// ---- editor, gutter, messages ---------------------------------------------------------

const editor = $("editor");
const gutter = $("gutter");

function renderGutter() {
  const lines = editor.value.split("\n").length;
  const marks = new Map();
  const check = state.check;
  if (check) {
    for (const w of check.warnings) for (const n of (w.lines || [w.line])) if (!marks.has(n)) marks.set(n, ["warn", w.text]);
    if (check.error) for (const n of (check.error.lines || [check.error.line])) marks.set(n, ["err", check.error.text]);
  }
  const fragment = document.createDocumentFragment();
  for (let n = 1; n <= lines; n++) {
    const div = html("div", { class: "ln", "data-line": n }, String(n));
    if (marks.has(n)) { div.classList.add(marks.get(n)[0]); div.title = marks.get(n)[1]; }
    fragment.appendChild(div);
  }
  gutter.replaceChildren(fragment);
  gutter.scrollTop = editor.scrollTop;
}

function renderMessages() {
  const list = $("messages");
  const items = [];
  const check = state.check;
  if (check && check.error) items.push(["err", check.error]);
  if (check) for (const w of check.warnings) items.push(["warn", w]);
  list.replaceChildren(...items.map(([kind, m]) => {
    const li = html("li", { class: `msg ${kind}`, "data-line": m.line },
      (m.line > 0 && !/^\s*Line \d+/.test(m.text) ? `Line ${m.line}: ` : "") + m.text);
    li.addEventListener("click", () => selectLine(m.line));
    return li;
  }));
  $("check-status").textContent = check && check.error ? "the model has an error" :
    (check && check.warnings.length ? `${check.warnings.length} warning(s)` : "model OK");
}

function selectLine(n) {
  if (n < 1) return;
  const lines = editor.value.split("\n");
  let start = 0;
  for (let k = 0; k < n - 1 && k < lines.length; k++) start += lines[k].length + 1;
  editor.focus();
  editor.setSelectionRange(start, start + (lines[n - 1] || "").length);
  editor.scrollTop = Math.max(0, (n - 3) * 18);
}

editor.addEventListener("scroll", () => { gutter.scrollTop = editor.scrollTop; });
editor.addEventListener("input", () => { state.editStarted = performance.now(); renderGutter(); requestCheck(); });

// One check in flight at a time; edits made meanwhile are checked right after it.
async function requestCheck() {
  if (state.checking) { state.pending = true; return; }
  state.checking = true;
  const text = editor.value;
  const started = state.editStarted || performance.now();
  try {
    state.check = await api("/api/check", { text });
    window.qbrStats.lastCheckText = text;
  } catch (error) {
    state.check = { warnings: [], error: { line: 0, text: String(error.message) }, outlines: [], layers: [] };
  }
  renderGutter();
  renderMessages();
  if (state.check.outlines.length || !state.view) drawModel(true);
  window.qbrStats.redraws += 1;
  window.qbrStats.lastRedrawMs = performance.now() - started;
  state.editStarted = 0;
  state.checking = false;
  if (state.pending) { state.pending = false; requestCheck(); }
}

// ---- the drawing --------------------------------------------------------------------

const drawing = $("drawing");

function bounds(check) {
  let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity;
  for (const o of check.outlines) for (const [x, y] of o.points) {
    x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y);
  }
  for (const l of check.layers) { y0 = Math.min(y0, l.y1, l.y2); y1 = Math.max(y1, l.y1, l.y2); }
  if (!Number.isFinite(x0)) return null;
  if (!Number.isFinite(x1 - x0) || x1 === x0) { x0 -= 1; x1 += 1; }
  if (y1 === y0) { y0 -= 1; y1 += 1; }
  return { x0, x1, y0, y1 };
}

function fit() {
  const b = state.check && bounds(state.check);
  const w = drawing.clientWidth || 600, h = drawing.clientHeight || 400;
  if (!b) { state.view = { cx: 0, cy: 0, scale: 1 }; return; }
  const scale = 0.9 * Math.min(w / (b.x1 - b.x0), h / (b.y1 - b.y0));
  state.view = { cx: (b.x0 + b.x1) / 2, cy: (b.y0 + b.y1) / 2, scale };
}

function toScreen(x, y) {
  const v = state.view, w = drawing.clientWidth || 600, h = drawing.clientHeight || 400;
  return [w / 2 + (x - v.cx) * v.scale, h / 2 - (y - v.cy) * v.scale];
}

// Elements of one conductor (or dielectric patch) chained into closed sub-paths: a ring
// (the tube of a coax) fills with the even-odd rule.
function pathOf(outlines) {
  let d = "", last = null;
  for (const o of outlines) {
    const pts = o.points.map(([x, y]) => toScreen(x, y));
    const first = pts[0];
    if (!last || Math.hypot(first[0] - last[0], first[1] - last[1]) > 0.5) {
      if (d) d += "Z";
      d += `M${first[0].toFixed(2)},${first[1].toFixed(2)}`;
    }
    for (const p of pts.slice(1)) d += `L${p[0].toFixed(2)},${p[1].toFixed(2)}`;
    last = pts[pts.length - 1];
  }
  return d ? d + "Z" : "";
}

function drawModel(refit) {
  const check = state.check;
  if (!check) return;
  if (refit || !state.view) {
    // Refit only when the model moved out of the window or there was none.
    const b = bounds(check);
    if (!state.view || !b) fit();
    else {
      const [ax, ay] = toScreen(b.x0, b.y0), [bx, by] = toScreen(b.x1, b.y1);
      const w = drawing.clientWidth, h = drawing.clientHeight;
      const off = Math.max(bx, -ax + w, ay, -by + h) > 3 * Math.max(w, h) ||
        Math.abs(bx - ax) < 4 && Math.abs(ay - by) < 4 || bx < 0 || ax > w || ay < 0 || by > h;
      if (off) fit();
    }
  }
  const w = drawing.clientWidth || 600, h = drawing.clientHeight || 400;
  drawing.setAttribute("viewBox", `0 0 ${w} ${h}`);
  const root = document.createDocumentFragment();
  const back = el("g", { class: "dielectrics" }, root);
  check.layers.forEach((l, k) => {
    const [, ya] = toScreen(0, l.y2), [, yb] = toScreen(0, l.y1);
    el("rect", { x: 0, y: Math.min(ya, yb), width: w, height: Math.abs(yb - ya), fill: DIELECTRIC[(5 + k) % 6],
                 "fill-opacity": 0.6, class: "layer" }, back);
  });
  const byPatch = new Map(), byConductor = new Map();
  for (const o of check.outlines) {
    const map = o.dielectric ? byPatch : byConductor;
    const key = o.dielectric ? o.patch : o.conductor;
    if (!map.has(key)) map.set(key, []);
    map.get(key).push(o);
  }
  for (const [patch, list] of byPatch) {
    el("path", { d: pathOf(list), fill: DIELECTRIC[patch % 6], "fill-opacity": 0.6, "fill-rule": "evenodd",
                 stroke: "#777", "stroke-dasharray": "4 3", class: "region" }, back);
  }
  const metal = el("g", { class: "metal" }, root);
  for (const [c, list] of byConductor) {
    el("path", { d: pathOf(list), fill: COLOURS[c % 6], "fill-opacity": 0.35, "fill-rule": "evenodd",
                 stroke: "none", class: `conductor c${c}` }, metal);
  }
  const elements = el("g", { class: "elements" }, root);
  for (const o of check.outlines) {
    const g = el("g", { class: "el", "data-element": o.element, "data-conductor": o.conductor,
                        "data-dielectric": o.dielectric ? 1 : 0 }, elements);
    const pts = o.points.map(([x, y]) => toScreen(x, y));
    const d = "M" + pts.map((p) => `${p[0].toFixed(2)},${p[1].toFixed(2)}`).join("L");
    el("path", { d, class: "el-line", fill: "none", stroke: o.dielectric ? "#777" : COLOURS[o.conductor % 6],
                 "stroke-width": 1.5, "stroke-dasharray": o.dielectric ? "4 3" : "none" }, g);
    el("path", { d, class: "el-hit" }, g);
    // Its number and an arrow along its direction, at its middle (shown on hover).
    const deco = el("g", { class: "deco" }, g);
    const m = Math.floor((pts.length - 1) / 2);
    const a = pts[m], b = pts[Math.min(m + 1, pts.length - 1)];
    const len = Math.hypot(b[0] - a[0], b[1] - a[1]) || 1;
    const ux = (b[0] - a[0]) / len, uy = (b[1] - a[1]) / len;
    const tip = [a[0] + 9 * ux, a[1] + 9 * uy];
    el("path", { d: `M${a[0] - 9 * ux},${a[1] - 9 * uy}L${tip[0]},${tip[1]}` +
                    `M${tip[0] - 6 * ux + 4 * uy},${tip[1] - 6 * uy - 4 * ux}L${tip[0]},${tip[1]}` +
                    `L${tip[0] - 6 * ux - 4 * uy},${tip[1] - 6 * uy + 4 * ux}`,
                 stroke: "#000", "stroke-width": 2, fill: "none", class: "arrow" }, deco);
    const label = el("text", { x: a[0] + 12 * uy, y: a[1] - 12 * ux, "font-size": 12, class: "label" }, deco);
    label.textContent = `${o.dielectric ? "d" : ""}${o.element}(${o.conductor})`;
    g.addEventListener("mouseenter", () => {
      $("hover-info").textContent = o.dielectric ?
        `dielectric outline ${o.element}, patch ${o.patch}` :
        `element ${o.element}, conductor ${o.conductor}, patch ${o.patch}`;
    });
  }
  if (check.symmetry) {
    const [, y] = toScreen(0, 0);
    el("line", { x1: 0, x2: w, y1: y, y2: y, stroke: "#1565c0", "stroke-width": 3, class: "symmetry" }, root);
  }
  const r = state.result;
  if (r && r.nodes && ($("show-nodes").checked || $("show-current").checked)) {
    const g = el("g", { class: "nodes" }, root);
    const jmax = Math.max(...r.nodes.j, 1e-300);
    const current = $("show-current").checked;
    for (let k = 0; k < r.nodes.x.length; k++) {
      const [x, y] = toScreen(r.nodes.x[k], r.nodes.y[k]);
      const t = r.nodes.j[k] / jmax;
      el("circle", { cx: x.toFixed(2), cy: y.toFixed(2), r: current ? 3 : 1.5, class: "node",
                     fill: current ? `hsl(${(240 * (1 - t)).toFixed(0)},90%,45%)` : "#000" }, g);
    }
  }
  drawing.replaceChildren(root);
  drawing.dataset.revision = String(++state.revision);
  drawing.dataset.elements = String(check.outlines.filter((o) => !o.dielectric).length);
}

function zoomAt(px, py, factor) {
  const v = state.view; if (!v) return;
  const w = drawing.clientWidth, h = drawing.clientHeight;
  const mx = v.cx + (px - w / 2) / v.scale, my = v.cy - (py - h / 2) / v.scale;
  v.scale *= factor;
  v.cx = mx - (px - w / 2) / v.scale;
  v.cy = my + (py - h / 2) / v.scale;
  drawModel(false);
}

drawing.addEventListener("wheel", (event) => {
  event.preventDefault();
  const box = drawing.getBoundingClientRect();
  zoomAt(event.clientX - box.left, event.clientY - box.top, Math.exp(-event.deltaY * 0.002));
}, { passive: false });
let drag = null;
drawing.addEventListener("pointerdown", (event) => {
  drag = { x: event.clientX, y: event.clientY }; drawing.setPointerCapture(event.pointerId);
});
drawing.addEventListener("pointermove", (event) => {
  if (!drag || !state.view) return;
  state.view.cx -= (event.clientX - drag.x) / state.view.scale;
  state.view.cy += (event.clientY - drag.y) / state.view.scale;
  drag = { x: event.clientX, y: event.clientY };
  drawModel(false);
});
drawing.addEventListener("pointerup", () => { drag = null; });
$("fit").addEventListener("click", () => { fit(); drawModel(false); });
$("zoom-in").addEventListener("click", () => zoomAt(drawing.clientWidth / 2, drawing.clientHeight / 2, 2));
$("zoom-out").addEventListener("click", () => zoomAt(drawing.clientWidth / 2, drawing.clientHeight / 2, 0.5));
$("show-nodes").addEventListener("change", () => drawModel(false));
$("show-current").addEventListener("change", () => drawModel(false));
window.addEventListener("resize", () => drawModel(false));

// ---- builders -------------------------------------------------------------------------

function builderParams() {
  const params = { metal: $("builder-metal").value, lengthunit: $("builder-unit").value };
  for (const input of $("builder-fields").querySelectorAll("input")) params[input.name] = input.value;
  return params;
}

function renderBuilderFields() {
  const spec = state.builders.find((b) => b.kind === $("builder-kind").value);
  const fields = $("builder-fields");
  fields.replaceChildren();
  const sweep = $("sweep-param");
  sweep.replaceChildren();
  for (const f of spec.fields) {
    const label = html("label", { for: `field-${f.name}` }, f.label);
    const input = html("input", { id: `field-${f.name}`, name: f.name, type: "number", step: "any", value: f.default });
    fields.append(label, input);
    sweep.appendChild(html("option", { value: f.name }, f.label));
  }
  sweep.appendChild(html("option", { value: "frequency" }, "frequency of the editor's model [GHz]"));
  $("sweep-param2").replaceChildren(html("option", { value: "" }, "(nothing: a line plot)"),
    ...spec.fields.map((f) => html("option", { value: f.name }, f.label)));
}

async function writeBuilt() {
  $("builder-error").textContent = "";
  try {
    const doc = await api("/api/build", { kind: $("builder-kind").value, params: builderParams() });
    editor.value = doc.text;
    state.view = null;
    state.editStarted = performance.now();
    renderGutter();
    requestCheck();
  } catch (error) {
    $("builder-error").textContent = error.message;
  }
}

async function loadBuilders() {
  const doc = await api("/api/builders");
  state.builders = doc.builders;
  $("builder-kind").replaceChildren(...doc.builders.map((b) => html("option", { value: b.kind }, b.title)));
  $("builder-metal").replaceChildren(...doc.builders[0].metals.map((m) => html("option", { value: m }, m)));
  $("builder-unit").replaceChildren(...doc.builders[0].units.map((u) => html("option", { value: u }, u)));
  renderBuilderFields();
}
$("builder-kind").addEventListener("change", renderBuilderFields);
$("builder-write").addEventListener("click", writeBuilt);

// ---- solves and sweeps --------------------------------------------------------------

let currentJob = null;

async function runJob(path, body, onDone, onPartial) {
  $("job-status").textContent = "starting…";
  $("progress").value = 0;
  $("solve").disabled = true; $("sweep").disabled = true; $("cancel").disabled = false;
  try {
    let job = await api(path, body);
    currentJob = job.id;
    const started = performance.now();
    let partialShown = false;
    while (job.state === "queued" || job.state === "running") {
      if (onPartial && job.partial && !partialShown) {
        partialShown = true;
        onPartial({ ...job, result: job.partial });
      }
      await new Promise((resolve) => setTimeout(resolve, 80));
      job = await api(`/api/jobs/${job.id}`);
      $("progress").value = job.progress.fraction || 0;
      $("job-status").textContent = `${job.state}: ${job.progress.phase} ` +
        `(${((performance.now() - started) / 1000).toFixed(1)} s)`;
    }
    if (job.state === "done") {
      $("job-status").textContent = `done in ${job.seconds.toFixed(2)} s`;
      $("progress").value = 1;
      onDone(job);
    } else if (job.state === "cancelled") {
      $("job-status").textContent = "cancelled";
      $("progress").value = 0;
    } else {
      $("job-status").textContent = `stopped: ${job.error}`;
      $("job-status").classList.add("error-text");
    }
    return job;
  } catch (error) {
    $("job-status").textContent = `stopped: ${error.message}`;
  } finally {
    currentJob = null;
    $("solve").disabled = false; $("sweep").disabled = false; $("cancel").disabled = true;
  }
}

$("cancel").addEventListener("click", async () => {
  if (currentJob) await api(`/api/jobs/${currentJob}/cancel`, {});
});

function matrixTable(caption, m, scale, cls) {
  const table = html("table", { class: cls });
  table.appendChild(html("caption", {}, caption));
  const n = m.length;
  const head = html("tr");
  head.appendChild(html("th", {}, ""));
  for (let j = 0; j < n; j++) head.appendChild(html("th", {}, String(j + 1)));
  table.appendChild(head);
  for (let i = 0; i < n; i++) {
    const tr = html("tr");
    tr.appendChild(html("th", {}, String(i + 1)));
    for (let j = 0; j < n; j++) tr.appendChild(html("td", { "data-i": i + 1, "data-j": j + 1 }, fmt(m[i][j] * scale)));
    table.appendChild(tr);
  }
  return table;
}

function complexTable(caption, z, cls) {
  const n = z.re.length;
  const m = [];
  for (let i = 0; i < n; i++) {
    m.push([]);
    for (let j = 0; j < n; j++) m[i].push(null);
  }
  const table = matrixTable(caption, m, 1, cls);
  table.querySelectorAll("td").forEach((td) => {
    const i = td.dataset.i - 1, j = td.dataset.j - 1;
    const re = z.re[i][j], im = z.im[i][j];
    td.textContent = Math.abs(im) > 1e-9 * Math.abs(re) ? `${fmt(re)} ${im < 0 ? "−" : "+"} j${fmt(Math.abs(im))}` : fmt(re);
  });
  return table;
}

function perMode(caption, values, scale, cls) {
  const table = html("table", { class: cls });
  table.appendChild(html("caption", {}, caption));
  const tr = html("tr");
  values.forEach((v, k) => { tr.appendChild(html("th", {}, `mode ${k + 1}`)); });
  const row = html("tr");
  values.forEach((v) => row.appendChild(html("td", {}, fmt(v * scale))));
  table.append(tr, row);
  return table;
}

function renderResult(job, preliminary = false) {
  const r = job.result;
  state.result = r;
  const out = $("results");
  out.replaceChildren();
  out.appendChild(html("p", { class: "status" },
    `${r.conductors} conductor(s), ${r.nd} unknowns, ${fmt(r.frequency_Hz / 1e9)} GHz, ${r.mode} report` +
    (preliminary ? "; estimating the grid's error…" : "")));
  out.appendChild(matrixTable("Inductance L [pH/µm]", r.L_H_per_m, 1e6, "result-L"));
  if (r.R_ohm_per_m.some((row) => row.some((v) => Math.abs(v) > 0)) && r.mode === "impedance")
    out.appendChild(matrixTable("Resistance R [Ω/m]", r.R_ohm_per_m, 1, "result-R"));
  const line = r.line;
  if (line) {
    out.appendChild(matrixTable("Capacitance C [pF/m]", line.C_F_per_m, 1e12, "result-C"));
    if (line.G_S_per_m && line.G_S_per_m.some((row) => row.some((v) => v !== 0)))
      out.appendChild(matrixTable("Conductance G [S/m]", line.G_S_per_m, 1, "result-G"));
    out.appendChild(complexTable("Characteristic impedance Z0 [Ω]", line.Z0_ohm, "result-Z0"));
    if (line.eps_eff) out.appendChild(perMode("Effective permittivity ε_eff", line.eps_eff, 1, "result-eps"));
    if (line.velocity_m_per_s) out.appendChild(perMode("Phase velocity [% of c]", line.velocity_m_per_s, 100 / 299792458, "result-v"));
    const dB = 20 / Math.log(10);
    if (!line.lossless && line.attenuation_Np_per_m) {
      out.appendChild(perMode("Loss, total [dB/m]", line.attenuation_Np_per_m, dB, "result-loss"));
      if (line.conductor_attenuation_Np_per_m)
        out.appendChild(perMode("Loss in the conductors [dB/m]", line.conductor_attenuation_Np_per_m, dB, "result-loss-c"));
      if (line.dielectric_attenuation_Np_per_m)
        out.appendChild(perMode("Loss in the dielectric [dB/m]", line.dielectric_attenuation_Np_per_m, dB, "result-loss-d"));
    }
    if (line.even_ohm && line.odd_ohm) {
      const p = html("p", { class: "status" },
        `even ${fmt(line.even_ohm.re)} Ω, odd ${fmt(line.odd_ohm.re)} Ω`);
      out.appendChild(p);
    }
  }
  if (r.accuracy) {
    // Accuracy estimates, when this build's solver gives them: shown as they come.
    const table = html("table", { class: "result-accuracy" });
    table.appendChild(html("caption", {}, "Accuracy estimate"));
    for (const [k, v] of Object.entries(r.accuracy)) {
      const tr = html("tr");
      tr.append(html("th", {}, k), html("td", {}, typeof v === "number" ? fmt(v, 3) : JSON.stringify(v)));
      table.appendChild(tr);
    }
    out.appendChild(table);
  }
  if (r.warnings.length) {
    const ul = html("ul", { class: "warnings" });
    for (const w of r.warnings) ul.appendChild(html("li", {}, w.trim()));
    out.appendChild(ul);
  }
  const links = $("downloads");
  links.replaceChildren(...(job.downloads || []).map((kind) =>
    html("a", { href: `/api/jobs/${job.id}/download/${kind}`, download: "", class: `download-${kind}` }, `${kind} ↓`)));
  drawModel(false);
}

$("solve").addEventListener("click", () => {
  window.qbrStats.solveClicked = performance.now();
  const first = (job) => {
    if (window.qbrStats.firstResultMs != null) return;
    window.qbrStats.firstResultMs = performance.now() - window.qbrStats.solveClicked;
    window.qbrStats.solverMs = 1000 * (job.result.phase_times_s.total || 0);
  };
  window.qbrStats.firstResultMs = null;
  // The result shows as soon as the solve has it; the grid's error estimate follows.
  runJob("/api/solve", { text: editor.value }, (job) => { renderResult(job); first(job); },
    (job) => { renderResult(job, true); first(job); });
});

const optionLabel = (select, value) =>
  [...$(select).options].find((o) => o.value === value)?.textContent || value;

// A sweep over two parameters: a map, one cell per point, coloured from blue (least) to
// yellow (most) of the chosen quantity.
function renderMap(job, key, scale) {
  const points = job.result.points;
  const plot = $("sweep-plot");
  const w = plot.clientWidth || 320, h = plot.clientHeight || 240;
  plot.setAttribute("viewBox", `0 0 ${w} ${h}`);
  const root = document.createDocumentFragment();
  const xs = [...new Set(points.map((p) => p.value))].sort((a, b) => a - b);
  const ys = [...new Set(points.map((p) => p.value2))].sort((a, b) => a - b);
  const good = points.filter((p) => p[key] !== undefined && p[key] !== null);
  const vs = good.map((p) => p[key] * scale);
  const lo = Math.min(...vs), hi = Math.max(...vs);
  const left = 56, right = 70, top = 22, bottom = 30;
  const cw = (w - left - right) / xs.length, ch = (h - top - bottom) / ys.length;
  const colour = (v) => `hsl(${(240 - 180 * (hi > lo ? (v - lo) / (hi - lo) : 0.5)).toFixed(0)},80%,50%)`;
  for (const p of good) {
    const i = xs.indexOf(p.value), j = ys.indexOf(p.value2);
    const cell = el("rect", { class: "cell", x: (left + i * cw).toFixed(2), y: (h - bottom - (j + 1) * ch).toFixed(2),
                              width: cw.toFixed(2), height: ch.toFixed(2), fill: colour(p[key] * scale) }, root);
    const title = el("title", {}, cell);
    title.textContent = `${fmt(p.value)}, ${fmt(p.value2)}: ${fmt(p[key] * scale)}`;
  }
  const label = (x, y, text, anchor) => {
    const t = el("text", { x, y, "text-anchor": anchor || "middle" }, root); t.textContent = text;
  };
  label(left + cw / 2, h - bottom + 14, fmt(xs[0], 4));
  label(left + (xs.length - 0.5) * cw, h - bottom + 14, fmt(xs[xs.length - 1], 4));
  label(left - 4, h - bottom - ch / 2 + 3, fmt(ys[0], 4), "end");
  label(left - 4, top + ch / 2 + 3, fmt(ys[ys.length - 1], 4), "end");
  label((left + w - right) / 2, h - 4, optionLabel("sweep-param", job.result.param));
  label(w - right + 6, top + 10, `max ${fmt(hi, 4)}`, "start");
  label(w - right + 6, h - bottom, `min ${fmt(lo, 4)}`, "start");
  label(4, 12, `↑ ${optionLabel("sweep-param2", job.result.param2)}`, "start");
  return [root, good.length];
}

function renderSweep(job) {
  const points = job.result.points;
  state.sweep = job;
  if (job.result.param2) {
    const key = $("sweep-y").value;
    const [root, count] = renderMap(job, key, { L11_H_per_m: 1e6, C11_F_per_m: 1e12 }[key] || 1);
    $("sweep-plot").replaceChildren(root);
    $("sweep-plot").dataset.points = String(count);
    $("sweep-downloads").replaceChildren(...job.downloads.map((kind) =>
      html("a", { href: `/api/jobs/${job.id}/download/${kind}`, download: "", class: `download-sweep-${kind}` }, `${kind} ↓`)));
    return;
  }
  const key = $("sweep-y").value;
  const scale = { L11_H_per_m: 1e6, C11_F_per_m: 1e12 }[key] || 1;
  const good = points.filter((p) => p[key] !== undefined && p[key] !== null);
  const plot = $("sweep-plot");
  const w = plot.clientWidth || 320, h = plot.clientHeight || 240;
  plot.setAttribute("viewBox", `0 0 ${w} ${h}`);
  const root = document.createDocumentFragment();
  const left = 56, right = 10, top = 10, bottom = 30;
  if (good.length) {
    const xs = good.map((p) => p.value), ys = good.map((p) => p[key] * scale);
    let [x0, x1, y0, y1] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
    if (x1 === x0) { x0 -= 1; x1 += 1; }
    if (y1 === y0) { const d = Math.abs(y0) * 0.05 || 1; y0 -= d; y1 += d; }
    const sx = (x) => left + (x - x0) / (x1 - x0) * (w - left - right);
    const sy = (y) => h - bottom - (y - y0) / (y1 - y0) * (h - top - bottom);
    el("path", { d: `M${left},${top}L${left},${h - bottom}L${w - right},${h - bottom}`, class: "axis", fill: "none" }, root);
    for (const [v, x] of [[x0, sx(x0)], [x1, sx(x1)]]) {
      const t = el("text", { x, y: h - bottom + 14, "text-anchor": "middle" }, root); t.textContent = fmt(v, 4);
    }
    for (const [v, y] of [[y0, sy(y0)], [y1, sy(y1)]]) {
      const t = el("text", { x: left - 4, y: y + 3, "text-anchor": "end" }, root); t.textContent = fmt(v, 4);
    }
    const xl = el("text", { x: (left + w) / 2, y: h - 4, "text-anchor": "middle" }, root);
    xl.textContent = optionLabel("sweep-param", job.result.param);
    el("path", { class: "curve", d: "M" + good.map((p) => `${sx(p.value).toFixed(2)},${sy(p[key] * scale).toFixed(2)}`).join("L") }, root);
    for (const p of good) {
      const c = el("circle", { class: "pt", cx: sx(p.value).toFixed(2), cy: sy(p[key] * scale).toFixed(2), r: 3 }, root);
      const title = el("title", {}, c); title.textContent = `${fmt(p.value)}: ${fmt(p[key] * scale)}`;
    }
  }
  const failed = points.filter((p) => p.error);
  if (failed.length) {
    const t = el("text", { x: left, y: top + 12, fill: "#b00020" }, root);
    t.textContent = `${failed.length} point(s) failed: ${failed[0].error.slice(0, 80)}`;
  }
  plot.replaceChildren(root);
  plot.dataset.points = String(good.length);
  $("sweep-downloads").replaceChildren(...job.downloads.map((kind) =>
    html("a", { href: `/api/jobs/${job.id}/download/${kind}`, download: "", class: `download-sweep-${kind}` }, `${kind} ↓`)));
}

$("sweep").addEventListener("click", () => {
  const param = $("sweep-param").value;
  const body = { param, from: Number($("sweep-from").value), to: Number($("sweep-to").value),
                 points: Number($("sweep-points").value) };
  if (param === "frequency") body.text = editor.value;  // the editor's model, whatever built it
  else Object.assign(body, { kind: $("builder-kind").value, params: builderParams() });
  if (param !== "frequency" && $("sweep-param2").value) {
    Object.assign(body, { param2: $("sweep-param2").value, from2: Number($("sweep-from2").value),
                          to2: Number($("sweep-to2").value), points2: Number($("sweep-points2").value) });
  }
  runJob("/api/sweep", body, renderSweep);
});
// The second parameter's range shows only when there is a second parameter.
const showSecond = () => { $("sweep-second").hidden = !$("sweep-param2").value; };
$("sweep-param2").addEventListener("change", showSecond);
$("builder-kind").addEventListener("change", showSecond);
showSecond();
$("sweep-y").addEventListener("change", () => { if (state.sweep) renderSweep(state.sweep); });

// ---- start ------------------------------------------------------------------------------

loadBuilders().then(() => {
  if (!editor.value) writeBuilt();
}).catch((error) => { $("check-status").textContent = `cannot reach the server: ${error.message}`; });
renderGutter();
