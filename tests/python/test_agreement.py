"""The package against vxrun, the reference host: the same rows, the same
documents, byte for byte."""

import json
import math
import shutil

import pandas as pd
import pytest

import vx_steps
from conftest import read_jsonl

# The example's peaks, plus targets that make the fit fail in each way and
# a trace that finds nothing: every fit status and flag shows up in a row.
TARGETS = [
    vx_steps.Target(73, 1.178, "P01", mz_tol=0.3, rt_tol=0.1),
    vx_steps.Target(73, 1.4854, "P02", mz_tol=0.3, rt_tol=0.1),
    vx_steps.Target(147, 1.1869, "P03", mz_tol=0.3, rt_tol=0.1),
    vx_steps.Target(207, 1.4348, "P06", mz_tol=0.3, rt_tol=0.1),
    vx_steps.Target(281, 2.1, "late", exact=True),
    vx_steps.Target(147, 1.19, "one_pass", rt_tol=0.1, max_iter=1),
    vx_steps.Target(147, 9.0, "no_window", rt_tol=0.01),
    vx_steps.Target(999.5, 1.2, "absent_ion", mz_tol=0.1),
    vx_steps.Target(73, 3.0, "narrow", mz_tol=0.0, rt_tol=0.05),
]


def write_targets(path, targets):
    lines = ["name\tmz\trt\tmz_tol\trt_tol\texact\tmax_iter"]
    lines += [f"{t.name}\t{t.mz!r}\t{t.rt!r}\t{t.mz_tol!r}\t{t.rt_tol!r}\t"
              f"{str(t.exact).lower()}\t{t.max_iter}" for t in targets]
    path.write_text("\n".join(lines) + "\n")


@pytest.fixture(scope="module")
def inputs(tmp_path_factory, example, shared_dir):
    """Every kind of input: the example, the shared sample folder, a glob,
    a missing file, an empty folder, an mzXML file, an unreadable number."""
    tmp = tmp_path_factory.mktemp("inputs")
    (tmp / "empty").mkdir()
    bad = (shared_dir / "data/mzml/sim_tiny.mzML").read_text().replace(
        'index="0"', 'index="zero"', 1)
    (tmp / "bad_index.mzML").write_text(bad)
    shutil.copy(example, tmp / "copy.MZML")
    return [str(example), str(shared_dir / "data/mzml"), str(tmp / "*.MZML"),
            str(tmp / "missing.mzML"), str(tmp / "empty"),
            str(shared_dir / "data/mzml/sim_tiny.mzXML"), str(tmp / "bad_index.mzML"),
            str(tmp / "nothing*.mzML")]


@pytest.fixture(scope="module")
def vxrun_rows(tmp_path_factory, vxrun, inputs):
    tmp = tmp_path_factory.mktemp("vxrun")
    write_targets(tmp / "targets.tsv", TARGETS)
    vxrun("batch", *inputs, "--targets", tmp / "targets.tsv", "-j", "2", "-q",
          "--table", tmp / "t.tsv", "--jsonl", tmp / "rows.jsonl")
    return read_jsonl(tmp / "rows.jsonl")


@pytest.mark.parametrize("jobs", [1, 2, 3])
def test_batch_rows_equal_vxrun_jsonl(lib, inputs, vxrun_rows, jobs):
    rows = vx_steps.batch_rows(inputs, TARGETS, jobs=jobs, library=lib)
    assert len(rows) == len(vxrun_rows)
    for ours, theirs in zip(rows, vxrun_rows):
        assert ours == theirs
    statuses = {r["status"] for r in rows}
    assert statuses >= {"ok", "no_spectra", "file_not_found", "malformed_number",
                        "no_mzml_files"}
    assert {r["fit_status"] for r in rows} >= {"success", "unstable_fit", "no_local_peak"}


def test_batch_frame_has_vxrun_columns_and_values(lib, inputs, vxrun_rows):
    frame = vx_steps.batch(inputs, TARGETS, jobs=2, library=lib)
    pd.testing.assert_frame_equal(frame, vx_steps.to_frame(vxrun_rows))
    assert list(frame.columns) == list(vx_steps.COLUMNS)
    assert str(frame["spectra"].dtype) == "Int64"


def test_single_target_named_as_vxrun_names_it(lib, example, vxrun, tmp_path):
    vxrun("batch", example, "--mz", "73", "--rt", "0.0001", "-q", "--jsonl", tmp_path / "r")
    rows = vx_steps.batch_rows([example], [(73, 0.0001)], jobs=1, library=lib)
    assert rows == read_jsonl(tmp_path / "r")


