#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "check/check_stock.hpp"

using namespace quarvo;

namespace {

Contour rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
}

// 40 x 40, its outline a square with a corner cut, a hole and a defect.
BinShape shape() {
    BinShape s;
    s.outer = {{0, 0}, {0, 40}, {30, 40}, {40, 30}, {40, 0}, {0, 0}};
    s.holes = {rect(20, 20, 26, 26)};
    s.defects = {rect(5, 30, 10, 35)};
    return s;
}

}  // namespace

TEST(CheckStock, EachFaultWithItsAmount) {
    struct Case {
        Outline item;
        int kind;  // -1: none
        double amount;
        std::size_t ring;
    };
    const Case cases[] = {
        {polygon_outline(rect(2, 2, 6, 6)), -1, 0, 0},
        {polygon_outline(rect(1, 10, 5, 14)), StockFault::NearEdge, 1.0, 0},
        {polygon_outline(rect(-1, 10, 5, 14)), StockFault::Outside, 1.0, 0},
        {polygon_outline(rect(34, 34, 38, 38)), StockFault::Outside, 3.0 * std::sqrt(2.0), 0},  // in the cut corner
        {polygon_outline(rect(21, 21, 24, 24)), StockFault::Outside, 2.0, 1},                   // in the hole
        {polygon_outline(rect(9, 31, 14, 34)), StockFault::OnDefect, 1.0, 0},
        {polygon_outline(rect(11, 31, 14, 34)), StockFault::NearDefect, 1.0, 0},
        {circle_outline({8, 25}, 4), StockFault::NearDefect, 1.0, 0},
        {circle_outline({8, 25}, 6), StockFault::OnDefect, 1.0, 0},
    };
    for (const Case& c : cases) {
        const std::vector<StockFault> f = check_stock({c.item}, shape(), 40, 40, 2.0, 1e-9);
        if (c.kind < 0) {
            EXPECT_TRUE(f.empty());
            continue;
        }
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(f[0].kind, c.kind);
        EXPECT_NEAR(f[0].amount, c.amount, 1e-9);
        EXPECT_EQ(f[0].ring, c.ring);
    }
}
