// Contours equal entry by entry, bit for bit.
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
