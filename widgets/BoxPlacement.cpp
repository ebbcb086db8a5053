// SPDX-License-Identifier: GPL-3.0-or-later
// Placing boxes among others: the candidate places are the area's edges and the edges of the boxes already
// placed, so a free place next to them is found whenever one exists on that grid.
#include "widgets/BoxPlacement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

QRect Inside(QRect box, const QRect& area) {
    if (box.right() > area.right()) box.moveRight(area.right());
    if (box.bottom() > area.bottom()) box.moveBottom(area.bottom());
    box.moveLeft(std::max(box.left(), area.left()));
    box.moveTop(std::max(box.top(), area.top()));
    return box;
}

// How many points stand in a rectangle, counted in cells of 8 × 8 pixels through sums from the top left
// corner: a count costs four look-ups whatever the number of points.
class tDensity {
public:
    tDensity(const QRect& area, const std::vector<QPoint>& points)
        : FOrigin(area.topLeft()), FColumns(area.width() / kCell + 2), FRows(area.height() / kCell + 2),
          FSums(points.empty() ? 0 : std::size_t(FColumns + 1) * std::size_t(FRows + 1), 0) {
        if (points.empty()) return;
        for (const QPoint& point : points) {
            const int c = (point.x() - FOrigin.x()) / kCell, r = (point.y() - FOrigin.y()) / kCell;
            if (point.x() >= FOrigin.x() && point.y() >= FOrigin.y() && c < FColumns && r < FRows)
                ++At(c + 1, r + 1);
        }
        for (int r = 1; r <= FRows; ++r)
            for (int c = 1; c <= FColumns; ++c) At(c, r) += At(c - 1, r) + At(c, r - 1) - At(c - 1, r - 1);
    }
    std::int64_t Count(const QRect& box) const {
        if (FSums.empty()) return 0;
        const int c0 = Clamp((box.left() - FOrigin.x()) / kCell, FColumns);
        const int r0 = Clamp((box.top() - FOrigin.y()) / kCell, FRows);
        const int c1 = Clamp((box.right() - FOrigin.x()) / kCell + 1, FColumns);
        const int r1 = Clamp((box.bottom() - FOrigin.y()) / kCell + 1, FRows);
        return Sum(c1, r1) - Sum(c0, r1) - Sum(c1, r0) + Sum(c0, r0);
    }

private:
    static constexpr int kCell = 8;
    static int Clamp(int v, int high) { return std::clamp(v, 0, high); }
    std::int64_t& At(int c, int r) {
        return FSums[std::size_t(r) * std::size_t(FColumns + 1) + std::size_t(c)];
    }
    std::int64_t Sum(int c, int r) const {
        return FSums[std::size_t(r) * std::size_t(FColumns + 1) + std::size_t(c)];
    }
    QPoint FOrigin;
    int FColumns, FRows;
    std::vector<std::int64_t> FSums;
};

} // namespace

std::vector<QRect> PlaceBoxes(const QRect& area, const std::vector<QSize>& sizes,
                              const std::vector<std::optional<QPoint>>& wanted,
                              const std::vector<QRect>& taken, int gap, bool* apart,
                              const std::vector<QPoint>& curve) {
    if (apart) *apart = true;
    std::vector<QRect> placed = taken;
    std::vector<QRect> boxes;
    const QRect room = area.adjusted(gap, gap, -gap, -gap);
    // Only boxes without a place of their own look for the curve.
    const bool placing = wanted.size() < sizes.size() ||
                         std::any_of(wanted.begin(), wanted.end(), [](const auto& w) { return !w; });
    const tDensity density(area, placing ? curve : std::vector<QPoint>());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const QSize size = sizes[i].boundedTo(room.size().expandedTo(QSize(1, 1)));
        const std::optional<QPoint> want = i < wanted.size() ? wanted[i] : std::nullopt;
        const QPoint corner(room.right() + 1 - size.width(), room.top());
        const QPoint target = want ? Inside(QRect(*want, size), room).topLeft() : corner;
        const auto free = [&](const QRect& box) {
            if (!room.contains(box)) return false;
            const QRect spaced = box.adjusted(-gap, -gap, gap, gap);
            return std::none_of(placed.begin(), placed.end(),
                                [&](const QRect& p) { return spaced.intersects(p); });
        };
        std::vector<int> xs{target.x(), room.left(), room.right() + 1 - size.width()};
        std::vector<int> ys{target.y(), room.top(), room.bottom() + 1 - size.height()};
        // Clear of the curve, a box may stand anywhere: places on an even grid across the area too.
        if (!want && !curve.empty())
            for (int k = 1; k < 8; ++k) {
                xs.push_back(room.left() + (room.width() - size.width()) * k / 8);
                ys.push_back(room.top() + (room.height() - size.height()) * k / 8);
            }
        const auto covered = [&](const QRect& box) { return density.Count(box); };
        for (const QRect& p : placed) {
            xs.push_back(p.left() - gap - size.width());
            xs.push_back(p.right() + 1 + gap);
            ys.push_back(p.top());
            ys.push_back(p.top() - gap - size.height());
            ys.push_back(p.bottom() + 1 + gap);
        }
        std::optional<QRect> best;
        std::int64_t bestScore = std::numeric_limits<std::int64_t>::max();
        for (const int x : xs)
            for (const int y : ys) {
                const QRect box(QPoint(x, y), size);
                if (!free(box)) continue;
                // Nearest to the wanted corner; without one, the rightmost column first, from the top.
                const std::int64_t dx = x - target.x(), dy = y - target.y();
                const std::int64_t score = want ? dx * dx + dy * dy
                                                : (covered(box) << 40) +
                                                      std::int64_t(room.right() - x) * (1 << 20) +
                                                      (y - room.top());
                if (score < bestScore) {
                    bestScore = score;
                    best = box;
                }
            }
        if (!best && apart) *apart = false;
        const QRect box = best ? *best : Inside(QRect(target, size), room);
        boxes.push_back(box);
        placed.push_back(box);
    }
    return boxes;
}
