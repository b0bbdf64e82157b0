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
    var f = fitStatus(r);
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
    var yr = range([o.ys].concat(o.lines.map(function (l) { return l[1]; })), [o.baseline]);
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
    if (o.baseline !== null && o.baseline !== undefined && isFinite(o.baseline))
      g.appendChild(svgEl("line", { x1: L, x2: L + pw, y1: sy(o.baseline), y2: sy(o.baseline),
        stroke: "#2a9d3a", "stroke-dasharray": "6 4", "class": "baseline" }));
    o.lines.forEach(function (l) { g.appendChild(polyline(l[0], l[1], sx, sy, "#d62728", "fit")); });
    if (o.connect) g.appendChild(polyline(o.xs, o.ys, sx, sy, "#9db7e0", "link"));
    for (var i = 0; i < o.xs.length; i++) {
      if (o.xs[i] === null || o.ys[i] === null) continue;
      g.appendChild(svgEl("circle", { cx: sx(o.xs[i]), cy: sy(o.ys[i]), r: o.r || 3, fill: "#1f5fbf", "class": "pt" }));
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

  // A cell's points: base64 of 16-bit (x, y) pairs, fractions of its box.
  function points(b64, p) {
    var bin = atob(b64), xs = [], ys = [];
    for (var i = 0; i + 3 < bin.length; i += 4) {
      var qx = bin.charCodeAt(i) | bin.charCodeAt(i + 1) << 8, qy = bin.charCodeAt(i + 2) | bin.charCodeAt(i + 3) << 8;
      xs.push(p[2] + (p[3] - p[2]) * qx / 65535);
      ys.push(p[4] + (p[5] - p[4]) * qy / 65535);
    }
    return [xs, ys];
  }

  // The trace and fit of one cell.
  function fitCurve(r, p) {
    if (fitStatus(r) !== "success" || p[7].length) return points(p[7], p);
    var xs = [], ys = [], h = r[HEIGHT], c = r[RT], w = r[WIDTH], b = r[BASE];
    if ([h, c, w, b].some(function (v) { return v === null; }) || !(w > 0)) return [[], []];
    for (var i = 0; i <= 200; i++) {
      var x = p[0] + (p[1] - p[0]) * i / 200, z = (x - c) / w;
      xs.push(x);
      ys.push(h * Math.exp(-0.5 * z * z) + b);
    }
    return [xs, ys];
  }
  function valueLines(r) {
    var lines = [["status", status(r)], ["fit", fitStatus(r) || "not run"],
      ["retention time", fixed(r[RT], 4) + (r[RT] === null ? "" : " min")],
      ["height", sig(r[HEIGHT], 6)], ["width (sigma)", sig(r[WIDTH], 6)],
      ["area", sig(r[AREA], 6)], ["baseline", sig(r[BASE], 6)], ["r\u00b2", fixed(r[R2], 5)],
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
    var svg = typeof p === "string" ? p : p && p[9];
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
    if (p) {
      var pts = points(p[6], p);
      body.appendChild(chart({ w: 560, h: 300, x: [p[0], p[1]], xs: pts[0], ys: pts[1],
        lines: [fitCurve(r, p)], baseline: p[8], xLabel: "retention time (min)", yLabel: "intensity" }));
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
    if (svg) {
      var a = el("a", null, "the SVG figure");
      // Only relative paths are linked: a scheme would not be a file beside the report.
      a.href = /^[a-zA-Z][a-zA-Z0-9+.-]*:/.test(svg) ? "./" + svg : svg;
      view.appendChild(a);
    }
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

  function matrixRow(f) {
    var tr = el("tr"), th = el("th", "fname", baseName(D.files[f]));
    th.title = D.files[f];
    tr.appendChild(th);
    for (var t = 0; t < NT; t++) {
      var i = f * NT + t, r = D.rows[i], o = outcome(r);
      // A fit without a peak reports zeros: the cell says "no peak" instead.
      var text = o === "failed" ? "\u2717" : o === "nopeak" || r[AREA] === null ? "\u2013" : cellNumber(r[AREA]);
      var td = el("td", "cell " + o, text);
      td.dataset.i = i;
      td.title = th.textContent + " \u00b7 " + D.targets[t][0];  // the names scroll out of view
      tr.appendChild(td);
    }
    return tr;
  }
  function buildMatrix() {
    var heads = [el("th", "corner", "file \\ target")];
    D.targets.forEach(function (t) {
      var th = el("th", "tname", t[0]);
      th.title = t[0] + " (m/z " + sig(t[1], 8) + ", RT " + sig(t[2], 6) + ")";
      heads.push(th);
    });
    var widths = [200].concat(D.targets.map(function () { return 64; }));
    var g = grid(document.getElementById("matrix-wrap"), "matrix", widths, heads, NF, matrixRow);
    g.head.id = "matrix-head";
    g.body.id = "matrix";
    g.body.dataset.cells = NF * NT;
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
    for (var f = 0; f < NF; f++) {
      var r = D.rows[f * NT + t], good = outcome(r) === "ok";
      xs.push(f + 1);
      rts.push(good ? r[RT] : null);
      areas.push(good ? r[AREA] : null);
    }
    var plots = el("div", "trend");
    [[rts, "RT (min)", "fitted retention time (drift)"], [areas, "area", "area"]].forEach(function (p) {
      var fig = el("figure");
      fig.appendChild(chart({ w: 420, h: 200, xs: xs, ys: p[0], lines: [], xLabel: "file (input order)",
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

  buildMatrix();
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
