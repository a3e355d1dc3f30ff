"""The printable plan: a cover page and one page per bin, A4 or letter,
through matplotlib's PDF backend.

The cover gives the job, the date and the totals (bins, pieces, mass, the
check's verdict); each bin's page its picture (every item numbered as in the
load table, inside it or on a leader line), its table (number, id, size or
part, mass, host, lift) and its totals. The numbers are the items' numbers
of the result document, the CSV and the picture. Text stays text (TrueType
fonts), and every kind also gets a hatching, so a page reads printed in black
and white.
"""
import datetime

from Quarvo.report.document import result_document
from Quarvo.report.summary import kg, length_text, title

PAPERS = {"a4": (8.27, 11.69), "letter": (8.5, 11.0)}

_MARGIN = 0.55  # inches round the page
_BODY = 8.0
_SMALL = 6.5
_HEAD = 13.0
_TABLE_COLUMNS = ("No.", "id", "size or part", "mass kg", "host", "lift")
# The picture takes at most this share of a bin's page; the table the rest.
_PICTURE_SHARE = 0.5


def bin_name(result, k):
    """A bin as people name it: its carrier or sheet, and its number (from 1)."""
    job = result.job
    if job.carrier:
        return f"{job.carrier} #{k + 1}"
    if job.bin_h is None:
        return f"strip {k + 1}"
    return f"bin {k + 1}"


def _text_rows(result, k, doc):
    """The table of bin k: one row per item in loading order (the load table's order)."""
    placements = {p["item"]: p for p in doc["placements"]}
    rows = []
    for lift in doc["bins"][k]["lifts"]:
        for number in [s["item"] for s in lift["order"]] + [lift["item"]]:
            p = placements[number]
            host = p.get("host")
            rows.append((str(number), str(p["id"]), p.get("size", ""), f"{p['mass']:.1f}" if p["mass"] else "",
                         "" if host is None else str(host["item"]), str(lift["lift"])))
    return rows


def _totals(result, k, doc):
    job, b = result.job, doc["bins"][k]
    unit = f" {job.unit}" if job.unit else ""
    lines = [f"{b['items']} items in {len(b['lifts'])} lifts"]
    if b["mass"]:
        share = f", {100 * b['load_share']:.1f} % of the payload of {kg(job.max_load)}" if "load_share" in b else ""
        lines.append(f"mass {kg(b['mass'])}{share}")
    items = [e.shape for e in result.bins[k]]
    if items:
        from Quarvo.first_fit_algorithm import used_length

        top = used_length(items)
        height = f"load height {length_text(top, job.unit)}{unit}"
        if job.bin_h is not None:
            height += f", {length_text(job.bin_h - top, job.unit)}{unit} free above"
        lines.append(height)
    lines.append(f"fill {100 * b['fill_ratio']:.1f} % (material over the bin's area)")
    for key, what in (("cog", "centre of gravity"), ("axle_loads", "axle loads")):
        if key in b:
            lines.append(f"{what}: {b[key]}")
    return lines


