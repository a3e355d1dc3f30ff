#include "pack/rows.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "core/validate.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/placer.hpp"

namespace quarvo {

namespace {

// Metres: places along the length closer than this are one place.
constexpr double kAlong = 1e-9;

struct Span {
    double lo, hi;
};
using Spans = std::vector<Span>;  // in order, apart

Spans merged(Spans s) {
    std::sort(s.begin(), s.end(), [](const Span& a, const Span& b) { return a.lo < b.lo; });
    Spans out;
    for (const Span& x : s) {
        if (!out.empty() && x.lo <= out.back().hi + kAlong) out.back().hi = std::max(out.back().hi, x.hi);
        else out.push_back(x);
    }
    return out;
}

// The starts s that put [s, s + len] within one of `within`.
Spans starts_within(const Spans& within, double len) {
    Spans out;
    for (const Span& w : within)
        if (w.hi - w.lo >= len - kAlong) out.push_back({w.lo, std::max(w.lo, w.hi - len)});
    return merged(std::move(out));
}

Spans intersect(const Spans& a, const Spans& b) {
    Spans out;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const double lo = std::max(a[i].lo, b[j].lo), hi = std::min(a[i].hi, b[j].hi);
        if (lo <= hi + kAlong) out.push_back({lo, std::max(lo, hi)});
        if (a[i].hi < b[j].hi) ++i;
        else ++j;
    }
    return out;
}

std::string kg(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.0f kg", v);
    return buf;
}

struct Piece {
    Shape* item;
    double start, end;
    long host;  // the index of the piece whose bore holds it, -1 on the floor
};

struct Row {
    std::vector<std::size_t> pieces;  // front to back
    Shape* leader;
    long host_row;                    // the row whose bore holds it, -1 on the floor
    std::vector<std::size_t> below;   // the rows that held it up where it was placed
};

// One bin: its placer, which sees each row's first piece, and its rows.
struct RowBin {
    std::unique_ptr<Placer> placer;
    std::vector<Piece> pieces;  // in placement order
    std::vector<Row> rows;
    std::unordered_map<const Shape*, std::size_t> row_of;  // every piece -> its row
    double load = 0.0, moment = 0.0;  // kg, and kg x m about the front
};

// The least excess over a support's limit among the places refused for it;
// the placers may ask from several threads at once.
struct Blocked {
    std::mutex lock;
    double over = kInf;
    std::string why;
    void note(double amount, const std::string& reason) {
        std::lock_guard<std::mutex> hold(lock);
        if (amount < over) {
            over = amount;
            why = reason;
        }
    }
    bool any() const { return over < kInf; }
};

struct Choice {
    double start;
    double score;
};

class RowPacker {
public:
    explicit RowPacker(const FirstFit& ff)
        : ff_(ff), length_(ff.bin.length / 1000.0), gap_(ff.rows.end_gap), overhang_(ff.rows.overhang),
          supports_(ff.bin.supports) {
        std::sort(supports_.begin(), supports_.end(), [](const Support& a, const Support& b) { return a.at < b.at; });
    }

    PackResult run(const std::vector<Shape*>& order) {
        PackResult result;
        PackProgress* progress = ff_.progress;
        for (Shape* item : order) {
            const long b = offer(*item);
            if (b < 0) result.unplaced.push_back(item);
            if (progress) {
                if (b >= 0) ++progress->placed;
                progress->bins = open_.size();
                ++progress->processed;
            }
        }
        for (std::size_t k = 0; k < open_.size(); ++k) {
            RowBin& bin = open_[k];
            std::vector<Shape*> items;
            for (const Piece& p : bin.pieces) {
                const std::size_t r = bin.row_of.at(p.item);
                items.push_back(p.item);
                result.rows.push_back({p.item, k, r, p.start, p.end,
                                       p.host < 0 ? nullptr : bin.pieces[static_cast<std::size_t>(p.host)].item,
                                       bin.rows[r].leader});
            }
            result.bins.push_back(std::move(items));
        }
        result.deferred = std::move(deferred_);
        result.bin_kinds.assign(result.bins.size(), 0);  // rows take one kind of bin
        for (Shape* s : result.unplaced) {
            auto it = over_limits_.find(s);
            result.reasons.push_back(it != over_limits_.end() ? it->second : ff_.unplaced_reason(*s, result));
        }
        return result;
    }

private:
    double length_of(const Shape& s) const {
        if (s.is_pipe() && pipe_cast(s).length()) return *pipe_cast(s).length();
        return length_;
    }

