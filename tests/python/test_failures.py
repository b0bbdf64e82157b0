"""Bad input gives a clear exception, never an empty result."""

import os

import pytest

import vx_steps
from vx_steps import _library


@pytest.mark.parametrize("path,env,recorded,says", [
    (None, "", None, "cannot find vx_velloran_steps.so"),
    ("/nonexistent/vx_velloran_steps.so", "", None, "no step library at /nonexistent"),
    (None, "/nonexistent/x.so", "/usr/lib", "no step library at /nonexistent/x.so"),
    (__file__, "", None, "cannot load the step library"),
    ("/lib/x86_64-linux-gnu/libm.so.6", "", None, "does not export vx_list_steps"),
])
def test_library_that_cannot_be_used(monkeypatch, path, env, recorded, says):
    monkeypatch.setenv("VX_STEPS_LIBRARY", env)
    monkeypatch.setattr(vx_steps._location, "PLUGIN_DIR", recorded)
    with pytest.raises(vx_steps.LibraryError, match=says):
        vx_steps.open(path)


def test_search_order_argument_then_environment_then_installed_folder(monkeypatch):
    monkeypatch.setenv("VX_STEPS_LIBRARY", "/from/env.so")
    monkeypatch.setattr(vx_steps._location, "PLUGIN_DIR", "/installed")
    assert [p for p, _ in _library.candidate_paths("/given.so")] == ["/given.so"]
    assert [p for p, _ in _library.candidate_paths()] == [
        "/from/env.so", "/installed/vx_velloran_steps.so"]
    monkeypatch.delenv("VX_STEPS_LIBRARY")
    assert [p for p, _ in _library.candidate_paths()] == ["/installed/vx_velloran_steps.so"]


def test_library_with_other_contract_digest(monkeypatch):
    digests = dict(_library.CONTRACT_DIGESTS, GcMsSimTraceExtractionStep="0" * 64)
    monkeypatch.setattr(_library, "CONTRACT_DIGESTS", digests)
    with pytest.raises(vx_steps.LibraryError,
                       match="GcMsSimTraceExtractionStep has contract digest 345fa1bd"):
        vx_steps.open(os.environ["VX_STEPS_LIBRARY"])


@pytest.mark.parametrize("name,error,reason", [
    ("missing.mzML", vx_steps.IngestError, "file_not_found"),
    ("folder", vx_steps.IngestError, "unsupported_encoding"),
    ("empty.mzML", vx_steps.IngestError, "empty_file"),
    ("bad_index.mzML", vx_steps.IngestError, "malformed_number"),
    ("not_mzml.xml", vx_steps.NoSpectraError, "no_spectra"),
])
def test_file_that_cannot_be_used(lib, tmp_path, name, error, reason):
    (tmp_path / "folder").mkdir()
    (tmp_path / "empty.mzML").write_bytes(b"")
    (tmp_path / "bad_index.mzML").write_text('<mzML><spectrum index="x"/></mzML>')
    (tmp_path / "not_mzml.xml").write_text("<mzXML><scan/></mzXML>")
    with pytest.raises(error) as caught:
        lib.ingest(tmp_path / name)
    assert caught.value.reason == reason
    assert caught.value.flag == "gcms.ingest." + reason
    assert str(tmp_path / name) in str(caught.value)


@pytest.mark.parametrize("mz,rt,kwargs,error,flag", [
    (999.0, 1.2, {}, vx_steps.EmptyTraceError, "gcms.sim.empty_trace"),
    (73.0, 9.0, {"rt_tol": 0.01}, vx_steps.FitError, "gcms.fit.no_local_peak"),
    (73.0, 1.178, {"rt_tol": 0.1, "max_iter": 1}, vx_steps.FitError,
     "gcms.fit.unstable_fit"),
])
def test_failure_flags_raise_with_the_result(lib, example, mz, rt, kwargs, error, flag):
    run = lib.ingest(example)
    with pytest.raises(error, match=flag) as caught:
        run.trace(mz, tol=0.3).fit(rt, **kwargs)
    assert caught.value.flag == flag
    assert caught.value.result is not None
    # Without the check the result comes back, flag and all.
    trace = run.trace(mz, tol=0.3, check=False)
    if flag.startswith("gcms.fit."):
        assert trace.fit(rt, **kwargs, check=False).flags[flag] is True
    else:
        assert trace.flags[flag] is True and len(trace) == 0


