"""The plot gather job. A part's plots are named as its own batch names them;
the gathered folder uses the names one batch over every file gives (a "-2"
suffix for files sharing a name counts across all files)."""

import os
import shutil

from sequence import plot_stems


def gather(chunks: list, files: list[str], parts: list[str], out: str) -> None:
    stem_of = plot_stems(files)
    os.makedirs(out, exist_ok=True)
    for (_key, paths), folder in zip(chunks, parts):
        renamed = {own + "__": stem_of[path] + "__" for path, own in plot_stems(paths).items()}
        for name in sorted(n for n in os.listdir(folder) if n.endswith(".svg")):
            own = max((o for o in renamed if name.startswith(o)), key=len)
            wanted = renamed[own] + name[len(own):]
            shutil.copyfile(os.path.join(folder, name), os.path.join(out, wanted))


gather(snakemake.params.chunks, snakemake.params.files,  # noqa: F821  (Snakemake's)
       list(snakemake.input.dirs), snakemake.output[0])  # noqa: F821
