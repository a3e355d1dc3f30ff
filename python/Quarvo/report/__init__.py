"""Reporting a packed job: the summary, the result document, the load table
and the files the command line writes (picture, document, drawing, table).

``load_table(result)`` and ``load_table_csv(result)`` take the result of
``Quarvo.job.packing.pack`` or its result document; ``pack_job(job)``
packs a job as the command line does and gives all of it."""
from Quarvo.report.document import bin_plan, loading_check, placement_record, result_document  # noqa: F401
from Quarvo.report.outputs import write_load_table, write_outputs  # noqa: F401
from Quarvo.report.packed import PackedJob, pack_job  # noqa: F401
from Quarvo.report.pdf import write_pdf  # noqa: F401
from Quarvo.report.summary import summary_lines, unplaced_reason  # noqa: F401
from Quarvo.report.table import TABLE_COLUMNS, load_table, load_table_csv  # noqa: F401
