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
from Quarvo.report.sheets import from_drawings
from Quarvo.report.summary import bin_name, kg, length_text, max_load_of, plan_lines, title

PAPERS = {"a4": (8.27, 11.69), "letter": (8.5, 11.0)}

_MARGIN = 0.55  # inches round the page
_BODY = 8.0
_SMALL = 6.5
_HEAD = 13.0
_TABLE_COLUMNS = ("No.", "id", "size or part", "mass kg", "host", "lift")
# The picture takes at most this share of a bin's page; the table the rest.
_PICTURE_SHARE = 0.5


def bin_of(result, k):
    from Quarvo.job.packing import bin_of as of

    return of(result, k)


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
        share = f", {100 * b['load_share']:.1f} % of the payload of {kg(max_load_of(result, k))}" \
            if "load_share" in b else ""
        lines.append(f"mass {kg(b['mass'])}{share}")
    items = [e.shape for e in result.bins[k]]
    if items:
        from Quarvo.first_fit_algorithm import used_length

        top = used_length(items)
        height = f"load height {length_text(top, job.unit)}{unit}"
        bin_h = job.bin_h if job.kinds is None else bin_of(result, k).height
        if bin_h is not None:
            height += f", {length_text(bin_h - top, job.unit)}{unit} free above"
        lines.append(height)
    lines.append(f"fill {100 * b['fill_ratio']:.1f} % (material over the bin's "
                 f"{'usable area' if job.kinds is not None else 'area'})")
    if from_drawings(job):
        from Quarvo.report.sheets import sheet_reports

        r = sheet_reports(result)[k]
        line = f"utilisation {100 * r.utilisation:.1f} % (on the drawn curves), used length " \
            f"{length_text(r.used_length, job.unit)}{unit}"
        if r.leftover is not None:
            x, y, w, h = r.leftover
            line += f", leftover {length_text(w, job.unit)} x {length_text(h, job.unit)}{unit} at " \
                f"({length_text(x, job.unit)}, {length_text(y, job.unit)})"
        lines.append(line)
    if "cog" in b:
        c = b["cog"]
        lines.append(f"centre of gravity {c['along']:.2f} m from the front, x {length_text(c['x'], job.unit)}, "
                     f"y {length_text(c['y'], job.unit)}{unit}")
    if "axle_loads" in b:
        limits = b.get("axle_limits", {})
        lines.append("axle loads: " + ", ".join(
            f"{name} {kg(load)}" + (f" of {kg(limits[name])}" if name in limits else "")
            for name, load in b["axle_loads"].items()))
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

    from Quarvo.pictures.plan import draw_bin, kind_looks
    from Quarvo.pictures.side import draw_side
    from Quarvo.report.loading import side_views

    doc = result_document(result)
    job = result.job
    size = PAPERS[paper]
    numbers = {id(e.shape): str(e.number) for b in result.bins for e in b}
    kinds = [i.id for i in job.items]
    sides = side_views(result) if job.rows else None
    side_looks = kind_looks(kinds)
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
        if result.plan is not None:
            lines += [""] + [line.strip() for line in plan_lines(result)]
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
            stock = None if job.kinds is None else bin_of(result, k)
            bin_w, bin_h = (job.bin_w, job.bin_h) if stock is None else (stock.width, stock.height)
            side = sides[k] if sides else None
            # with pieces along the deck, the side view under the section takes a share of the picture
            section_h = pic_h * (0.68 if side is not None else 1.0)
            ax, drawn_h = draw_bin(fig, (mx + 0.04, pic_top - section_h, 1 - 2 * mx - 0.06, section_h), items,
                                   bin_w, bin_h, kinds=kinds, label=lambda it: numbers.get(id(it)),
                                   unit=job.unit or "mm", font=_SMALL, hatched=True, crop=stock is None, stock=stock)
            bottom = ax.get_position().y0
            if side is not None:
                box = ax.get_position()
                side_h = pic_h - section_h - 0.05
                side_ax = fig.add_axes((mx + 0.04, box.y0 - 0.04 - side_h, 1 - 2 * mx - 0.06, side_h))
                draw_side(side_ax, side, drawn_h, side_looks, lambda m: kg(m))
                bottom = side_ax.get_position().y0
            # the totals right under the picture (below its axis labels), the table under them
            t_top = bottom - 0.045
            totals = _totals(result, k, doc)
            fig.text(mx, t_top, "\n".join(totals), fontsize=_BODY, va="top", linespacing=1.4)
            rows = _text_rows(result, k, doc)
            font = _BODY if len(rows) <= 40 else _SMALL if len(rows) <= 120 else 5.0
            _table(fig, rows, t_top - len(totals) * _BODY * 1.45 / 72.0 / fh - 0.02, my, mx, 1 - mx, font)
            pdf.savefig(fig)
            plt.close(fig)
