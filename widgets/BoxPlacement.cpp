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

} // namespace

std::vector<QRect> PlaceBoxes(const QRect& area, const std::vector<QSize>& sizes,
                              const std::vector<std::optional<QPoint>>& wanted,
                              const std::vector<QRect>& taken, int gap, bool* apart) {
    if (apart) *apart = true;
    std::vector<QRect> placed = taken;
    std::vector<QRect> boxes;
    const QRect room = area.adjusted(gap, gap, -gap, -gap);
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
                const std::int64_t score =
                    want ? dx * dx + dy * dy : std::int64_t(room.right() - x) * (1 << 20) + (y - room.top());
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