    static bool same_kind(const Shape& a, const Shape& b) {
        if (!a.is_pipe() || !b.is_pipe()) return false;
        const Pipe &p = pipe_cast(a), &q = pipe_cast(b);
        return p.od() == q.od() && p.wall() == q.wall() && p.coupling_od == q.coupling_od && p.infl() == q.infl() &&
               p.length() && q.length();
    }

    // Where a row holds up what lies on it: its pieces, those less than
    // end_gap apart as one.
    Spans coverage(const RowBin& bin, const Row& row) const {
        Spans out;
        for (std::size_t i : row.pieces) {
            const Piece& p = bin.pieces[i];
            if (!out.empty() && p.start - out.back().hi <= gap_ + kAlong) out.back().hi = std::max(out.back().hi, p.end);
            else out.push_back({p.start, p.end});
        }
        return out;
    }

    // The windows of the host row's pieces, grown by the overhang, within the length.
    Spans windows(const RowBin& bin, long host_row) const {
        Spans out;
        for (std::size_t i : bin.rows[static_cast<std::size_t>(host_row)].pieces) {
            const Piece& q = bin.pieces[i];
            out.push_back({std::max(0.0, q.start - overhang_), std::min(length_, q.end + overhang_)});
        }
        return out;
    }

    long host_piece(const RowBin& bin, long host_row, double start, double len) const {
        if (host_row < 0) return -1;
        for (std::size_t i : bin.rows[static_cast<std::size_t>(host_row)].pieces) {
            const Piece& q = bin.pieces[i];
            if (start >= std::max(0.0, q.start - overhang_) - kAlong && start + len <= q.end + overhang_ + kAlong)
                return static_cast<long>(i);
        }
        return -1;
    }

    // The rows whose first pieces the mover at t touches below its centre.
    std::vector<std::size_t> below(const RowBin& bin, const Shape& mover, Pt t, long host_row) const {
        std::vector<std::size_t> out;
        if (!mover.is_circle()) return out;
        const double r = circle_cast(mover).rotated_shape().radius;
        const double slack = 1.0 / std::cos(kPi / kCircleSides) - 1.0;
        for (std::size_t k = 0; k < bin.rows.size(); ++k) {
            const Shape& leader = *bin.rows[k].leader;
            if (static_cast<long>(k) == host_row || !leader.is_circle()) continue;
            const CircleGeom g = circle_cast(leader).transformed();
            const double d = std::hypot(t.x - g.center.x, t.y - g.center.y);
            const double touch = r + g.radius;
            if (std::fabs(d - touch) <= kRestTol + touch * slack && g.center.y < t.y - 1e-9 * (1.0 + std::fabs(t.y)))
                out.push_back(k);
        }
        return out;
    }

    // The starts of a piece of length `len` that keep it in the length, in
    // its host's pieces and over the rows below it.
    Spans feasible(const RowBin& bin, long host_row, const std::vector<std::size_t>& rows_below, double len) const {
        Spans f = starts_within({{0.0, length_}}, len);
        if (host_row >= 0) f = intersect(f, starts_within(windows(bin, host_row), len));
        for (std::size_t k : rows_below) {
            // the middle half of the piece over the row: its centre well within what holds it
            Spans middle = starts_within(coverage(bin, bin.rows[k]), len / 2.0);
            for (Span& m : middle) {
                m.lo -= len / 4.0;
                m.hi -= len / 4.0;
            }
            f = intersect(f, middle);
        }
        return f;
    }