def test_targets_from_a_table_read_with_pandas(lib, example, source_dir):
    table = pd.read_csv(source_dir / "examples/targets.tsv", sep="\t", comment="#")
    table["exact"] = ["no", "false", "0", "n", "N", "False", "no", "y"]
    targets = vx_steps._targets.as_targets(table)
    assert [t.exact for t in targets] == [False] * 7 + [True]
    assert (targets[0].name, targets[0].mz, targets[0].rt_tol) == ("P01", 73.0, 0.1)


def test_documents_are_byte_identical_to_vxrun(lib, example, vxrun, tmp_path):
    vxrun("chain", example, "--mz", "147", "--rt", "1.1869", "--mz-tol", "0.3",
          "--rt-tol", "0.1", "--out", tmp_path)
    run = lib.ingest(example)
    trace = run.trace(147, tol=0.3)
    fit = trace.fit(1.1869, rt_tol=0.1)
    ours = {
        "ingestion_spectra.json": run.spectra_document,
        "ingestion_chromatograms.json": run.chromatograms_document,
        "ingestion_run_summary.json": run.summary_document,
        "trace.json": trace.document,
        "trace_diagnostics.json": trace.diagnostics_document,
        "fit_result.json": fit.document,
        "fit_diagnostics.json": fit.diagnostics_document,
    }
    for name, data in ours.items():
        assert data == (tmp_path / name).read_bytes(), name
    # The objects hold what the documents say.
    doc = json.loads(fit.document)
    assert (fit.center, fit.height, fit.status) == (
        doc["fitted_retention_time"], doc["peak_height"], doc["fit_status"])
    assert len(run) == run.summary["spectrum_count"] == len(run.spectra()) == 211
    assert trace.retention_time.tolist() == json.loads(trace.document)["retention_time"]


@pytest.mark.parametrize("step,params,inputs,n_outputs", [
    ("OperationStepDemo", ["subtraction"], [b"10", b"4"], 1),
    ("OperationStepDemo", ["division"], [b"1", b"3"], 1),
    ("ReadMassSpecFiles", ["a", "b"], [], 3),
    ("GcMsSimTraceExtractionStep", ["exact_match", 0.5, 73.0],
     [b'{"spectra":[{"scan_start_time":6,"scan_start_time_unit":"second",'
      b'"mz_array":[73],"intensity_array":[5]}]}'], 2),
])
def test_call_outputs_equal_vxrun_run(lib, vxrun, tmp_path, step, params, inputs, n_outputs):
    args = []
    for p in params:
        args += ["-n", repr(p)] if isinstance(p, float) else ["-p", p]
    for i in inputs:
        args += ["-I", i.decode()]
    done = vxrun("run", step, *args, "-o", n_outputs, "-d", tmp_path)
    result = lib.call(step, params, inputs, n_outputs)
    assert result.status == done.returncode == 0
    for slot, value in enumerate(result.outputs):
        expected = (tmp_path / f"output_{slot}.json").read_bytes()
        got = value if isinstance(value, bytes) else \
            vx_steps._targets.shortest_text(value).encode()
        assert got == expected, slot


def test_fit_curve_passes_through_the_fitted_peak(lib, example):
    fit = lib.ingest(example).trace(73, tol=0.3).fit(1.178, rt_tol=0.1)
    top, side = fit.curve([fit.center, fit.center + fit.width])
    assert top == pytest.approx(fit.height + fit.baseline, rel=1e-12)
    assert side == pytest.approx(fit.height * math.exp(-0.5) + fit.baseline, rel=1e-12)


def test_number_names_are_written_as_vxrun_writes_numbers(vxrun):
    # vxrun prints a number output with its shortest text: the oracle for the
    # "<mz>@<rt>" names of unnamed targets.
    values = [73.0, 0.0001, 0.001, 1e16, 123456789012345680.0, 0.5, 1e-7, 1234.5,
              100.0, 1e6, 1e21, 5e-324, 1.7976931348623157e308, 0.1 + 0.2]
    for v in values:
        out = vxrun("run", "OperationStepDemo", "-p", "sum", "-I", repr(v), "-I", "0",
                    "-o", 1).stdout.decode()
        assert out == f"output 0: {vx_steps._targets.shortest_text(v)}\n", v