@pytest.mark.parametrize("call,error,says", [
    (lambda lib: lib.call("OperationStepDemo", ["sum"], [b"1"], 1), vx_steps.StepError,
     "status 2"),
    (lambda lib: lib.call("NoSuchStep", [], [], 1), vx_steps.LibraryError, "no step NoSuchStep"),
    (lambda lib: lib.call("OperationStepDemo", [True], [], 1), TypeError, "bool"),
    (lambda lib: lib.call("OperationStepDemo", ["sum"], [b"1", b"2"], -1), ValueError,
     "n_outputs"),
    (lambda lib: lib.call("OperationStepDemo", ["sum"], [2**63, 1], 1), OverflowError,
     "64-bit"),
    (lambda lib: lib.call("OperationStepDemo", ["sum"], [object(), 1], 1), TypeError,
     "cannot pass object"),
    (lambda lib: vx_steps.Target(float("nan"), 1.0), ValueError, "m/z"),
    (lambda lib: vx_steps.Target(73, 1.0, max_iter=0), ValueError, "iteration limit"),
    (lambda lib: vx_steps.Target(73, 1.0, rt_tol=-1), ValueError, "tolerance"),
    (lambda lib: vx_steps.Target(73, 1.0, exact="maybe"), ValueError, "exact"),
    (lambda lib: vx_steps.batch_rows([], [], library=lib), ValueError, "no targets"),
    (lambda lib: vx_steps.batch_rows([], [(73, 1), (73, 1)], library=lib), ValueError,
     "unique"),
])
def test_bad_calls(lib, call, error, says):
    with pytest.raises(error, match=says):
        call(lib)


def test_numbers_pass_as_their_kind(lib):
    import numpy as np
    for a, b in [(2**62, 1), (np.int64(5), np.float32(0.5)), (1.5, 2)]:
        assert lib.call("OperationStepDemo", ["sum"], [a, b], 1).outputs == [float(a) + float(b)]


def test_unchecked_call_reports_the_status(lib):
    result = lib.call("OperationStepDemo", ["sum"], [b"1"], 1, check=False)
    assert result.status == 2 and result.outputs == [None]


# Malformed targets tables: the package refuses each with the very lines
# vxrun prints for it (source and line number included), before any step runs.
BAD_TABLES = [
    "name\tmz\trt\tcolour\nA\t73\t1.2\tred\n",                # unknown column
    "name,mz,rt\n\"A,73,1.2\n",                               # unterminated quote
    "name\tmz\nA\t73\n",                                      # no rt column
    "name\tmz\trt\nA\tseventy\t1.2\n# note\nB\t73\t\n",      # bad number, rt missing
    "name\tmz\trt\tmax_iter\nA\t73\t1.2\t2.5\nB\t73\t1\t0\n",  # iteration limits
    "name\tmz\trt\texact\nA\t73\t1.2\tmaybe\nA\t74\t1.2\tyes\nA\t75\t1\t1\n",
    "name\tmz\trt\tmz_tol\tmz_tol_ppm\nA\t73\t1.2\t0.3\t10\n",  # both tolerances
    "name\tmz\trt\tqualifiers\tistd\nA\t73\t1.2\t147\tB\nB\t74\t1\t\tA\nC\t75\t1\t\tX\n",
    "name\tmz\trt\n\n# only comments\n",                     # no targets
    "\ufeff# nothing but a comment\r\n\r\n",                   # no header
]


@pytest.mark.parametrize("text", BAD_TABLES)
def test_bad_targets_table_names_lines_as_vxrun_does(lib, vxrun, tmp_path, example, text):
    path = tmp_path / "targets.tsv"
    path.write_bytes(text.encode())
    done = vxrun("batch", example, "--targets", path, "-q", check=False)
    assert done.returncode == 65
    theirs = [line.removeprefix("vxrun: ") for line in done.stderr.decode().splitlines()]
    with pytest.raises(vx_steps.DocumentError) as caught:
        vx_steps.batch_rows(example, path, library=lib)
    assert str(caught.value).splitlines() == theirs


def test_bad_targets_frame_names_the_row(lib, example):
    import pandas as pd
    frame = pd.DataFrame({"name": ["A", "B"], "mz": [73.0, 74.0], "rt": [1.2, None],
                          "qualifiers": ["147:35", None]})
    with pytest.raises(vx_steps.DocumentError, match="DataFrame row 1: mz and rt"):
        vx_steps.batch_rows(example, frame, library=lib)
    with pytest.raises(vx_steps.DocumentError, match="unknown column 'colour'"):
        vx_steps.batch_rows(example, frame.assign(colour=1), library=lib)