    // The best of the starts `candidates` by the supports, or none; what was
    // refused for a limit goes to `blocked`.
    std::optional<Choice> choose(const RowBin& bin, const Shape& item, double len, const std::vector<double>& candidates,
                                 Blocked* blocked) const {
        std::optional<Choice> best;
        const double m = item.mass;
        for (double s : candidates) {
            const double load = bin.load + m, moment = bin.moment + m * (s + len / 2.0);
            double score = 0.0;
            if (supports_.empty()) {
                score = load > 0.0 ? std::fabs(moment / load - length_ / 2.0) : 0.0;
            } else {
                const Support &a = supports_[0], &c = supports_[1];
                const double on_c = (moment - a.at * load) / (c.at - a.at), on_a = load - on_c;
                const double over_a = on_a - a.max_load, over_c = on_c - c.max_load;
                const double over = std::max(over_a, over_c);
                if (over > 1e-9 * std::max(1.0, load)) {
                    if (blocked) {
                        const Support& worst = over_a >= over_c ? a : c;
                        blocked->note(over, "the load on the " + worst.name + " would be " +
                                                kg(over_a >= over_c ? on_a : on_c) + ", more than its " +
                                                kg(worst.max_load));
                    }
                    continue;
                }
                score = std::max(on_a / a.max_load, on_c / c.max_load);
            }
            if (!best || score < best->score) best = Choice{s, score};
        }
        return best;
    }

    // Where the load's centre is best: between the supports where each
    // carries the same share of its limit, else the middle of the length.
    double target() const {
        if (supports_.empty()) return length_ / 2.0;
        const Support &a = supports_[0], &c = supports_[1];
        return (c.at * c.max_load + a.at * a.max_load) / (a.max_load + c.max_load);
    }

    // The starts a new row may take: both ends of each span of `f`, so that
    // the rest of the span is left whole for the row's next piece, and where
    // no second piece as long would fit, the start in it that brings the
    // load's centre nearest its target.
    std::vector<double> starts_of(const RowBin& bin, const Shape& item, double len, const Spans& f) const {
        std::vector<double> out;
        const double m = item.mass;
        const double best = m > 0.0 ? (target() * (bin.load + m) - bin.moment) / m - len / 2.0 : 0.0;
        for (const Span& s : f) {
            out.push_back(s.lo);
            if (s.hi - s.lo > kAlong) out.push_back(s.hi);
            if (m > 0.0 && best > s.lo && best < s.hi && s.hi - s.lo < len + gap_) out.push_back(best);
        }
        return out;
    }

    void record(RowBin& bin, Shape& item, std::size_t row, double start, double len, long host) {
        Row& r = bin.rows[row];
        const std::size_t index = bin.pieces.size();
        bin.pieces.push_back({&item, start, start + len, host});
        if (r.pieces.empty() || start >= bin.pieces[r.pieces.back()].start) r.pieces.push_back(index);
        else r.pieces.insert(r.pieces.begin(), index);
        bin.row_of[&item] = row;
        bin.load += item.mass;
        bin.moment += item.mass * (start + len / 2.0);
    }

    // A piece behind the row's last one, or in front of its first one.
    bool join(RowBin& bin, Shape& item, double len, Blocked& blocked) {
        for (std::size_t k = 0; k < bin.rows.size(); ++k) {
            Row& row = bin.rows[k];
            if (!same_kind(*row.leader, item)) continue;
            const Spans f = feasible(bin, row.host_row, row.below, len);
            const double behind = bin.pieces[row.pieces.back()].end + gap_;
            const double ahead = bin.pieces[row.pieces.front()].start - gap_ - len;
            std::vector<double> candidates;
            for (const Span& s : f)
                if (s.hi >= behind - kAlong) {
                    candidates.push_back(std::max(s.lo, behind));
                    break;
                }
            for (auto it = f.rbegin(); it != f.rend(); ++it)
                if (it->lo <= ahead + kAlong) {
                    candidates.push_back(std::min(it->hi, ahead));
                    break;
                }
            const std::optional<Choice> c = choose(bin, item, len, candidates, &blocked);
            if (!c) continue;
            const Shape& leader = *row.leader;
            item.set_rotation(leader.rotation());
            item.set_position(leader.tx(), leader.ty());
            record(bin, item, k, c->start, len, host_piece(bin, row.host_row, c->start, len));
            return true;
        }
        return false;
    }