# One table per spelling vxrun accepts: each must give vxrun's own rows, read
# from the file and from a pandas DataFrame of the same table.
TABLES = {
    "tsv_bom_crlf_comments": ("\ufeff# peaks\r\nname\tmz\trt\trt_tol\texact\tmax_iter\r\n"
                              "\r\nP01\t73\t1.178\t0.1\tno\t100\r\n"
                              "  # a comment line\r\nP03\t147\t+1.1869\t0.1\tN\t\r\n"),
    "csv_quoted_aliases": ('Compound,M/Z,Retention_Time,MZ_TOLERANCE\n'
                           '"P01, first",73,1.178,0.3\n"say ""P06""",207,1.4348,\n'),
    "quantitation_columns": ("name\tmz\trt\trt_tol\tqualifiers\tmz_tol_ppm\tistd\n"
                             "ISTD\t147\t1.1869\t0.1\t\t\t\n"
                             "A\t73\t1.178\t0.1\t147:35;207:12.5\t2000\tISTD\n"),
    "unnamed_targets": "mz,rt\n73,1.178\n1e2,2.5e-01\n",
}


@pytest.mark.parametrize("table", sorted(TABLES))
def test_targets_table_path_and_frame_give_vxrun_rows(lib, example, vxrun, tmp_path, table):
    path = tmp_path / ("targets.tsv" if "\t" in TABLES[table] else "targets.csv")
    path.write_bytes(TABLES[table].encode())
    vxrun("batch", example, "--targets", path, "-q", "--jsonl", tmp_path / "rows.jsonl")
    theirs = read_jsonl(tmp_path / "rows.jsonl")
    assert vx_steps.batch_rows(example, path, jobs=1, library=lib) == theirs
    assert vx_steps.batch_rows(example, str(path), jobs=1, library=lib) == theirs
    sep = "\t" if path.suffix == ".tsv" else ","
    frame = pd.read_csv(path, sep=sep, comment="#", encoding="utf-8-sig")
    assert vx_steps.batch_rows(example, frame, jobs=1, library=lib) == theirs


def test_ladder_gives_vxrun_retention_indices(lib, example, vxrun, tmp_path):
    """The retention index of every row (and its flag outside the ladder)
    as ``vxrun batch --ladder`` writes them, from a table and from pairs."""
    ladder = tmp_path / "ladder.tsv"
    ladder.write_text("carbon\trt\n8\t1.1\n9\t1.3\n11\t1.45\n")
    write_targets(tmp_path / "targets.tsv", TARGETS)
    vxrun("batch", example, "--targets", tmp_path / "targets.tsv", "--ladder", ladder, "-q",
          "--jsonl", tmp_path / "rows.jsonl")
    theirs = read_jsonl(tmp_path / "rows.jsonl")
    assert any(r["retention_index"] is not None for r in theirs)
    assert any("ri_extrapolated" in r["flags"] for r in theirs)
    ours = vx_steps.batch_rows(example, TARGETS, jobs=1, library=lib, ladder=ladder)
    assert ours == theirs
    pairs = [(8, 1.1), (9, 1.3), (11, 1.45)]
    assert vx_steps.batch_rows(example, TARGETS, jobs=1, library=lib, ladder=pairs) == theirs
    with pytest.raises(ValueError, match="at least two alkanes"):
        vx_steps.batch_rows(example, TARGETS, jobs=1, library=lib, ladder=[(8, 1.1)])


