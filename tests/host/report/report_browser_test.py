#!/usr/bin/python3
"""The HTML report in a real browser (headless Chromium through chromedriver).

Runs `vxrun batch --report` on a generated batch whose file and target names
hold markup, ampersands, quotes and bytes that are not UTF-8, opens the
report from file://, and checks: the matrix has one cell per file and
target, clicking a cell draws its trace and fit, a per-target table sorts,
names show as text (a target named <script>alert(1)</script> never runs),
and the browser logs no error. A screenshot goes to the work folder. Then
`vxrun merge --report` over the batch's table: its cells show values and
flags without trace data and link the batch's SVG figures.

With --scale FILES TARGETS it builds a batch of that size instead, and prints
the report's size and the browser's load, first-paint and scroll times.
If Chromium cannot start, the test fails.

With --quant DIR (a sequence folder holding targets.tsv and samples.tsv) it
also runs `vxrun batch --samples --report` there and checks, in the same
browser, that a target's calibration plot loads and that the concentration
tables hold every file.

The peak view, on tests/data/report (a SIM run whose target has a neighbour
peak outside its fit window and a qualifier ion) and tests/data/library (a
full-scan run with its .msp library): the view reaches past the window and
draws the neighbour, the qualifier is drawn scaled onto the quantifier,
dragging across the view sets the review form's bounds and the shading, a
SIM run says why it has no spectrum, and a full-scan run mirrors its peak's
spectrum against the library entry with the score. With --docs-img DIR the
README's screenshots are written there too.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

XSS = "<script>alert(1)</script>"
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data")


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def make_small_batch(work, example):
    data = os.path.join(work, "data")
    shutil.rmtree(data, ignore_errors=True)
    os.makedirs(data)
    names = [b"plain_1.mzML", b"a&b <i>x.mzML", b"quote\"s 'n' \xc3\xa9.mzML",
             b"bad \xff\xfe bytes.mzML", b"plain_2.mzML"]
    for n in names:
        shutil.copyfile(example, os.path.join(os.fsencode(data), n))
    with open(os.path.join(data, "not_mzml.mzML"), "w") as f:
        f.write("this is not mzML\n")
    targets = os.path.join(work, "targets.tsv")
    with open(targets, "w", encoding="utf-8") as f:
        f.write("name\tmz\trt\tmz_tol\trt_tol\n")
        f.write("P01\t73\t1.1780\t0.3\t0.1\n")
        f.write(XSS + "\t147\t1.1869\t0.3\t0.1\n")
        f.write("R&D \"q\" \u00e9\t207\t1.1803\t0.3\t0.1\n")
        f.write("empty\t500\t1.3\t0.3\t0.1\n")
    inputs = [data, os.path.join(work, "missing.mzML")]
    return inputs, targets, len(names) + 2, 4


def make_scale_batch(work, example, n_files, n_targets):
    data = os.path.join(work, "scale_data")
    if not os.path.isdir(data) or len(os.listdir(data)) != n_files:
        shutil.rmtree(data, ignore_errors=True)
        os.makedirs(data)
        for i in range(n_files):  # hard links: same bytes, many runs
            os.link(example, os.path.join(data, "run_%04d.mzML" % (i + 1)))
    peaks = [(73, 1.1780), (73, 1.4854), (147, 1.1869), (147, 1.4057),
             (207, 1.1803), (207, 1.4348), (281, 1.1957), (281, 1.4915)]
    targets = os.path.join(work, "scale_targets.tsv")
    with open(targets, "w") as f:
        f.write("name\tmz\trt\tmz_tol\trt_tol\n")
        for t in range(n_targets):
            mz, rt = peaks[t % len(peaks)]
            f.write("T%02d\t%g\t%.4f\t0.3\t0.1\n" % (t + 1, mz, rt + 0.002 * (t // 8)))
    return [data], targets, n_files, n_targets


def start_browser(work):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    profile = os.path.join(work, "chromium-profile")
    shutil.rmtree(profile, ignore_errors=True)
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
              "--disable-background-networking", "--disable-component-update",
              "--disable-sync", "--disable-quic", "--disable-dev-shm-usage",
              "--window-size=1400,1800", "--user-data-dir=" + profile]:
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    try:
        return webdriver.Chrome(service=service, options=options)
    except Exception as e:  # the test fails when the browser cannot start
        fail("Chromium did not start: %s" % e)


def no_alert(driver):
    try:
        text = driver.switch_to.alert.text
    except NoAlertPresentException:
        return
    fail("a script from the data ran (alert %r)" % text)


def console_errors(driver):
    return [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


def run_vxrun(cmd, cwd=None):
    run = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=cwd)
    if run.returncode not in (0, 1):
        fail("vxrun exited %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))


def quant_report(vxrun, work, sequence):
    report = os.path.join(work, "quant_report.html")
    if os.path.exists(report):
        os.remove(report)
    run_vxrun([os.path.abspath(vxrun), "batch", ".", "-q", "--targets", "targets.tsv",
               "--samples", "samples.tsv", "--report", os.path.abspath(report),
               "--table", os.path.abspath(os.path.join(work, "quant_results.tsv"))], cwd=sequence)
    return report


def check_quant(driver, sequence):
    n_files = len([n for n in os.listdir(sequence) if n.endswith(".mzML.gz")])
    rows = driver.find_elements(By.CSS_SELECTOR, "table.quant-matrix tbody tr")
    if len(rows) != n_files:
        fail("concentration matrix has %d rows, want %d" % (len(rows), n_files))
    if "above the calibrated range" not in driver.find_element(
            By.CSS_SELECTOR, "table.quant-matrix").text:
        fail("the concentration matrix lacks its flags in words")
    # The first target with a curve: open it and wait for its plot to load.
    img = driver.find_element(By.CSS_SELECTOR, "img.calibration-plot")
    details = driver.execute_script("return arguments[0].closest('details');", img)
    details.find_element(By.TAG_NAME, "summary").click()
    WebDriverWait(driver, 10).until(lambda d: d.execute_script(
        "return arguments[0].complete && arguments[0].naturalWidth > 0;", img))
    if not img.is_displayed():
        fail("the calibration plot is not shown when its target is open")
    samples = details.find_elements(By.CSS_SELECTOR, "table.concentrations tbody tr")
    standards = details.find_elements(By.CSS_SELECTOR, "table.standards tbody tr")
    if not samples or len(samples) + len(standards) != n_files:
        fail("target tables hold %d samples and %d standards, want %d files"
             % (len(samples), len(standards), n_files))


HOSTILE = "<img src=x onerror=alert(2)> & \"q\""


def check_review(driver, vxrun, work, sequence, report, docs_img=None):
    """The review loop: reject a peak in the page, export review.tsv, rerun
    with --review; the concentration goes, the audit lists the override and a
    hostile reason stays text."""
    # Compound A in the first standard: a target with qualifier ions to show.
    cell = driver.find_element(
        By.XPATH, "//*[@id='matrix']//tr[th[text()='std3.mzML.gz']]/td[2]")
    i = int(cell.get_attribute("data-i"))
    cell.click()
    driver.find_element(By.CSS_SELECTOR, ".rv-reason").send_keys(HOSTILE)
    driver.find_element(By.CSS_SELECTOR, ".rv-reviewer").send_keys("tester")
    driver.save_screenshot(os.path.join(work, "review_cell.png"))
    driver.find_element(By.CSS_SELECTOR, ".rv-reject").click()
    # The download's bytes, caught where the page makes its blob.
    driver.execute_script("URL.createObjectURL = function (b) { window.__vxBlob = b; return 'about:blank'; };"
                          "HTMLAnchorElement.prototype.click = function () {};")
    driver.find_element(By.CSS_SELECTOR, ".rv-export").click()
    tsv = driver.execute_async_script("arguments[0]; window.__vxBlob.text().then(arguments[arguments.length - 1]);")
    lines = tsv.strip("\n").split("\n")
    if lines[0] != "file\ttarget\taction\tstart_rt\tend_rt\treason\treviewer\ttime" or len(lines) != 2:
        fail("exported review.tsv is not one decision under the header: %r" % tsv)
    if "\treject\t" not in lines[1] or HOSTILE not in lines[1]:
        fail("exported decision lacks the action or the reason: %r" % lines[1])
    review = os.path.join(work, "review.tsv")
    with open(review, "w", encoding="utf-8") as f:
        f.write(tsv)
    reviewed = os.path.join(work, "reviewed_report.html")
    quant_tsv = os.path.join(work, "reviewed_quant.tsv")
    run_vxrun([vxrun, "batch", sequence, "-q", "--targets", os.path.join(sequence, "targets.tsv"),
               "--samples", os.path.join(sequence, "samples.tsv"), "--report", reviewed,
               "--quant", quant_tsv, "--review", review, "--amount-unit", "ng/mL",
               "--table", os.path.join(work, "reviewed_results.tsv")])
    with open(quant_tsv, encoding="utf-8") as f:
        rows = [l.rstrip("\n").split("\t") for l in f]
    head = rows[0]
    row = rows[1 + i]
    if row[head.index("review")] != "reject" or row[head.index("concentration")] != "":
        fail("the rejected row still has a concentration or no review mark: %r" % row)
    driver.get("file://" + os.path.abspath(reviewed))
    no_alert(driver)
    audit = driver.find_element(By.ID, "audit").text
    if HOSTILE not in audit or "tester" not in audit:
        fail("the audit section does not list the override as text: %r" % audit)
    if driver.find_elements(By.CSS_SELECTOR, "#audit img"):
        fail("the hostile reason became markup")
    if "ng/mL" not in driver.find_element(By.ID, "matrix-head").text:
        fail("concentration headers lack the unit")
    driver.save_screenshot(os.path.join(work, "review_audit.png"))
    if docs_img:
        for name in ("review_cell.png", "review_audit.png"):
            shutil.copyfile(os.path.join(work, name), os.path.join(docs_img, name))


# The peak view's geometry in SVG pixels (the chart is drawn 1:1): the fit
# window's dashed lines, the trace points, each qualifier's polyline and the
# shaded bounds.
PEAK_VIEW = """
    const svg = document.querySelector('#cell-view svg.peak-view');
    if (!svg) return null;
    const num = (e, a) => parseFloat(e.getAttribute(a));
    const shade = svg.querySelector('rect.bounds');
    return {
      window: Array.from(svg.querySelectorAll('line.window')).map(l => num(l, 'x1')),
      points: Array.from(svg.querySelectorAll('circle.pt')).map(c => [num(c, 'cx'), num(c, 'cy')]),
      qualifiers: Array.from(svg.querySelectorAll('polyline.qualifier')).map(
        p => p.getAttribute('points').split(' ').filter(s => s).map(s => s.split(',').map(Number))),
      shade: shade && shade.getAttribute('visibility') !== 'hidden'
        ? [num(shade, 'x'), num(shade, 'width')] : null,
      width: svg.getBoundingClientRect().width,
      legend: document.querySelector('#cell-view .pv-legend').textContent,
      start: document.querySelector('#cell-view .rv-start').value,
      end: document.querySelector('#cell-view .rv-end').value};"""


def check_peak_view(driver, vxrun, work, docs_img):
    """A neighbour peak outside the fit window and a qualifier ion: the view
    shows both, and dragging across it sets the bounds."""
    folder = os.path.join(DATA, "report")
    report = os.path.join(work, "peak_view.html")
    # Run beside the data, so that the view (and the README's screenshot)
    # names the file as a user would see it, not by this machine's path.
    run_vxrun([os.path.abspath(vxrun), "batch", "neighbour.mzML.gz", "-q",
               "--targets", "targets.tsv", "--report", os.path.abspath(report),
               "--table", os.path.abspath(os.path.join(work, "peak_view.tsv"))], cwd=folder)
    driver.get("file://" + os.path.abspath(report))
    driver.find_element(By.CSS_SELECTOR, "#matrix td.cell.ok").click()
    v = driver.execute_script(PEAK_VIEW)
    if v is None or len(v["window"]) != 2:
        fail("the peak view lacks its window marks: %r" % v)
    lo, hi = v["window"]
    pts = v["points"]
    bottom = max(y for _, y in pts)  # SVG y grows downwards
    apex = min(y for x, y in pts if lo <= x <= hi)
    right = [y for x, y in pts if x > hi]
    if not [x for x, _ in pts if x < lo] or not right:
        fail("the view does not reach beyond the fit window: %r" % v["window"])
    # The neighbour (70 % of the target's height) lies right of the window.
    if bottom - min(right) < 0.5 * (bottom - apex):
        fail("the neighbour peak outside the window is not drawn")
    if len(v["qualifiers"]) != 1:
        fail("want one qualifier overlay, got %d" % len(v["qualifiers"]))
    top = min(y for x, y in v["qualifiers"][0] if lo <= x <= hi)
    if abs(top - apex) > 0.1 * (bottom - apex):
        fail("the qualifier scaled by its ratio peaks at %.1f px, the quantifier at %.1f" % (top, apex))
    if "m/z 147" not in v["legend"] or "reference ratio 40 %" not in v["legend"]:
        fail("the legend does not name the qualifier and its ratio: %r" % v["legend"])
    if "few selected ions" not in driver.find_element(By.ID, "cell-view").text:
        fail("a SIM run does not say why it shows no spectrum")
    # Drag from the window's start to its end: the form and the shading follow.
    svg = driver.find_element(By.CSS_SELECTOR, "#cell-view svg.peak-view")
    half = v["width"] / 2
    ActionChains(driver).move_to_element_with_offset(svg, int(lo - half), 0).click_and_hold() \
        .move_by_offset(int((hi - lo) / 2), 0).move_by_offset(int(hi - lo) - int((hi - lo) / 2), 0) \
        .release().perform()
    d = driver.execute_script(PEAK_VIEW)
    if abs(float(d["start"]) - 1.4) > 0.01 or abs(float(d["end"]) - 1.6) > 0.01:
        fail("dragging across the window set the bounds %s-%s, want 1.4-1.6" % (d["start"], d["end"]))
    if not d["shade"] or abs(d["shade"][0] - lo) > 3 or abs(d["shade"][1] - (hi - lo)) > 3:
        fail("the shading does not follow the drag: %r" % d["shade"])
    view = driver.find_element(By.ID, "cell-view")
    view.screenshot(os.path.join(work, "peak_view.png"))
    if docs_img:
        shutil.copyfile(os.path.join(work, "peak_view.png"), os.path.join(docs_img, "peak_view.png"))


def check_spectrum(driver, vxrun, work, docs_img):
    """A full-scan run with a library: the peak's spectrum mirrored against
    the library entry's, named and scored."""
    folder = os.path.join(DATA, "library")
    report = os.path.join(work, "spectrum.html")
    run_vxrun([os.path.abspath(vxrun), "batch", "fullscan.mzML.gz", "-q",
               "--targets", "targets.tsv", "--library", "library.msp",
               "--report", os.path.abspath(report),
               "--table", os.path.abspath(os.path.join(work, "spectrum.tsv"))], cwd=folder)
    driver.get("file://" + os.path.abspath(report))
    driver.find_element(By.CSS_SELECTOR, "#matrix td.cell.ok").click()
    view = driver.find_element(By.ID, "cell-view")
    peak = view.find_elements(By.CSS_SELECTOR, "svg.spectrum-plot line.stick.peak")
    library = view.find_elements(By.CSS_SELECTOR, "svg.spectrum-plot line.stick.library")
    if len(peak) < 5 or len(library) < 5:
        fail("the spectrum panel drew %d peak and %d library sticks" % (len(peak), len(library)))
    if not re.search(r"library entry A, match score \d+", view.text):
        fail("the mirror plot does not name the entry and its score: %r" % view.text)
    view.screenshot(os.path.join(work, "peak_spectrum.png"))
    if docs_img:
        shutil.copyfile(os.path.join(work, "peak_spectrum.png"),
                        os.path.join(docs_img, "peak_spectrum.png"))