    bool attempt(RowBin& bin, Shape& item, Blocked& blocked) {
        const double len = length_of(item);
        if (join(bin, item, len, blocked)) return true;
        Placer& placer = *bin.placer;
        if (placer.refuses(item)) return false;
        auto host_row_of = [&](const Shape* host) -> long {
            return host ? static_cast<long>(bin.row_of.at(host)) : -1;
        };
        const Admission admit = [&](const Shape* host, Pt t) {
            const long hr = host_row_of(host);
            return choose(bin, item, len, starts_of(bin, item, len, feasible(bin, hr, below(bin, item, t, hr), len)),
                          &blocked)
                .has_value();
        };
        PlaceRequest request;
        request.admit = &admit;
        if (!placer.trypack(item, request)) return false;
        const long hr = placer.last_host < 0 ? -1 : host_row_of(placer.packed[static_cast<std::size_t>(placer.last_host)]);
        const Pt t{item.tx(), item.ty()};
        std::vector<std::size_t> rows_below = below(bin, item, t, hr);
        const std::optional<Choice> c =
            choose(bin, item, len, starts_of(bin, item, len, feasible(bin, hr, rows_below, len)), nullptr);
        if (!c) throw std::logic_error("rows: a place the admission took has no place along");
        bin.rows.push_back({{}, &item, hr, std::move(rows_below)});
        record(bin, item, bin.rows.size() - 1, c->start, len, host_piece(bin, hr, c->start, len));
        return true;
    }

    long offer(Shape& item) {
        const Bin& bin = ff_.bin;
        if (item.mass > bin.max_load) return -1;
        if (item.is_pipe() && pipe_cast(item).length() && *pipe_cast(item).length() * 1000.0 > bin.length) return -1;
        const bool limited = bin.max_load < kInf && item.mass > 0.0;
        for (std::size_t b = 0; b < open_.size(); ++b) {
            check_cancel();
            RowBin& rb = open_[b];
            if (limited && rb.load + item.mass > bin.max_load) continue;
            Blocked blocked;
            if (attempt(rb, item, blocked)) return static_cast<long>(b);
            if (blocked.any()) deferred_.push_back({&item, b, blocked.why});
        }
        check_cancel();
        RowBin fresh;
        fresh.placer = ff_.make_bin();
        Blocked blocked;
        if (attempt(fresh, item, blocked)) {
            open_.push_back(std::move(fresh));
            return static_cast<long>(open_.size() - 1);
        }
        if (blocked.any()) over_limits_[&item] = blocked.why + ", even alone in an empty bin";
        return -1;
    }

    const FirstFit& ff_;
    const double length_;  // m
    const double gap_, overhang_;
    std::vector<Support> supports_;  // front to back
    std::vector<RowBin> open_;
    std::vector<Deferral> deferred_;
    std::unordered_map<const Shape*, std::string> over_limits_;
};

}  // namespace

void require_sound_rows(const FirstFit& ff, bool improver) {
    const std::vector<Support>& s = ff.bin.supports;
    if (!ff.rows.on) {
        if (!s.empty()) throw ValueError("bin.supports: the load on supports is found along rows: it needs rows=True");
        return;
    }
    check_options(ff.rows);
    if (ff.strip()) throw ValueError("rows=True needs a bin with a height: a strip has no rows to fill");
    if (!(ff.bin.length < kInf)) throw ValueError("rows=True needs a bin with a length (bin.length, mm)");
    if (ff.strategy != Strategy::Nfp)
        throw ValueError("rows=True needs strategy='nfp': the bottom-left slide cannot keep a row within its host");
    if (improver)
        throw ValueError("rows=True cannot go with time_limit, iterations or compress: the phases after the "
                         "greedy pass move items without their rows");
    if (s.empty()) return;
    if (s.size() != 2) throw ValueError("bin.supports: " + std::to_string(s.size()) + " given, not none or two");
    for (const Support& x : s) {
        require_value(x.at, "bin.supports (" + x.name + ")", "at");
        if (!(x.max_load > 0.0 && x.max_load < kInf))
            throw ValueError("bin.supports (" + x.name + "): max_load is " + format_number(x.max_load) +
                             ", not a positive number of kg");
    }
    if (s[0].at == s[1].at) throw ValueError("bin.supports: both lie " + format_number(s[0].at) + " m from the front");
}

PackResult pack_in_rows(const FirstFit& ff, const std::vector<Shape*>& order) { return RowPacker(ff).run(order); }

}  // namespace quarvo