# Many targets, so that batch() traces on compact documents: windows that
# overlap (and one wide window that spans many), exact and ppm windows,
# qualifier ions, windows partly or wholly outside the run (whose trace
# totals must still be those of the whole run) and an ion nowhere in it.
MANY_TARGETS = """name\tmz\trt\tmz_tol\trt_tol\texact\tmax_iter\tqualifiers\tmz_tol_ppm
c1_68\t68.0255\t1.196\t0.6\t0.05\tno\t100\t\t
c1_69_overlaps\t69\t1.196\t0.6\t0.05\tno\t100\t\t
c1_70\t70.0387\t1.196\t0.6\t0.05\tno\t100\t\t
c1_112_quals\t112.0531\t1.196\t0.3\t0.05\tno\t100\t64.0299:10;80.0224:40;107.0669:95\t
c1_107\t107.0669\t1.196\t0.3\t0.05\tno\t100\t\t
c1_155_ppm\t155.0641\t1.196\t\t0.05\tno\t100\t\t5
c3_70_exact\t70.0387\t1.404\t\t0.05\tyes\t100\t\t
c3_155_ppm\t155.0641\t1.404\t\t0.05\tno\t100\t\t20
c3_238_ppm_quals\t238.1291\t1.404\t\t0.05\tno\t100\t332.17:86;280.1368:52\t10
c2_395\t395.1804\t1.313\t0.3\t0.05\tno\t100\t\t
bleed_73\t73.0473\t1.3\t0.3\t0.3\tno\t100\t\t
bleed_147\t147.0661\t1.3\t0.3\t0.3\tno\t100\t\t
bleed_207\t207.0329\t1.4348\t0.3\t0.1\tno\t100\t\t
bleed_281\t281.0517\t1.3\t0.3\t0.3\tno\t100\t\t
bleed_355\t355.0705\t1.3\t0.3\t0.3\tno\t100\t\t
bleed_429_exact\t429.0893\t1.3\t\t0.3\tyes\t100\t\t
wide\t100\t1.2\t20\t0.1\tno\t100\t\t
one_pass\t147\t1.19\t0.5\t0.1\tno\t1\t\t
late_edge\t112.0531\t2.05\t0.3\t0.01\tno\t100\t\t
far\t112.0531\t9\t0.3\t0.01\tno\t100\t\t
absent\t999.5\t1.2\t0.1\t0.1\tno\t100\t\t
narrow\t73\t3\t0\t0.05\tno\t100\t\t
"""


@pytest.mark.parametrize("jobs", [1, 3])
def test_many_targets_on_compact_documents_equal_vxrun_and_the_whole_run(
        lib, example, shared_dir, vxrun, tmp_path, monkeypatch, jobs):
    targets = tmp_path / "targets.tsv"
    targets.write_text(MANY_TARGETS)
    files = [str(example), str(shared_dir / "data/mzml/fullscan_basic.mzML"),
             str(shared_dir / "data/mzml/fullscan_tiny.mzML")]
    vxrun("batch", *files, "--targets", targets, "--rt-id-tol", "0.1", "-j", "2", "-q",
          "--jsonl", tmp_path / "rows.jsonl")
    theirs = read_jsonl(tmp_path / "rows.jsonl")

    restricted = []
    target = vx_steps._compact.TargetDocuments.target

    def spy(self, t):
        text, whole = target(self, t)
        restricted.append(whole is not None)
        return text, whole
    monkeypatch.setattr(vx_steps._compact.TargetDocuments, "target", spy)
    ours = vx_steps.batch_rows(files, targets, jobs=jobs, library=lib, rt_id_tol=0.1)
    assert len(restricted) == 3 * 22 and all(restricted)
    assert len(ours) == len(theirs)
    for a, b in zip(ours, theirs):
        assert a == b
    # The rows cover what the totals must mend and what identification reads.
    assert {"gcms.sim.empty_trace", "rt_outside_run"} <= {f for r in ours for f in r["flags"]}
    assert any(r["target"] == "late_edge" and r["trace_points"] for r in ours)
    assert {r["identified"] for r in ours} == {"yes", "no"}

    # Tracing every target on the whole run gives the same rows.
    monkeypatch.setattr(vx_steps._batch, "compact_library", lambda path: None)
    assert vx_steps.batch_rows(files, targets, jobs=jobs, library=lib, rt_id_tol=0.1) == ours


def test_qualifiers_are_decided_as_vxrun_decides_them_whatever_min_sn(
        lib, shared_dir, vxrun, tmp_path):
    # A raised --min-sn is the quantifier's detection limit; qualifier ions
    # keep their fixed S/N criterion, so c1_112_quals stays identified.
    targets = tmp_path / "targets.tsv"
    targets.write_text(MANY_TARGETS)
    mzml = str(shared_dir / "data/mzml/fullscan_basic.mzML")
    vxrun("batch", mzml, "--targets", targets, "--rt-id-tol", "0.1", "--min-sn", "200",
          "-q", "--jsonl", tmp_path / "rows.jsonl")
    theirs = read_jsonl(tmp_path / "rows.jsonl")
    ours = vx_steps.batch_rows(mzml, targets, jobs=1, library=lib, rt_id_tol=0.1, min_sn=200)
    assert ours == theirs
    assert next(r for r in ours if r["target"] == "c1_112_quals")["identified"] == "yes"