def column_values(driver, details, col):
    return driver.execute_script(
        "return Array.from(arguments[0].querySelectorAll('.rows tr[data-i]'))"
        ".map(r => r.children[arguments[1]].textContent);", details, col)


def check_small(driver, n_files, n_targets, work):
    cells = driver.find_elements(By.CSS_SELECTOR, "#matrix td.cell")
    if len(cells) != n_files * n_targets:
        fail("matrix has %d cells, want %d" % (len(cells), n_files * n_targets))
    no_alert(driver)
    heads = [e.get_attribute("textContent")
             for e in driver.find_elements(By.CSS_SELECTOR, "#matrix-head th.tname")]
    if XSS not in heads or "R&D \"q\" \u00e9" not in heads:
        fail("target names not shown as text: %r" % heads)
    if driver.find_elements(By.CSS_SELECTOR, "#matrix script, #matrix i, #matrix-head script"):
        fail("data became markup")
    files = [e.get_attribute("textContent")
             for e in driver.find_elements(By.CSS_SELECTOR, "#matrix th.fname")]
    for want in ["a&b <i>x.mzML", "quote\"s 'n' \u00e9.mzML", "bad \ufffd\ufffd bytes.mzML"]:
        if want not in files:
            fail("file name %r not shown as text in %r" % (want, files))
    unprocessed = driver.find_element(By.ID, "unprocessed").text
    for want in ["missing.mzML", "not_mzml.mzML", "file_not_found", "no_spectra"]:
        if want not in unprocessed:
            fail("files not processed lack %r: %r" % (want, unprocessed))

    ok = driver.find_elements(By.CSS_SELECTOR, "#matrix td.cell.ok")
    if not ok:
        fail("no successful cell")
    ok[1].click()
    view = driver.find_element(By.ID, "cell-view")
    points = view.find_elements(By.CSS_SELECTOR, "svg circle.pt")
    curve = view.find_elements(By.CSS_SELECTOR, "svg polyline.fit")
    if not view.is_displayed() or len(points) < 5 or not curve:
        fail("clicking a cell drew %d points and %d curves" % (len(points), len(curve)))
    if XSS not in view.text or "solver converged" not in view.text:
        fail("the cell view lacks its target name or readable flags: %r" % view.text)

    details = driver.find_elements(By.CSS_SELECTOR, "details.target")[1]
    details.find_element(By.TAG_NAME, "summary").click()
    # The toggle event that builds the table comes after the click returns.
    WebDriverWait(driver, 10).until(
        lambda d: details.find_elements(By.CSS_SELECTOR, ".rows tr[data-i]"))
    rows = details.find_elements(By.CSS_SELECTOR, ".rows tr[data-i]")
    if len(rows) != n_files:
        fail("target table has %d rows, want %d" % (len(rows), n_files))
    if len(details.find_elements(By.CSS_SELECTOR, ".trend svg")) != 2:
        fail("target lacks its drift and area plots")
    header = details.find_elements(By.CSS_SELECTOR, ".rows thead th")[2]  # status
    header.click()
    status = column_values(driver, details, 2)
    if status != sorted(status):
        fail("status column not sorted ascending: %r" % status)
    header.click()
    status = column_values(driver, details, 2)
    if status != sorted(status, reverse=True):
        fail("status column not sorted descending: %r" % status)
    numbers = column_values(driver, details, 0)
    if numbers == sorted(numbers, key=int):
        fail("rows did not move when sorted: %r" % numbers)
    no_alert(driver)
    driver.save_screenshot(os.path.join(work, "report_screenshot.png"))


