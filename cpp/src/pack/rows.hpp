// The greedy pass with rows along the bin's length (RowOptions).
//
// One place of the cross-section holds a row of pieces end to end, end_gap
// apart, within the bin's length. The pieces of a row share their cross-
// section: pipes of one outer diameter, wall, coupling and spacing (their
// lengths and masses may differ); any other item, and a pipe without a
// length, is a row of its own that takes the whole length. An item is
// offered to the open bins in order; in each it joins the first row of its
// kind that has room behind its last piece or in front of its first one,
// else the bin's placer looks for a new place in the section, and the new row
// lies where the rules below let it.
//
// Along the length a piece lies
// - within the bin's length;
// - in a bore, within one piece of the host row, but for `overhang` at
//   either end (several pieces may lie end to end in one longer host);
// - with the middle half of its length over every row that holds it up from
//   below (the circles it touches below its centre where it was placed;
//   pieces of such a row end_gap apart count as one), so that its centre of
//   gravity lies well within what holds it and no end overhangs a row below
//   by more than a quarter of its length; the floor, the walls and the
//   host's bore hold it everywhere;
// - where the load it adds keeps every support of the bin within its limit,
//   and, of the places left, where the most loaded support carries the
//   smallest share of its limit (without supports: where the load's centre
//   comes nearest the middle of the length); the first of equal places. A
//   new row tries the two ends of each stretch it may take (leaving the rest
//   whole for the row's next piece) and, where no second piece as long would
//   fit, the place in it that brings the load's centre nearest that best
//   point; a piece joining a row lies right behind its last piece or right in
//   front of its first one.
// A bin that has room for an item but no place that keeps its supports
// within their limits passes it on to the next, and says why.
#pragma once
#include <vector>

#include "quarvo/first_fit.hpp"

namespace quarvo {

// ValueError for a bin, options or a phase after the greedy pass that rows
// cannot work with, and for supports without rows.
void require_sound_rows(const FirstFit& ff, bool improver);
// The greedy pass of `ff` with rows over the items in packing order, every
// item inflated already; the reasons of the unplaced items included.
PackResult pack_in_rows(const FirstFit& ff, const std::vector<Shape*>& order);

}  // namespace quarvo
