// Contours equal entry by entry, bit for bit; boxes equal side by side; and the
// axis-parallel rectangle most tests build from.
#pragma once
#include <gtest/gtest.h>

#include "quarvo/kernel.hpp"

inline void expect_contour(const quarvo::Contour& got, const quarvo::Contour& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].x, want[i].x) << "entry " << i;
        EXPECT_EQ(got[i].y, want[i].y) << "entry " << i;
    }
}

inline void expect_box(const quarvo::Contour& c, quarvo::BBox want) {
    const quarvo::BBox b = quarvo::polygon_bbox(c);
    EXPECT_DOUBLE_EQ(b.minx, want.minx);
    EXPECT_DOUBLE_EQ(b.miny, want.miny);
    EXPECT_DOUBLE_EQ(b.maxx, want.maxx);
    EXPECT_DOUBLE_EQ(b.maxy, want.maxy);
}

// Clockwise, closed.
inline quarvo::Contour rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
}