def check_merged(driver, a, targets, work):
    """The report vxrun merge writes from the batch's table: no trace data,
    but each cell's values and flags, and a link to its SVG figure."""
    report = os.path.join(work, "merged.html")
    run = subprocess.run([a.vxrun, "merge", os.path.join(work, "results.tsv"), "-q",
                          "--targets", targets, "--report", report,
                          "--plot", os.path.join(work, "plots"), "--table", os.devnull],
                         stderr=subprocess.PIPE)
    if run.returncode not in (0, 1):
        fail("vxrun merge exited %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
    driver.get("file://" + os.path.abspath(report))
    driver.find_elements(By.CSS_SELECTOR, "#matrix td.cell.ok")[1].click()
    view = driver.find_element(By.ID, "cell-view")
    if view.find_elements(By.CSS_SELECTOR, "svg circle.pt"):
        fail("a merged report drew trace points it does not have")
    if "holds no trace data" not in view.text or "solver converged" not in view.text:
        fail("the merged cell view lacks its note or its flags: %r" % view.text)
    href = view.find_element(By.LINK_TEXT, "the SVG figure").get_attribute("href")
    if not href.startswith("file://") or not os.path.isfile(href[len("file://"):].replace("%20", " ")):
        fail("the merged report links %r, not a figure beside it" % href)
    if "not loaded" not in driver.find_element(By.TAG_NAME, "body").text:
        fail("the merged report does not say the library was not loaded")


SCROLL = """
    const done = arguments[arguments.length - 1];
    const box = document.querySelector('#matrix-wrap .grid-body');
    let last = performance.now(), frames = [], n = 0;
    function step() {
      const now = performance.now(); frames.push(now - last); last = now;
      box.scrollTop += 100;
      if (++n < 120) requestAnimationFrame(step); else done(frames);
    }
    requestAnimationFrame(step);"""


def measure(driver, url, report, runs=3):
    """Median of `runs` loads: wall time of the load, the navigation timing,
    the frames while scrolling the matrix by 100 px a frame, and the time
    to open the first target's table and plots."""
    samples = []
    for _ in range(runs):
        t0 = time.monotonic()
        driver.get(url)
        wall = time.monotonic() - t0
        nav = driver.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "return [n.domContentLoadedEventEnd, n.loadEventEnd];")
        frames = sorted(driver.execute_async_script(SCROLL)[1:])
        t1 = time.monotonic()
        driver.execute_script("document.querySelector('details.target').open = true;")
        WebDriverWait(driver, 30).until(
            lambda d: d.find_elements(By.CSS_SELECTOR, "details.target .rows tr[data-i]"))
        samples.append((wall, nav[0], nav[1], frames[len(frames) // 2],
                        frames[len(frames) * 95 // 100], frames[-1], time.monotonic() - t1))
    med = [sorted(col)[len(col) // 2] for col in zip(*samples)]
    print(json.dumps({"report_bytes": os.path.getsize(report), "load_seconds": round(med[0], 3),
                      "dom_content_loaded_ms": round(med[1]), "load_event_ms": round(med[2]),
                      "scroll_frame_ms_median": round(med[3], 1),
                      "scroll_frame_ms_p95": round(med[4], 1), "scroll_frame_ms_worst": round(med[5], 1),
                      "open_target_seconds": round(med[6], 3), "runs": runs}))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vxrun", required=True)
    ap.add_argument("--example", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--scale", nargs=2, type=int, metavar=("FILES", "TARGETS"))
    ap.add_argument("--quant", metavar="DIR", help="a quantitation sequence to check too")
    ap.add_argument("--docs-img", metavar="DIR", help="also write the README's screenshots here")
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    if a.scale:
        inputs, targets, n_files, n_targets = make_scale_batch(a.work, a.example, *a.scale)
    else:
        inputs, targets, n_files, n_targets = make_small_batch(a.work, a.example)
    report = os.path.join(a.work, "report.html")
    cmd = [a.vxrun, "batch"] + inputs + ["--targets", targets, "-q", "--report", report,
                                          "--table", os.path.join(a.work, "results.tsv"),
                                          "--plot", os.path.join(a.work, "plots")]
    t0 = time.monotonic()
    run_vxrun(cmd)
    batch_seconds = time.monotonic() - t0
    if not os.path.isfile(report):
        fail("vxrun wrote no report")
    quant = quant_report(a.vxrun, a.work, a.quant) if a.quant and not a.scale else None
    driver = start_browser(a.work)
    try:
        url = "file://" + os.path.abspath(report)
        if a.scale:
            print("batch of %d x %d: %.2f s" % (n_files, n_targets, batch_seconds))
            measure(driver, url, report)
        else:
            driver.get(url)
            check_small(driver, n_files, n_targets, a.work)
            check_merged(driver, a, targets, a.work)
            check_peak_view(driver, a.vxrun, a.work, a.docs_img)
            check_spectrum(driver, a.vxrun, a.work, a.docs_img)
        errors = console_errors(driver)
        if errors:
            fail("browser console errors: %r" % errors)
        if quant:
            driver.get("file://" + os.path.abspath(quant))
            check_quant(driver, a.quant)
            check_review(driver, a.vxrun, a.work, a.quant, quant, a.docs_img)
            errors = console_errors(driver)
            if errors:
                fail("browser console errors on the quantitation report: %r" % errors)
            driver.save_screenshot(os.path.join(a.work, "quant_report_screenshot.png"))
    finally:
        driver.quit()
    print("ok")


if __name__ == "__main__":
    main()
