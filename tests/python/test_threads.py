"""Step calls from many threads at once give the same results as one."""

from concurrent.futures import ThreadPoolExecutor

import vx_steps


def chain(lib, path):
    trace = lib.ingest(path).trace(147, tol=0.3)
    fit = trace.fit(1.1869, rt_tol=0.1, check=False)
    return trace.document, fit.document, fit.diagnostics_document


def test_eight_threads_run_the_chain_identically(lib, example, shared_dir):
    files = [example, shared_dir / "data/mzml/sim_tiny.mzML.gz"] * 16
    expected = [chain(lib, f) for f in files[:2]] * 16
    with ThreadPoolExecutor(8) as pool:
        assert list(pool.map(lambda f: chain(lib, f), files)) == expected


def test_eight_threads_of_batches_agree(lib, example, shared_dir):
    inputs = [str(example), str(shared_dir / "data/mzml")]
    targets = [(73, 1.178), (147, 1.1869), (207, 2.1)]
    expected = vx_steps.batch_rows(inputs, targets, jobs=1, library=lib)
    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(
            lambda j: vx_steps.batch_rows(inputs, targets, jobs=j, library=lib),
            [1, 2, 3, 4] * 2))
    assert all(r == expected for r in results)
