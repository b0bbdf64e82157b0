// The report page's own script: reads the JSON data block, draws the results
// matrix, and builds each cell's plot and each target's table and trend plots
// only when they are asked for. Data text is only ever set as textContent.
(function () {
  "use strict";
  var D = JSON.parse(document.getElementById("vx-data").textContent);
  var NT = D.targets.length, NF = D.files.length;
  var SVGNS = "http://www.w3.org/2000/svg";
  // Row fields by column name, as the data block lists them.
  var C = {};
  D.columns.forEach(function (name, i) { C[name] = i; });
  var ST = C.status, FIT = C.fit_status, RT = C.retention_time, HEIGHT = C.height,
      WIDTH = C.width, AREA = C.area, BASE = C.baseline, R2 = C.r_squared,
      ITER = C.iterations, POINTS = C.trace_points, FLAGS = C.flags, MSG = C.message,
      IDENT = C.identified, IDFLAGS = C.identification_flags, RI = C.retention_index,
      MATCH = C.match_score, RMATCH = C.reverse_match;
  // A cell plot's fields by name, as the data block lists them.
  var P = {};
  D.plot_fields.forEach(function (name, i) { P[name] = i; });
  // The sequence and quantitation facts; a report without them has empty lists.
  var ORDER = D.order && D.order.length === NF ? D.order : [];
  if (!ORDER.length) for (var o0 = 0; o0 < NF; o0++) ORDER.push(o0);
  var CONC = D.conc && D.conc.length === NF * NT ? D.conc : null;
  var UNIT = D.unit || "";
  // Decisions made in this page, by row index; kept in the browser's storage
  // under the report's title and file count, so reopening the report keeps them.
  var STORE = "vx-review:" + document.title + ":" + NF + "x" + NT;
  var decisions = {};
  try { decisions = JSON.parse(localStorage.getItem(STORE) || "{}") || {}; } catch (e) { decisions = {}; }
  var applied = {}, matrixRefresh = null;
  (D.review || []).forEach(function (e) {
    applied[e[0] * NT + e[1]] = { action: e[2], start: e[3], end: e[4], reason: e[5], reviewer: e[6], time: e[7] };
  });
  // The peak decision's columns (absent from reports of older tables).
  var DET = C.detection, SN = C.signal_to_noise, IAREA = C.integrated_area,
      PSTART = C.peak_start, PEND = C.peak_end, ASYM = C.asymmetry, COMP = C.component_area;
  function field(r, k) { return k === undefined ? null : r[k]; }
  // The failed identification criteria in words.
  var CRITERIA = { rt_shift: "retention time away from the standards'",
    ion_ratio: "qualifier ion ratio off the standards'", qualifier_sn: "an ion's S/N below 3",
    not_detected: "no peak detected", spectrum_mismatch: "spectrum does not match the library" };

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = text;
    return e;
  }
  function svgEl(tag, attrs) {
    var e = document.createElementNS(SVGNS, tag);
    for (var k in attrs) e.setAttribute(k, attrs[k]);
    return e;
  }
  function trimZeros(s) {
    return s.indexOf(".") < 0 ? s : s.replace(/0+$/, "").replace(/\.$/, "");
  }
  // Numbers for reading: significant digits, or fixed decimals.
  function sig(v, d) {
    if (v === null || v === undefined) return "";
    var s = v.toPrecision(d), e = s.indexOf("e");
    return e < 0 ? trimZeros(s) : trimZeros(s.slice(0, e)) + s.slice(e);
  }
  // A matrix cell has room for about six characters: whole numbers up to a
  // million are written out rather than in exponent form.
  function cellNumber(v) {
    var a = Math.abs(v);
    return a >= 1e4 && a < 1e6 ? String(Math.round(v)) : sig(v, 4);
  }
  function fixed(v, d) { return v === null || v === undefined ? "" : v.toFixed(d); }
  function baseName(p) { var i = p.lastIndexOf("/"); return i < 0 ? p : p.slice(i + 1); }
  function status(r) { return r[ST]; }
  function fitStatus(r) { return r[FIT] || ""; }
  function outcome(r) {
    if (status(r) !== "ok") return "failed";
    if (C.review !== undefined && r[C.review] === "reject") return "nopeak";
    var f = fitStatus(r);
    // A converged fit the decision rejects is no amount: it reads as no peak.
    if (f === "success" && field(r, DET) === "not_detected") return "nopeak";
    return f === "success" ? "ok" : f === "unstable_fit" ? "unstable" : "nopeak";
  }
  function labels(list) {
    return list.map(function (i) { return D.labels[i]; }).join("; ");
  }
  function flagText(r) {
    return labels(r[FLAGS]);
  }
  // The verdict for people: empty when no identification was asked for.
  function identText(r) {
    if (IDENT === undefined || !r[IDENT]) return "";
    if (r[IDENT] === "yes") return "identified";
    var why = r[IDFLAGS].map(function (k) { var w = D.labels[k]; return CRITERIA[w] || w; });
    return "not identified" + (why.length ? ": " + why.join("; ") : "");
  }

  function niceTicks(lo, hi, count) {
    var out = [];
    if (!(hi > lo) || !isFinite(lo) || !isFinite(hi)) return out;
    var raw = (hi - lo) / count, mag = Math.pow(10, Math.floor(Math.log10(raw)));
    var n = raw / mag, step = (n < 1.5 ? 1 : n < 3 ? 2 : n < 7 ? 5 : 10) * mag;
    for (var k = Math.ceil(lo / step - 1e-9); out.length < 50; k++) {
      var v = k * step;
      if (v > hi + step * 1e-9) break;
      out.push(v);
    }
    return out;
  }
  function range(arrays, extra) {
    var lo = Infinity, hi = -Infinity;
    arrays.forEach(function (a) {
      a.forEach(function (v) { if (v !== null && isFinite(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); } });
    });
    (extra || []).forEach(function (v) { if (v !== null && isFinite(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); } });
    if (lo > hi) return [0, 1];
    var span = hi - lo;
    if (!(span > 0)) span = Math.max(Math.abs(hi) * 0.1, 1);
    return [lo - span * 0.06, hi + span * 0.06];
  }

  // A small SVG chart: o = {w, h, x: [lo, hi], xs, ys, lines: [[xs, ys]],
  // baseline, xLabel, yLabel, connect}.
  function chart(o) {
    var L = 62, R = 12, T = 10, B = 40, w = o.w, h = o.h;
    var pw = w - L - R, ph = h - T - B;
    var xr = o.x && o.x[1] > o.x[0] ? o.x : range([o.xs]);
    var overlays = o.overlays || [];
    var yr = range([o.ys].concat(o.lines.map(function (l) { return l[1]; }))
      .concat(overlays.map(function (l) { return l.ys; })), [o.baseline].concat(o.limits || []));
    function sx(x) { return L + (x - xr[0]) / (xr[1] - xr[0]) * pw; }
    function sy(y) { return T + ph - (y - yr[0]) / (yr[1] - yr[0]) * ph; }
    var s = svgEl("svg", { width: w, height: h, viewBox: "0 0 " + w + " " + h, "class": "chart" });
    s.appendChild(svgEl("rect", { x: L, y: T, width: pw, height: ph, fill: "#fff", stroke: "#888" }));
    var xt = niceTicks(xr[0], xr[1], Math.max(2, Math.floor(pw / 90)));
    var yt = niceTicks(yr[0], yr[1], Math.max(2, Math.floor(ph / 45)));
    var xStep = xt.length > 1 ? xt[1] - xt[0] : 1, yStep = yt.length > 1 ? yt[1] - yt[0] : 1;
    xt.forEach(function (x) {
      s.appendChild(svgEl("line", { x1: sx(x), x2: sx(x), y1: T, y2: T + ph, stroke: "#eee" }));
      var t = svgEl("text", { x: sx(x), y: T + ph + 14, "text-anchor": "middle" });
      t.textContent = tickLabel(x, xStep);
      s.appendChild(t);
    });
    yt.forEach(function (y) {
      s.appendChild(svgEl("line", { x1: L, x2: L + pw, y1: sy(y), y2: sy(y), stroke: "#eee" }));
      var t = svgEl("text", { x: L - 4, y: sy(y) + 4, "text-anchor": "end" });
      t.textContent = tickLabel(y, yStep);
      s.appendChild(t);
    });
    var xl = svgEl("text", { x: L + pw / 2, y: h - 6, "text-anchor": "middle" });
    xl.textContent = o.xLabel;
    s.appendChild(xl);
    var yl = svgEl("text", { transform: "translate(12 " + (T + ph / 2) + ") rotate(-90)", "text-anchor": "middle" });
    yl.textContent = o.yLabel;
    s.appendChild(yl);
    var g = svgEl("g", {});
    // The integration bounds; a draggable chart keeps the rectangle (hidden
    // while there are no bounds) so that a drag or a typed bound moves it.
    var shade = null;
    if (o.draggable || (o.shade && o.shade[1] > o.shade[0])) {
      shade = svgEl("rect", { y: T, height: ph, fill: "#ffd54f", "fill-opacity": 0.35, "class": "bounds" });
      g.appendChild(shade);
    }
    s.vxShade = function (b) {
      if (!shade) return;
      var ok = b && isFinite(b[0]) && isFinite(b[1]) && b[1] > b[0];
      shade.setAttribute("visibility", ok ? "visible" : "hidden");
      if (!ok) return;
      var a = Math.max(L, Math.min(L + pw, sx(b[0]))), e = Math.max(L, Math.min(L + pw, sx(b[1])));
      shade.setAttribute("x", a);
      shade.setAttribute("width", Math.max(0, e - a));
    };
    s.vxShade(o.shade);
    // The retention time under a pointer event, within the plotted range.
    s.vxTime = function (ev) {
      var box = s.getBoundingClientRect(), px = (ev.clientX - box.left) * w / box.width;
      var x = xr[0] + (px - L) / pw * (xr[1] - xr[0]);
      return Math.max(xr[0], Math.min(xr[1], x));
    };
    (o.marks || []).forEach(function (v) {  // the fit window
      if (v === null || !isFinite(v)) return;
      g.appendChild(svgEl("line", { x1: sx(v), x2: sx(v), y1: T, y2: T + ph, stroke: "#555",
        "stroke-dasharray": "5 4", "class": "window" }));
    });
    (o.limits || []).forEach(function (v) {
      g.appendChild(svgEl("line", { x1: L, x2: L + pw, y1: sy(v), y2: sy(v), stroke: "#c0392b",
        "stroke-dasharray": "4 3", "class": "limit" }));
    });
    if (o.baseline !== null && o.baseline !== undefined && isFinite(o.baseline))
      g.appendChild(svgEl("line", { x1: L, x2: L + pw, y1: sy(o.baseline), y2: sy(o.baseline),
        stroke: "#2a9d3a", "stroke-dasharray": "6 4", "class": "baseline" }));
    overlays.forEach(function (l) { g.appendChild(polyline(l.xs, l.ys, sx, sy, l.color, "qualifier")); });
    o.lines.forEach(function (l) { g.appendChild(polyline(l[0], l[1], sx, sy, "#d62728", "fit")); });
    if (o.connect) g.appendChild(polyline(o.xs, o.ys, sx, sy, "#9db7e0", "link"));
    for (var i = 0; i < o.xs.length; i++) {
      if (o.xs[i] === null || o.ys[i] === null) continue;
      var bad = o.bad && o.bad[i];
      g.appendChild(svgEl("circle", { cx: sx(o.xs[i]), cy: sy(o.ys[i]), r: o.r || 3, fill: bad ? "#c0392b" : "#1f5fbf",
        "class": bad ? "pt out" : "pt" }));
    }
    s.appendChild(g);
    return s;
  }
  function polyline(xs, ys, sx, sy, color, cls) {
    var pts = [];
    for (var i = 0; i < xs.length; i++)
      if (xs[i] !== null && ys[i] !== null) pts.push(sx(xs[i]).toFixed(1) + "," + sy(ys[i]).toFixed(1));
    return svgEl("polyline", { points: pts.join(" "), fill: "none", stroke: color, "stroke-width": 1.5, "class": cls });
  }
  function tickLabel(v, step) {
    if (Math.abs(v) < Math.abs(step) * 1e-9) v = 0;
    if (Math.abs(v) >= 1e6) return sig(v, 4);
    var places = Math.min(8, Math.max(0, Math.ceil(-Math.log10(Math.abs(step)) - 1e-9)));
    return v.toFixed(places);
  }

  // A cell's points: base64 of 16-bit (x, y) pairs, fractions of its box;
  // a series on an even time grid comes as "~", its first and last time,
  // then the intensities alone.
  function points(b64, p, yLo, yHi) {
    var grid = b64.charAt(0) === "~", bin = atob(grid ? b64.slice(1) : b64), xs = [], ys = [];
    if (yLo === undefined) { yLo = p[P.y_lo]; yHi = p[P.y_hi]; }
    function u16(k) { return bin.charCodeAt(k) | bin.charCodeAt(k + 1) << 8; }
    function x(q) { return p[P.x_lo] + (p[P.x_hi] - p[P.x_lo]) * q / 65535; }
    function y(q) { return yLo + (yHi - yLo) * q / 65535; }
    if (grid) {
      var n = (bin.length - 4) / 2, x0 = x(u16(0)), x1 = x(u16(2));
      for (var k = 0; k < n; k++) {
        xs.push(n > 1 ? x0 + (x1 - x0) * k / (n - 1) : x0);
        ys.push(y(u16(4 + 2 * k)));
      }
      return [xs, ys];
    }
    for (var i = 0; i + 3 < bin.length; i += 4) {
      xs.push(x(u16(i)));
      ys.push(y(u16(i + 2)));
    }
    return [xs, ys];
  }

  // The trace and fit of one cell.
  function fitCurve(r, p) {
    if (fitStatus(r) !== "success" || p[P.curve].length) return points(p[P.curve], p);
    var xs = [], ys = [], h = r[HEIGHT], c = r[RT], w = r[WIDTH], b = r[BASE];
    if ([h, c, w, b].some(function (v) { return v === null; }) || !(w > 0)) return [[], []];
    // Across the whole view: a curve that goes on past the window shows how
    // the fit relates to the trace beside it.
    var lo = Math.min(p[P.x_lo], p[P.window_lo]), hi = Math.max(p[P.x_hi], p[P.window_hi]);
    for (var i = 0; i <= 300; i++) {
      var x = lo + (hi - lo) * i / 300, z = (x - c) / w;
      xs.push(x);
      ys.push(h * Math.exp(-0.5 * z * z) + b);
    }
    return [xs, ys];
  }
  // The decision in words: whether the fit is an amount, and how the peak looks.
  function detectionWords(r) {
    var d = field(r, DET);
    if (!d) return "";
    var sn = field(r, SN);
    return (d === "detected" ? "detected" : "not detected \u2013 the fitted numbers are no amount") +
      (sn === null ? "" : ", signal-to-noise " + sig(sn, 3));
  }
  function shapeWords(r) {
    var parts = [], as = field(r, ASYM), ia = field(r, IAREA), a = field(r, PSTART), b = field(r, PEND);
    if (as !== null) {
      parts.push("asymmetry " + sig(as, 3) + " (1 is symmetric, above 1 it tails)");
    }
    if (ia !== null) parts.push("integrated area " + sig(ia, 6));
    if (a !== null && b !== null) parts.push("from " + fixed(a, 3) + " to " + fixed(b, 3) + " min");
    if (field(r, COMP) !== null) parts.push("deconvolved component area " + sig(field(r, COMP), 6));
    return parts.join(", ");
  }
  function valueLines(r) {
    var lines = [["status", status(r)], ["fit", fitStatus(r) || "not run"],
      ["retention time", fixed(r[RT], 4) + (r[RT] === null ? "" : " min")],
      ["height", sig(r[HEIGHT], 6)], ["width (sigma)", sig(r[WIDTH], 6)],
      ["area", sig(r[AREA], 6)], ["baseline", sig(r[BASE], 6)], ["r\u00b2", fixed(r[R2], 5)],
      ["detection", detectionWords(r)], ["shape", shapeWords(r)],
      ["iterations", r[ITER] === null ? "" : String(r[ITER])],
      ["trace points", r[POINTS] === null ? "" : String(r[POINTS])],
      ["flags", flagText(r) || "none"], ["message", r[MSG]],
      ["identification", identText(r)],
      ["retention index", RI === undefined ? "" : fixed(r[RI], 1)],
      ["library match", MATCH === undefined || r[MATCH] === null ? ""
        : r[MATCH] + " (reverse " + r[RMATCH] + ")"]];
    return lines.filter(function (l) { return l[1] !== ""; });
  }
  function showCell(i) {
    var f = Math.floor(i / NT), t = i % NT, r = D.rows[i], p = D.plots.length ? D.plots[i] : null;
    // A plain string is the link to a cell's SVG figure without its plot data.
    var svg = typeof p === "string" ? p : p && p[P.svg];
    if (typeof p === "string") p = null;
    var view = document.getElementById("cell-view");
    view.replaceChildren();
    view.hidden = false;
    var head = el("div", "cell-head");
    head.appendChild(el("h3", null, baseName(D.files[f]) + " \u00b7 " + D.targets[t][0]));
    var close = el("button", "close", "close");
    close.addEventListener("click", function () { view.hidden = true; });
    head.appendChild(close);
    view.appendChild(head);
    view.appendChild(el("p", "muted", D.files[f]));
    var body = el("div", "cell-body");
    var pv = null;
    if (p) {
      pv = peakView(i, r, p);
      body.appendChild(pv.node);
    } else if (svg || !D.plots.length) {
      body.appendChild(el("p", "noplot", "This report holds no trace data" +
        (svg ? ": see the SVG figure." : ".")));
    } else {
      body.appendChild(el("p", "noplot", "No trace for this cell: " + (r[MSG] || status(r))));
    }
    var tbl = el("table", "facts");
    valueLines(r).forEach(function (l) {
      var tr = el("tr");
      tr.appendChild(el("th", null, l[0]));
      tr.appendChild(el("td", null, l[1]));
      tbl.appendChild(tr);
    });
    body.appendChild(tbl);
    view.appendChild(body);
    if (p) {
      var spec = spectrumView(t, r, p);
      if (spec) view.appendChild(spec);
    }
    var form = reviewForm(i, f, t, r);
    view.appendChild(form);
    if (pv) linkBounds(pv.svg, form);
    if (svg) {
      var a = el("a", null, "the SVG figure");
      // Only relative paths are linked: a scheme would not be a file beside the report.
      a.href = /^[a-zA-Z][a-zA-Z0-9+.-]*:/.test(svg) ? "./" + svg : svg;
      view.appendChild(a);
    }
  }

  // ---- The peak view: the trace around the window, the fit, the window
  // (dashed), the integration bounds (shaded) and each qualifier ion scaled
  // by 100 / its reference ratio, so that a clean peak shows one curve. ----
  var QCOLORS = ["#2a9d3a", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2"];
  function peakView(i, r, p) {
    var pts = points(p[P.points], p);
    var quals = P.qualifiers === undefined ? [] : p[P.qualifiers] || [];
    var overlays = quals.map(function (q, k) {
      var xy = points(q[4], p, q[2], q[3]);
      return { xs: xy[0], ys: xy[1], color: QCOLORS[k % QCOLORS.length], mz: q[0], ratio: q[1] };
    });
    var dec = decisions[i] || applied[i];
    var shade = dec && dec.action === "integrate" ? [dec.start, dec.end]
      : field(r, PSTART) !== null && field(r, PEND) !== null ? [r[PSTART], r[PEND]] : null;
    var svg = chart({ w: 560, h: 300, x: [p[P.x_lo], p[P.x_hi]], xs: pts[0], ys: pts[1], r: 2.5,
      lines: [fitCurve(r, p)], overlays: overlays, marks: [p[P.window_lo], p[P.window_hi]],
      baseline: p[P.baseline], xLabel: "retention time (min)", yLabel: "intensity",
      shade: shade, draggable: true });
    svg.classList.add("peak-view");
    var node = el("figure", "peak-view");
    node.appendChild(svg);
    var legend = el("figcaption", "pv-legend");
    function item(color, text, cls) {
      var s = el("span", "pv-item" + (cls ? " " + cls : ""));
      var sw = el("span", "swatch");
      sw.style.background = color;
      s.appendChild(sw);
      s.appendChild(document.createTextNode(text));
      legend.appendChild(s);
    }
    item("#1f5fbf", "m/z " + sig(D.targets[i % NT][1], 6) + " (quantifier)");
    item("#d62728", "fit");
    overlays.forEach(function (o) {
      item(o.color, "m/z " + sig(o.mz, 6) + (o.ratio === null ? " unscaled (no reference ratio)"
        : " \u00d7 100/" + sig(o.ratio, 4) + " (reference ratio " + sig(o.ratio, 4) + " %)"), "qualifier");
    });
    legend.appendChild(el("span", "pv-hint", "Dashed: the fit window. Drag across the plot to set integration bounds."));
    node.appendChild(legend);
    return { node: node, svg: svg };
  }
  // Dragging across the peak view sets the review form's bounds, and typed
  // bounds move the shading: the two stay one.
  function linkBounds(svg, form) {
    var start = form.querySelector(".rv-start"), end = form.querySelector(".rv-end"), from = null;
    function show() { svg.vxShade([parseFloat(start.value), parseFloat(end.value)]); }
    function set(a, b) {
      start.value = Math.min(a, b).toFixed(4);
      end.value = Math.max(a, b).toFixed(4);
      show();
    }
    svg.addEventListener("pointerdown", function (e) {
      if (e.button !== 0) return;
      from = svg.vxTime(e);
      if (svg.setPointerCapture) svg.setPointerCapture(e.pointerId);
      e.preventDefault();
    });
    svg.addEventListener("pointermove", function (e) { if (from !== null) set(from, svg.vxTime(e)); });
    function finish(e) {
      if (from === null) return;
      var to = svg.vxTime(e);
      if (to !== from) set(from, to);  // a click alone changes nothing
      from = null;
    }
    svg.addEventListener("pointerup", finish);
    svg.addEventListener("pointercancel", function () { from = null; });
    start.addEventListener("input", show);
    end.addEventListener("input", show);
  }
  // The peak's spectrum as sticks; with a library, the entry's mirrored
  // below with its name and the match score.
  function spectrumView(t, r, p) {
    var spec = P.spectrum === undefined ? null : p[P.spectrum];
    if (spec === null || spec === undefined) return null;
    var box = el("div", "spectrum");
    if (spec === "few_ions") {
      box.appendChild(el("p", "muted no-spectrum", "No spectrum: this run recorded only a few selected ions (SIM) at the peak, too few to compare a spectrum."));
      return box;
    }
    var lib = D.library && D.library[t] ? D.library[t] : null;
    var w = 560, h = lib ? 300 : 190, L = 46, R = 12, T = 22, B = 30, pw = w - L - R, ph = h - T - B;
    // Headroom above the tallest stick for its mass label.
    var axis = lib ? T + ph / 2 : T + ph, scale = (lib ? ph / 2 : ph) * 0.85;
    var masses = spec.filter(function (v, k) { return k % 2 === 0; });
    if (lib) masses = masses.concat(lib[1].filter(function (v, k) { return k % 2 === 0; }));
    var lo = Math.max(0, Math.min.apply(null, masses) - 5), hi = Math.max.apply(null, masses) + 5;
    function sx(m) { return L + (m - lo) / (hi - lo) * pw; }
    var s = svgEl("svg", { width: w, height: h, viewBox: "0 0 " + w + " " + h, "class": "chart spectrum-plot" });
    s.appendChild(svgEl("rect", { x: L, y: T, width: pw, height: ph, fill: "#fff", stroke: "#888" }));
    s.appendChild(svgEl("line", { x1: L, x2: L + pw, y1: axis, y2: axis, stroke: "#888" }));
    niceTicks(lo, hi, 6).forEach(function (m) {
      var tk = svgEl("text", { x: sx(m), y: T + ph + 13, "text-anchor": "middle" });
      tk.textContent = String(Math.round(m));
      s.appendChild(tk);
    });
    function sticks(flat, dir, color, cls) {
      var order = [];
      for (var k = 0; k + 1 < flat.length; k += 2) {
        var x = sx(flat[k]), y = axis - dir * flat[k + 1] / 999 * scale;
        s.appendChild(svgEl("line", { x1: x, x2: x, y1: axis, y2: y, stroke: color, "stroke-width": 1.5, "class": cls }));
        order.push(k);
      }
      order.sort(function (a, b) { return flat[b + 1] - flat[a + 1]; }).slice(0, 6).forEach(function (k) {
        var tx = svgEl("text", { x: sx(flat[k]), y: axis - dir * (flat[k + 1] / 999 * scale + 3) + (dir < 0 ? 9 : 0),
          "text-anchor": "middle" });
        tx.textContent = String(flat[k]);
        s.appendChild(tx);
      });
    }
    sticks(spec, 1, "#1f5fbf", "stick peak");
    if (lib) sticks(lib[1], -1, "#d62728", "stick library");
    var title = svgEl("text", { x: L, y: 14 });
    title.textContent = "peak spectrum (apex less background, unit mass)";
    s.appendChild(title);
    var xl = svgEl("text", { x: L + pw / 2, y: h - 6, "text-anchor": "middle" });
    xl.textContent = "m/z";
    s.appendChild(xl);
    box.appendChild(s);
    if (lib) {
      var score = MATCH === undefined || r[MATCH] === null ? "no score" : "match score " + r[MATCH];
      box.appendChild(el("p", "muted library-name", "below: library entry " + lib[0] + ", " + score));
    }
    return box;
  }

  // Puts only the rows of a long table that are in view into the page, in
  // blocks of BLOCK rows (one tbody each) with one block of margin on either
  // side, between two spacers: a scrolled frame adds or drops at most a block
  // or two, so 500 files x 30 targets scroll as lightly as ten files. Rows
  // must keep one height (their text never wraps).
  var BLOCK = 25;
  function virtualRows(wrap, table, count, columns, makeRow) {
    var rowH = 0, blocks = {}, pending = false;
    function spacer() {
      var tb = el("tbody", "spacer"), tr = el("tr", "spacer"), td = el("td");
      td.colSpan = columns;
      tr.appendChild(td);
      tb.appendChild(tr);
      table.appendChild(tb);
      return td;
    }
    var top = spacer(), bottom = spacer(), bottomBody = bottom.parentNode.parentNode;
    function block(b) {
      var tb = el("tbody");
      for (var i = b * BLOCK; i < Math.min(count, (b + 1) * BLOCK); i++) tb.appendChild(makeRow(i));
      return tb;
    }
    function render(force) {
      pending = false;
      if (force) {
        for (var k in blocks) blocks[k].remove();
        blocks = {};
      }
      if (!rowH && count > 0) {
        blocks[0] = table.insertBefore(block(0), bottomBody);
        rowH = blocks[0].firstChild.getBoundingClientRect().height || 20;
      }
      var h = rowH || 20, view = wrap.clientHeight || 800;
      var b0 = Math.max(0, Math.floor(wrap.scrollTop / h / BLOCK) - 1);
      var b1 = Math.min(Math.ceil(count / BLOCK), Math.ceil((wrap.scrollTop + view) / h / BLOCK) + 1);
      for (var key in blocks) {
        if (key < b0 || key >= b1) {
          blocks[key].remove();
          delete blocks[key];
        }
      }
      // From the last block down, so that each new block goes before the next one.
      for (var b = b1 - 1; b >= b0; b--) {
        if (!blocks[b]) blocks[b] = table.insertBefore(block(b), blocks[b + 1] || bottomBody);
      }
      top.style.height = b0 * BLOCK * h + "px";
      bottom.style.height = Math.max(0, count - b1 * BLOCK) * h + "px";
    }
    wrap.addEventListener("scroll", function () {
      if (pending) return;
      pending = true;
      requestAnimationFrame(function () { render(false); });
    });
    render(true);
    return function () { render(true); };
  }

  // A long table as two tables with the same fixed column widths: the
  // header stays put above a scrolled, virtual body. (A sticky header makes
  // every scrolled frame repaint the whole table where the browser
  // composites in software.)
  function grid(parent, cls, widths, headCells, count, makeRow) {
    var box = el("div", "grid " + cls), head = el("div", "grid-head"), scroller = el("div", "grid-body");
    var total = widths.reduce(function (a, b) { return a + b; }, 0);
    function table(section) {
      var t = el("table"), cols = el("colgroup");
      widths.forEach(function (w) { var c = el("col"); c.style.width = w + "px"; cols.appendChild(c); });
      t.style.width = total + "px";
      t.appendChild(cols);
      if (section) t.appendChild(section);
      return t;
    }
    var thead = el("thead"), hr = el("tr");
    headCells.forEach(function (th) { hr.appendChild(th); });
    thead.appendChild(hr);
    var headTable = table(thead), bodyTable = table(null);
    head.appendChild(headTable);
    scroller.appendChild(bodyTable);
    box.appendChild(head);
    box.appendChild(scroller);
    parent.appendChild(box);
    scroller.addEventListener("scroll", function () { head.scrollLeft = scroller.scrollLeft; });
    var refresh = virtualRows(scroller, bodyTable, count, widths.length, makeRow);
    return { head: headTable, body: bodyTable, headRow: hr, refresh: refresh };
  }

  function matrixRow(k) {
    var f = ORDER[k], tr = el("tr"), th = el("th", "fname", baseName(D.files[f]));
    th.title = D.files[f];
    tr.appendChild(th);
    for (var t = 0; t < NT; t++) {
      var i = f * NT + t, r = D.rows[i], o = outcome(r);
      // A fit without a peak reports zeros: the cell says "no peak" instead.
      var text = cellText(i, r, o);
      var td = el("td", "cell " + o + (decisions[i] ? " reviewed" : ""), text);
      td.dataset.i = i;
      td.title = th.textContent + " \u00b7 " + D.targets[t][0];  // the names scroll out of view
      tr.appendChild(td);
    }
    return tr;
  }
  // A cell says what a reader needs: the concentration when there is one
  // (the area otherwise), n.d. when no peak was detected, "unstable" for a
  // fit that did not settle (its numbers are not a result), a cross for a
  // file or step that failed.
  function cellText(i, r, o) {
    if (o === "failed") return "\u2717";
    if (o === "nopeak") return "n.d.";
    if (o === "unstable") return "unstable";
    var v = CONC ? CONC[i] : r[AREA];
    if (CONC && v === null && D.istd_targets.indexOf(i % NT) >= 0) v = r[AREA];
    return v === null ? "\u2013" : cellNumber(v);
  }
  function buildMatrix() {
    var heads = [el("th", "corner", "file \\ target")];
    D.targets.forEach(function (t) {
      // Whole names, wrapped: six targets sharing a prefix must not look alike.
      var th = el("th", "tname", t[0] + (CONC && UNIT ? " (" + UNIT + ")" : ""));
      th.title = t[0] + " (m/z " + sig(t[1], 8) + ", RT " + sig(t[2], 6) + ")";
      heads.push(th);
    });
    var widths = [200].concat(D.targets.map(function () { return 84; }));
    var g = grid(document.getElementById("matrix-wrap"), "matrix", widths, heads, NF, matrixRow);
    g.head.id = "matrix-head";
    g.body.id = "matrix";
    g.body.dataset.cells = NF * NT;
    matrixRefresh = g.refresh;
    g.body.addEventListener("click", function (e) {
      var td = e.target.closest("td[data-i]");
      if (td) showCell(Number(td.dataset.i));
    });
  }

  // Per-target tables: built when the target is first opened.
  // How each column reads: rounded for people, lists as words.
  var FORMATS = {
    retention_time: function (v) { return fixed(v, 4); },
    r_squared: function (v) { return fixed(v, 5); },
    height: function (v) { return sig(v, 6); }, width: function (v) { return sig(v, 6); },
    area: function (v) { return sig(v, 6); }, baseline: function (v) { return sig(v, 6); },
    max_intensity: function (v) { return sig(v, 6); }
  };
  var WIDTHS = { status: 110, fit_status: 110, retention_time: 110, trace_points: 100,
    max_intensity: 110, iterations: 80, flags: 300, message: 300 };
  var LABELS = { retention_time: "RT (min)", r_squared: "r\u00b2", width: "width (\u03c3)" };
  function plain(v) {
    if (v === null || v === undefined) return "";
    if (Array.isArray(v)) return labels(v);
    return typeof v === "number" ? sig(v, 10) : String(v);
  }
  var COLUMNS = [
    ["#", function (f) { return f + 1; }, String, 40],
    ["file", function (f) { return baseName(D.files[f]); }, String, 200]];
  D.columns.forEach(function (name, k) {
    if (name === "mz" || name === "rt") return;  // the target's own, the same in every row
    var key = name === "flags" ? function (f, r) { return flagText(r); } : function (f, r) { return r[k]; };
    COLUMNS.push([LABELS[name] || name.replace(/_/g, " "), key, FORMATS[name] || plain, WIDTHS[name] || 90]);
  });

  function compare(a, b) {
    if (a === b) return 0;
    if (a === null || a === "") return 1;  // empty cells last either way
    if (b === null || b === "") return -1;
    return typeof a === "number" && typeof b === "number" ? a - b : String(a).localeCompare(String(b));
  }
  // Fitted retention time (drift) and area across the files, in input order;
  // only fits that found a peak are drawn.
  function trendPlots(t) {
    var rts = [], areas = [], xs = [];
    var plots = el("div", "trend");
    if (NF < 2) return plots;  // one file draws no sequence
    for (var k = 0; k < NF; k++) {
      var f = ORDER[k], r = D.rows[f * NT + t], good = outcome(r) === "ok";
      xs.push(k + 1);
      rts.push(good ? r[RT] : null);
      areas.push(good ? r[AREA] : null);
    }
    [[rts, "RT (min)", "fitted retention time (drift)"], [areas, "area", "area"]].forEach(function (p) {
      var fig = el("figure");
      fig.appendChild(chart({ w: 420, h: 200, xs: xs, ys: p[0], lines: [], xLabel: "injection (" + (D.order_source || "input order") + ")",
        yLabel: p[1], connect: true, r: 2 }));
      fig.appendChild(el("figcaption", null, p[2]));
      plots.appendChild(fig);
    });
    return plots;
  }

  function buildTarget(details) {
    var t = Number(details.dataset.t), body = details.querySelector(".target-body");
    var idx = [];
    for (var f = 0; f < NF; f++) idx.push(f);
    body.appendChild(trendPlots(t));

    var sort = { col: 0, dir: 1 }, order = idx, g = null;
    function sortRows() {
      var keys = idx.map(function (f) { return COLUMNS[sort.col][1](f, D.rows[f * NT + t]); });
      order = idx.slice().sort(function (a, b) {
        var ka = keys[a], kb = keys[b];
        if (ka === null || ka === "" || kb === null || kb === "") return compare(ka, kb) || a - b;
        return sort.dir * compare(ka, kb) || a - b;
      });
      if (g) Array.prototype.forEach.call(g.headRow.children, function (th, k) {
        th.className = k === sort.col ? (sort.dir > 0 ? "asc" : "desc") : "";
      });
    }
    function makeRow(k) {
      var f = order[k], r = D.rows[f * NT + t], tr = el("tr", outcome(r));
      tr.dataset.i = f * NT + t;
      COLUMNS.forEach(function (c) {
        var text = c[2](c[1](f, r)), td = el("td", null, text);
        td.title = text;
        tr.appendChild(td);
      });
      return tr;
    }
    var heads = COLUMNS.map(function (c, k) {
      var th = el("th", null, c[0]);
      th.addEventListener("click", function () {
        sort.dir = sort.col === k ? -sort.dir : 1;
        sort.col = k;
        sortRows();
        g.refresh();
      });
      return th;
    });
    var widths = COLUMNS.map(function (c) { return c[3]; });
    g = grid(body, "rows", widths, heads, NF, makeRow);
    sortRows();
    g.body.addEventListener("click", function (e) {
      var tr = e.target.closest("tr[data-i]");
      if (!tr) return;
      showCell(Number(tr.dataset.i));
      document.getElementById("matrix-section").scrollIntoView();
    });
  }

  // ---- Review: the analyst's decisions, kept in this browser, exported as review.tsv ----
  // Decisions already applied by vxrun --review, by row.
  function refreshMatrix() { if (matrixRefresh) matrixRefresh(); }
  function saveDecisions() {
    try { localStorage.setItem(STORE, JSON.stringify(decisions)); } catch (e) { /* private mode: kept in the page only */ }
    refreshMatrix();
    var n = Object.keys(decisions).length, c = document.getElementById("review-count");
    if (c) c.textContent = n + (n === 1 ? " decision" : " decisions") + " in this browser";
  }
  function reviewForm(i, f, t, r) {
    var box = el("div", "review-form"), d = decisions[i] || {};
    box.appendChild(el("h4", null, "Review this peak"));
    if (applied[i]) box.appendChild(el("p", "muted", "Applied in this report: " + applied[i].action +
      (applied[i].reason ? " (" + applied[i].reason + ")" : "") + " by " + applied[i].reviewer));
    function input(label, cls, value, type) {
      var l = el("label", null, label + " "), x = el("input", cls);
      x.type = type || "text";
      x.value = value === undefined || value === null ? "" : value;
      l.appendChild(x);
      box.appendChild(l);
      return x;
    }
    var p = D.plots.length ? D.plots[i] : null;
    // Start from the decision, else the measured bounds, else the window.
    var measured = field(r, PSTART) !== null && field(r, PEND) !== null;
    var lo = d.start !== undefined ? d.start : measured ? +r[PSTART].toFixed(4) : p && typeof p !== "string" ? p[P.window_lo] : "";
    var hi = d.end !== undefined ? d.end : measured ? +r[PEND].toFixed(4) : p && typeof p !== "string" ? p[P.window_hi] : "";
    var start = input("start (min)", "rv-start", lo, "number"), end = input("end (min)", "rv-end", hi, "number");
    start.step = end.step = "0.001";
    var reason = input("reason", "rv-reason", d.reason), who = input("reviewer", "rv-reviewer", d.reviewer || reviewerName());
    var msg = el("p", "rv-msg");
    function decide(action) {
      if (!reason.value.trim()) { msg.textContent = "Give a reason: it goes into the audit."; return; }
      if (!who.value.trim()) { msg.textContent = "Give the reviewer's name."; return; }
      var dec = { file: D.files[f], target: D.targets[t][0], action: action, reason: reason.value,
        reviewer: who.value, time: new Date().toISOString() };
      if (action === "integrate") {
        var a = parseFloat(start.value), b = parseFloat(end.value);
        if (!(a < b)) { msg.textContent = "The start must come before the end."; return; }
        dec.start = a;
        dec.end = b;
      }
      try { localStorage.setItem(STORE + ":reviewer", who.value); } catch (e) { /* kept for this page only */ }
      decisions[i] = dec;
      saveDecisions();
      showCell(i);
    }
    var rej = el("button", "rv-reject", "Reject peak"), integ = el("button", "rv-integrate", "Integrate between");
    var undo = el("button", "rv-undo", "Undo");
    rej.addEventListener("click", function () { decide("reject"); });
    integ.addEventListener("click", function () { decide("integrate"); });
    undo.addEventListener("click", function () { delete decisions[i]; saveDecisions(); showCell(i); });
    [rej, integ, undo, msg].forEach(function (b) { box.appendChild(b); });
    if (decisions[i]) box.appendChild(el("p", "rv-state", "Decided here: " + decisions[i].action + " \u2014 not yet applied; export and rerun with --review."));
    return box;
  }
  function reviewerName() { try { return localStorage.getItem(STORE + ":reviewer") || ""; } catch (e) { return ""; } }
  // Cells as the results table writes them: tab, line feed, carriage return
  // and backslash escaped, so a reason can hold anything and stays one line.
  function tsvCell(s) {
    return String(s).replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
  }
  function reviewTsv() {
    var lines = ["file\ttarget\taction\tstart_rt\tend_rt\treason\treviewer\ttime"];
    Object.keys(decisions).map(Number).sort(function (a, b) { return a - b; }).forEach(function (k) {
      var d = decisions[k];
      lines.push([d.file, d.target, d.action, d.start === undefined ? "" : d.start, d.end === undefined ? "" : d.end,
        d.reason, d.reviewer, d.time].map(tsvCell).join("\t"));
    });
    return lines.join("\n") + "\n";
  }
  function buildReviewBar() {
    var bar = el("div", "review-bar");
    bar.id = "review-bar";
    var exp = el("button", "rv-export", "Export review.tsv");
    exp.addEventListener("click", function () {
      var url = URL.createObjectURL(new Blob([reviewTsv()], { type: "text/tab-separated-values" }));
      var a = el("a");
      a.href = url;
      a.download = "review.tsv";
      document.body.appendChild(a);
      a.click();
      a.remove();
      setTimeout(function () { URL.revokeObjectURL(url); }, 1000);
    });
    var clear = el("button", "rv-clear", "Forget decisions");
    clear.addEventListener("click", function () { decisions = {}; saveDecisions(); });
    bar.appendChild(el("span", null, "Review: click a cell, reject its peak or integrate it by hand with a reason. "));
    bar.appendChild(exp);
    bar.appendChild(clear);
    bar.appendChild(el("span", "muted", ""));
    bar.lastChild.id = "review-count";
    var sec = document.getElementById("matrix-section");
    sec.insertBefore(bar, document.getElementById("matrix-wrap"));
    saveDecisions();
  }

  // ---- Sequence QC: internal standards against their limits, QCs against theirs ----
  function buildSequenceQc() {
    var sec = el("section", null);
    sec.id = "sequence-qc";
    sec.appendChild(el("h2", null, "Sequence QC"));
    var box = el("div", "trend");
    sec.appendChild(box);
    var types = D.sample_types || [], lim = D.istd_limits || [50, 150], qc = D.qc_limit || 20;
    var out = {};
    (D.istd_out || []).forEach(function (i) { out[i] = true; });
    if (NF < 2) {
      sec.appendChild(el("p", "muted", "One file: no sequence to plot."));
    } else {
      (D.istd_targets || []).forEach(function (t) {
        var areas = [], xs = [];
        for (var k = 0; k < NF; k++) {
          var r = D.rows[ORDER[k] * NT + t];
          xs.push(k + 1);
          areas.push(outcome(r) === "ok" ? r[AREA] : null);
        }
        var sum = 0, n = 0;
        for (var k2 = 0; k2 < NF; k2++) if (types[ORDER[k2]] === "standard" && areas[k2] !== null) { sum += areas[k2]; n++; }
        if (!n) return;
        var mean = sum / n, pct = areas.map(function (a) { return a === null ? null : a / mean * 100; });
        var bad = pct.map(function (v, k3) { return v !== null && (v < lim[0] || v > lim[1]) || !!out[ORDER[k3] * NT + t]; });
        var fig = el("figure", "istd-chart");
        fig.appendChild(chart({ w: 420, h: 200, xs: xs, ys: pct, lines: [], limits: lim, bad: bad,
          xLabel: "injection", yLabel: "% of standards' mean", connect: true, r: 3 }));
        fig.appendChild(el("figcaption", null, "internal standard " + D.targets[t][0] + ": area, limits " + lim[0] + "\u2013" + lim[1] + " %"));
        box.appendChild(fig);
      });
      if (CONC && D.accuracy && D.accuracy.length === NF * NT) {
        for (var t = 0; t < NT; t++) {
          var xs2 = [], ys2 = [], any = false;
          for (var k4 = 0; k4 < NF; k4++) {
            var f = ORDER[k4];
            if (types[f] !== "qc") continue;
            xs2.push(k4 + 1);
            ys2.push(D.accuracy[f * NT + t]);
            any = any || D.accuracy[f * NT + t] !== null;
          }
          if (!any) continue;
          var fig2 = el("figure", "qc-chart");
          fig2.appendChild(chart({ w: 420, h: 200, xs: xs2, ys: ys2, lines: [], limits: [100 - qc, 100 + qc],
            bad: ys2.map(function (v) { return v !== null && Math.abs(v - 100) > qc; }),
            xLabel: "injection", yLabel: "QC accuracy (%)", connect: true, r: 3 }));
          fig2.appendChild(el("figcaption", null, D.targets[t][0] + ": QC accuracy, limits 100 \u00b1 " + qc + " %"));
          box.appendChild(fig2);
        }
      }
      if (!box.children.length) sec.appendChild(el("p", "muted", "No internal standard or QC sample to chart."));
    }
    var ms = document.getElementById("matrix-section");
    ms.parentNode.insertBefore(sec, ms.nextSibling);
  }

  buildMatrix();
  buildSequenceQc();
  buildReviewBar();
  Array.prototype.forEach.call(document.querySelectorAll("details.target"), function (d) {
    d.addEventListener("toggle", function () {
      if (d.open && !d.dataset.built) {
        d.dataset.built = "1";
        buildTarget(d);
      }
    });
  });
  document.body.dataset.ready = "1";
})();
