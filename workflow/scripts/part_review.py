"""A file job's review: the integrations of its own files (see review.py)."""

from review import part_review

with open(snakemake.output[0], "w", encoding="utf-8", newline="") as f:  # noqa: F821
    f.write(part_review(snakemake.input.review, list(snakemake.params.files),  # noqa: F821
                        list(snakemake.params.chunk)))  # noqa: F821
