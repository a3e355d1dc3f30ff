#include <gtest/gtest.h>

#include "quarvo/kernel.hpp"

using namespace quarvo;

TEST(PolysIntersect, ConvexPairsAreTheSeparatingAxisAnswer) {
    Contour a = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
    Contour touching = {{1, 0}, {1, 1}, {2, 1}, {2, 0}, {1, 0}};
    Contour apart = {{1.5, 0}, {1.5, 1}, {2, 1}, {2, 0}, {1.5, 0}};
    EXPECT_EQ(polys_intersect(a, touching), sat_intersects(a, touching));
    EXPECT_TRUE(polys_intersect(a, touching));
    EXPECT_FALSE(polys_intersect(a, apart));
    // Two collinear segments: the separating-axis test sees no gap on their
    // common normal and answers true although their boxes are apart.
    Contour s1 = {{0, 0}, {1, 1}, {0, 0}}, s2 = {{2, 2}, {3, 3}, {2, 2}};
    EXPECT_TRUE(sat_intersects(s1, s2));
    EXPECT_TRUE(polys_intersect(s1, s2));
}

TEST(PolysIntersect, NonConvexCases) {
    Contour l = {{0, 0}, {0, 10}, {2, 10}, {2, 2}, {10, 2}, {10, 0}, {0, 0}};
    Contour corner_on_edge = {{2, 5}, {4, 7}, {6, 5}, {4, 3}, {2, 5}};  // left corner on the L's inner edge
    EXPECT_TRUE(polys_intersect(l, corner_on_edge));
    Contour in_the_bend = {{4, 4}, {4, 8}, {8, 8}, {8, 4}, {4, 4}};
    EXPECT_FALSE(polys_intersect(l, in_the_bend));
    Contour u = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {8, 0}, {8, 8}, {2, 8}, {2, 0}, {0, 0}};
    Contour inside_wall = {{0.5, 1}, {0.5, 2}, {1.5, 2}, {1.5, 1}, {0.5, 1}};
    EXPECT_TRUE(polys_intersect(u, inside_wall));
    EXPECT_TRUE(polys_intersect(inside_wall, u));
    Contour bowtie = {{0, 0}, {4, 4}, {4, 0}, {0, 4}, {0, 0}};
    Contour in_lobe = {{3, 1.5}, {3, 2.5}, {3.5, 2.5}, {3.5, 1.5}, {3, 1.5}};
    EXPECT_TRUE(polys_intersect(bowtie, in_lobe));
}
