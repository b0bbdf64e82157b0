"""batch(review=...) overrides rows as vxrun batch --review does: the same
rows with a rejection and manual integrations, and the same messages for
every kind of bad decision."""

import pytest

import vx_steps
from conftest import read_jsonl

HEADER = "file\ttarget\taction\tstart_rt\tend_rt\treason\treviewer\ttime\n"


def review_file(path, *lines):
    path.write_text(HEADER + "".join(line + "\n" for line in lines))
    return path


def test_rows_equal_vxrun_with_rejection_and_integration(lib, vxrun, source_dir, tmp_path):
    data = source_dir / "tests" / "data" / "quant"
    review = review_file(
        tmp_path / "review.tsv",
        "sample1.mzML.gz\tA\treject\t\t\tshoulder\tana\t2026-01-01T10:00:00Z",
        # The whole path as the batch lists it, and a base name.
        f"{data / 'sample2.mzML.gz'}\tB\tintegrate\t1.74\t1.86\ttailing\tana\t",
        # A fit that failed cannot stop a manual integration.
        "blank.mzML.gz\tB\tintegrate\t1.7\t1.9\tby hand\tana\t",
        "# a comment line is skipped",
        # A later decision for the same row replaces the earlier one.
        "sample2.mzML.gz\tA\treject\t\t\tfirst thought\tana\t",
        "sample2.mzML.gz\tA\tintegrate\t1.45\t1.55\tsecond thought\tana\t")
    out = tmp_path / "rows.jsonl"
    done = vxrun("batch", data, "--targets", data / "targets.tsv", "-j", "1", "-q",
                 "--review", review, "--jsonl", out)
    assert done.returncode == 0, done.stderr
    want = read_jsonl(out)
    got = vx_steps.batch_rows(data, data / "targets.tsv", 2, lib, review=review)
    assert got == want
    by_key = {(r["file"].rsplit("/", 1)[-1], r["target"]): r for r in got}
    assert by_key["sample1.mzML.gz", "A"]["detection"] == "not_detected"
    assert by_key["sample1.mzML.gz", "A"]["review"] == "reject"
    integrated = by_key["sample2.mzML.gz", "B"]
    assert (integrated["review"], integrated["peak_start"], integrated["peak_end"]) == \
        ("integrate", 1.74, 1.86)
    assert integrated["integrated_area"] > 0
    assert by_key["sample2.mzML.gz", "A"]["review"] == "integrate"
    assert len({r["review_digest"] for r in got}) == 1
    assert sum(r["review"] is not None for r in got) == 4


@pytest.mark.parametrize("lines", [
    ["nowhere.mzML\tA\treject\t\t\t\t\t"],
    ["sample1.mzML.gz\tZ\treject\t\t\t\t\t"],
    ["sample1.mzML.gz\tA\tdelete\t\t\t\t\t"],
    ["sample1.mzML.gz\tA\tintegrate\t1.6\t1.4\t\t\t"],
    ["sample1.mzML.gz\tA\tintegrate\t1.4\t\t\t\t"],
    ["sample1.mzML.gz\tA\treject\t\t\tbad \\q escape\t\t"],
    ["sample1.mzML.gz\tA\treject"],
    # Two errors: each is named.
    ["sample9.mzML.gz\tA\treject\t\t\t\t\t", "sample1.mzML.gz\tQ\treject\t\t\t\t\t"],
    # Read, then refused when applied: no trace point between the bounds.
    ["sample1.mzML.gz\tA\tintegrate\t50\t60\t\t\t"],
], ids=["file", "target", "action", "bounds", "one_bound", "escape", "cells", "two",
        "no_trace"])
def test_bad_decisions_give_vxrun_messages(lib, vxrun, source_dir, tmp_path, lines):
    data = source_dir / "tests" / "data" / "quant"
    review = review_file(tmp_path / "review.tsv", *lines)
    done = vxrun("batch", data, "--targets", data / "targets.tsv", "-j", "1", "-q",
                 "--review", review, "--table", tmp_path / "t.tsv", check=False)
    assert done.returncode == 65, done.stderr
    want = [line.removeprefix("vxrun: ")
            for line in done.stderr.decode().splitlines() if line.startswith("vxrun: ")]
    assert want
    with pytest.raises(vx_steps.ReviewError) as e:
        vx_steps.batch_rows(data, data / "targets.tsv", 1, lib, review=review)
    assert e.value.errors == want


@pytest.mark.parametrize("text,message", [
    (None, "cannot read the review"),
    ("", ":1: no header"),
    ("file\ttarget\taction\n", ":1: the header must be"),
])
def test_unreadable_or_headless_review(lib, source_dir, tmp_path, text, message):
    data = source_dir / "tests" / "data" / "quant"
    review = tmp_path / "review.tsv"
    if text is not None:
        review.write_text(text)
    with pytest.raises(vx_steps.ReviewError, match=message):
        vx_steps.batch(data / "std1.mzML.gz", data / "targets.tsv", 1, lib, review=review)
