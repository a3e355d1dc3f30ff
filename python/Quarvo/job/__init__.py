"""The command-line job: its fields (one table, ``Quarvo.job.fields``), reading
and checking a job document, the JSON Schema drawn from the table, and
packing a checked job with its independent check.

    job = load_job("bundle.json")      # or parse_job(document), decode_job(text, source)
    result = pack(job)                  # Quarvo.job.packing
"""
from Quarvo.job.reading import (  # noqa: F401  (the package's names)
    BUNDLED_NAME,
    CAD_EXTRA,
    CAD_SUFFIXES,
    CAD_UNITS,
    DEFAULT_ROTATIONS_DEG,
    MAX_ITEMS,
    MAX_JOB_BYTES,
    MAX_VALUE,
    MIN_TOLERANCE,
    OPTIONS,
    SHOP_OPTIONS,
    BinKind,
    ItemDef,
    Job,
    JobError,
    bundled_job_text,
    cad_available,
    decode_job,
    decode_json,
    load_job,
    parse_job,
    part_defs,
    read_drawing,
)
