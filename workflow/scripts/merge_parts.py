"""The gather job: `vxrun merge` of every part table into the sequence's
results (and, with a sample list, its quantitation). Exit 1 means some file
could not be processed, which the rows say: the job succeeds. Any other
failure fails the job, with vxrun's message in its log and on stderr."""

import subprocess
import sys

NOT_PROCESSED = 1  # vxrun: a file could not be processed; its rows say why


def write_list(path: str, items: list[str]) -> None:
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(item + "\n" for item in items)


def main(sm) -> int:
    write_list(sm.output.parts_list, list(sm.input.parts))
    if sm.output.measurements_list:
        write_list(sm.output.measurements_list, list(sm.input.measurements))
    command = [sm.params.vxrun, "merge", "--list", sm.output.parts_list,
               "--table", sm.output.tsv, "--jsonl", sm.output.jsonl, *sm.params.options]
    with open(sm.log[0], "wb") as log:
        code = subprocess.run(command, stderr=log, check=False).returncode
    if code in (0, NOT_PROCESSED):
        return 0
    with open(sm.log[0], "rb") as log:
        sys.stderr.buffer.write(log.read())
    return code


sys.exit(main(snakemake))  # noqa: F821  (given by Snakemake's script directive)