def _table(fig, rows, top, bottom, left, right, font):
    """Rows in columns of a grid filling the space from top to bottom (figure
    fractions), as many side by side as the rows need."""
    fw, fh = fig.get_size_inches()
    line = font * 1.35 / 72.0 / fh
    per_column = max(1, int((top - bottom) / line) - 1)
    blocks = -(-len(rows) // per_column) if rows else 1
    width = (right - left) / blocks
    shares = (0.07, 0.22, 0.37, 0.13, 0.08, 0.07)
    for b in range(blocks):
        x0 = left + b * width
        chunk = rows[b * per_column:(b + 1) * per_column]
        for c, head in enumerate(_TABLE_COLUMNS):
            x = x0 + sum(shares[:c]) * width
            fig.text(x, top, head, fontsize=font, weight="bold", va="top")
            for r, row in enumerate(chunk):
                text = row[c]
                limit = int(shares[c] * width * fw * 72 / (0.55 * font))
                if len(text) > limit:
                    text = text[: max(1, limit - 1)] + "\u2026"
                fig.text(x, top - (r + 1) * line, text, fontsize=font, va="top")


def write_pdf(result, path, paper="a4"):
    """The printable plan of a packed job (``Quarvo.job.packing.pack``'s
    result) into ``path``: a cover page and one page per bin."""
    if paper not in PAPERS:
        raise ValueError(f"paper must be one of {', '.join(PAPERS)}, got {paper!r}")
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.backends.backend_pdf import PdfPages

    from Quarvo.pictures.plan import draw_bin

    doc = result_document(result)
    job = result.job
    size = PAPERS[paper]
    numbers = {id(e.shape): str(e.number) for b in result.bins for e in b}
    kinds = [i.id for i in job.items]
    for b in result.bins:
        for e in b:
            e.shape.kind = e.idef.id
    with matplotlib.rc_context({"pdf.fonttype": 42, "font.size": _BODY}), PdfPages(path) as pdf:
        fw, fh = size
        mx, my = _MARGIN / fw, _MARGIN / fh
        # the cover
        fig = plt.figure(figsize=size)
        fig.text(mx, 1 - my, title(job), fontsize=_HEAD * 1.4, weight="bold", va="top")
        lines = [f"load plan of {datetime.date.today().isoformat()}", "",
                 f"{len(result.entries)} pieces: {result.placed} placed in {len(result.bins)} bins, "
                 f"{len(result.unplaced)} unplaced"]
        mass = sum(b["mass"] for b in doc["bins"])
        if mass:
            lines.append(f"mass placed {kg(mass)}")
        if result.check is not None:
            lines.append(result.check.summary(max_lines=3).splitlines()[0])
        lines += ["", "bins:"]
        for k, b in enumerate(doc["bins"]):
            share = f", {100 * b['load_share']:.1f} % of payload" if "load_share" in b else ""
            lines.append(f"  {bin_name(result, k)}: {b['items']} items, {kg(b['mass']) if b['mass'] else 'no mass'}"
                         f"{share}, fill {100 * b['fill_ratio']:.1f} %")
        if doc["unplaced"]:
            lines += ["", "unplaced:"] + [f"  {u['item']} ({u['id']}): {u['reason']}" for u in doc["unplaced"][:40]]
            if len(doc["unplaced"]) > 40:
                lines.append(f"  ... and {len(doc['unplaced']) - 40} more")
        fig.text(mx, 1 - my - 0.06, "\n".join(lines), fontsize=_BODY + 1, va="top", linespacing=1.5)
        pdf.savefig(fig)
        plt.close(fig)
        for k, entries in enumerate(result.bins):
            fig = plt.figure(figsize=size)
            fig.text(mx, 1 - my, f"{title(job)}: {bin_name(result, k)}", fontsize=_HEAD, weight="bold", va="top")
            head_h = 0.05
            pic_top = 1 - my - head_h
            pic_h = _PICTURE_SHARE * (1 - 2 * my - head_h)
            items = [e.shape for e in entries]
            ax, _ = draw_bin(fig, (mx + 0.04, pic_top - pic_h, 1 - 2 * mx - 0.06, pic_h), items, job.bin_w,
                             job.bin_h, kinds=kinds, label=lambda it: numbers.get(id(it)), unit=job.unit or "mm",
                             font=_SMALL, hatched=True)
            # the totals right under the picture (below its axis labels), the table under them
            t_top = ax.get_position().y0 - 0.045
            totals = _totals(result, k, doc)
            fig.text(mx, t_top, "\n".join(totals), fontsize=_BODY, va="top", linespacing=1.4)
            rows = _text_rows(result, k, doc)
            font = _BODY if len(rows) <= 40 else _SMALL if len(rows) <= 120 else 5.0
            _table(fig, rows, t_top - len(totals) * _BODY * 1.45 / 72.0 / fh - 0.02, my, mx, 1 - mx, font)
            pdf.savefig(fig)
            plt.close(fig)
