// SPDX-License-Identifier: GPL-3.0-or-later
// Placing boxes among others: the candidate places are the area's edges and the edges of the boxes already
// placed, so a free place next to them is found whenever one exists on that grid.
#include "widgets/BoxPlacement.h"

#include <algorithm>
#include <tuple>
#include <utility>
#include <cstdint>
#include <limits>
#include <queue>

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

// The boxes placed, found by the cells of a coarse grid they cover: whether a box is clear of them costs a look
// at the few that share its cells, whatever their number.
class tPlaced {
public:
    tPlaced(const QRect& area, int gap)
        : FOrigin(area.topLeft() - QPoint(gap, gap)), FColumns(std::max(1, (area.width() + 2 * gap) / kCell + 1)),
          FRows(std::max(1, (area.height() + 2 * gap) / kCell + 1)), FCells(std::size_t(FColumns) * std::size_t(FRows)) {}
    void Add(const QRect& box) {
        const int index = int(FBoxes.size());
        FBoxes.push_back(box);
        Visit(box, [&](std::vector<int>& cell) { cell.push_back(index); });
    }
    bool Clear(const QRect& spaced) const {
        bool clear = true;
        Visit(spaced, [&](const std::vector<int>& cell) {
            for (const int k : cell)
                if (clear && spaced.intersects(FBoxes[std::size_t(k)])) clear = false;
        });
        return clear;
    }

private:
    static constexpr int kCell = 64;
    template <typename F>
    void Visit(const QRect& box, F&& f) const {
        const int c0 = std::clamp((box.left() - FOrigin.x()) / kCell, 0, FColumns - 1);
        const int c1 = std::clamp((box.right() - FOrigin.x()) / kCell, 0, FColumns - 1);
        const int r0 = std::clamp((box.top() - FOrigin.y()) / kCell, 0, FRows - 1);
        const int r1 = std::clamp((box.bottom() - FOrigin.y()) / kCell, 0, FRows - 1);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) f(FCells[std::size_t(r) * std::size_t(FColumns) + std::size_t(c)]);
    }
    template <typename F>
    void Visit(const QRect& box, F&& f) {
        std::as_const(*this).Visit(box, [&](const std::vector<int>& cell) { f(const_cast<std::vector<int>&>(cell)); });
    }
    QPoint FOrigin;
    int FColumns, FRows;
    std::vector<std::vector<int>> FCells;
    std::vector<QRect> FBoxes;
};

// Coordinates of candidate places in the order they were proposed, each once, those that keep a box of `length`
// within [low, high] alone; with the place in that order each first stood (which breaks ties as proposing
// them in order would).
std::vector<std::pair<int, int>> Coordinates(const std::vector<int>& proposed, int low, int high) {
    std::vector<std::pair<int, int>> kept;
    for (std::size_t i = 0; i < proposed.size(); ++i)
        if (proposed[i] >= low && proposed[i] <= high) kept.emplace_back(proposed[i], int(i));
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    kept.erase(std::unique(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
               kept.end());
    return kept;
}

} // namespace

std::vector<QRect> PlaceBoxes(const QRect& area, const std::vector<QSize>& sizes,
                              const std::vector<std::optional<QPoint>>& wanted,
                              const std::vector<QRect>& taken, int gap, bool* apart,
                              const std::vector<QPoint>& curve) {
    if (apart) *apart = true;
    std::vector<QRect> placed = taken;
    tPlaced index(area, gap);
    for (const QRect& t : taken) index.Add(t);
    std::vector<QRect> boxes;
    const QRect room = area.adjusted(gap, gap, -gap, -gap);
    // Only boxes without a place of their own look for the curve.
    const bool placing = wanted.size() < sizes.size() ||
                         std::any_of(wanted.begin(), wanted.end(), [](const auto& w) { return !w; });
    const tDensity density(area, placing ? curve : std::vector<QPoint>());
    // Sizes of boxes that found no place: a box as large in both ways finds none but in its own column or row
    // (each of its other places holds a place of the smaller one), and more boxes placed take places away.
    std::vector<QSize> homeless;
    struct tCandidate {
        std::int64_t Score;
        int Ix, Iy;
        QRect Box;
    };
    std::vector<tCandidate> candidates;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const QSize size = sizes[i].boundedTo(room.size().expandedTo(QSize(1, 1)));
        const std::optional<QPoint> want = i < wanted.size() ? wanted[i] : std::nullopt;
        const QPoint corner(room.right() + 1 - size.width(), room.top());
        const QPoint target = want ? Inside(QRect(*want, size), room).topLeft() : corner;
        std::optional<QRect> best;
        const bool hopeless = std::any_of(homeless.begin(), homeless.end(), [&](const QSize& h) {
            return h.width() <= size.width() && h.height() <= size.height();
        });
        {
            std::vector<int> xs{target.x(), room.left(), room.right() + 1 - size.width()};
            std::vector<int> ys{target.y(), room.top(), room.bottom() + 1 - size.height()};
            // Clear of the curve, a box may stand anywhere: places on an even grid across the area too.
            if (!want && !curve.empty())
                for (int k = 1; k < 8; ++k) {
                    xs.push_back(room.left() + (room.width() - size.width()) * k / 8);
                    ys.push_back(room.top() + (room.height() - size.height()) * k / 8);
                }
            for (const QRect& p : placed) {
                xs.push_back(p.left() - gap - size.width());
                xs.push_back(p.right() + 1 + gap);
                ys.push_back(p.top());
                ys.push_back(p.top() - gap - size.height());
                ys.push_back(p.bottom() + 1 + gap);
            }
            // Only places inside the room are free.
            auto columns = Coordinates(xs, room.left(), room.right() + 1 - size.width());
            auto rows = Coordinates(ys, room.top(), room.bottom() + 1 - size.height());
            const auto free = [&](const QRect& box) { return index.Clear(box.adjusted(-gap, -gap, gap, gap)); };
            // Nearest to the wanted corner; without one, clear of the curve, then the rightmost column first,
            // from the top. Ties go to the place proposed first.
            const auto score = [&](const QRect& box) -> std::int64_t {
                const std::int64_t dx = box.x() - target.x(), dy = box.y() - target.y();
                return want ? dx * dx + dy * dy
                            : (density.Count(box) << 40) + std::int64_t(room.right() - box.x()) * (1 << 20) +
                                  (box.y() - room.top());
            };
            if (hopeless) {
                // Only a place in the box's own column or row (its wanted corner's, or the even grid's) may be
                // free: every other holds a place of the smaller box that found none.
                std::vector<int> ownXs{target.x()}, ownYs{target.y()};
                for (std::size_t k = 3; k < 10 && !want && !curve.empty(); ++k)
                    ownXs.push_back(xs[k]), ownYs.push_back(ys[k]);
                const auto own = [](const auto& values, const auto& v) {
                    return std::find(values.begin(), values.end(), v) != values.end();
                };
                // The rows of the box's own ys (rows are in the order of their values).
                std::vector<std::pair<int, int>> ownRows;
                for (const int y : ownYs) {
                    const auto found = std::lower_bound(rows.begin(), rows.end(), std::pair(y, -1));
                    if (found != rows.end() && found->first == y && !own(ownRows, *found)) ownRows.push_back(*found);
                }
                candidates.clear();
                for (const auto& [x, ix] : columns)
                    for (const auto& [y, iy] : own(ownXs, x) ? rows : ownRows) {
                        const QRect box(QPoint(x, y), size);
                        candidates.push_back({score(box), ix, iy, box});
                    }
                std::sort(candidates.begin(), candidates.end(), [](const tCandidate& a, const tCandidate& b) {
                    return std::tie(a.Score, a.Ix, a.Iy) < std::tie(b.Score, b.Ix, b.Iy);
                });
                for (const tCandidate& c : candidates)
                    if (free(c.Box)) {
                        best = c.Box;
                        break;
                    }
            } else if (want) {
                // Places in the order of their distance: each column's places nearest first, the columns merged.
                const auto nearest = [](int to) {
                    return [to](const auto& a, const auto& b) {
                        return std::pair(std::abs(a.first - to), a.second) < std::pair(std::abs(b.first - to), b.second);
                    };
                };
                std::sort(rows.begin(), rows.end(), nearest(target.y()));
                struct tNext {
                    std::int64_t Score;
                    int Ix, Iy;
                    std::size_t Column, Row;
                    bool operator>(const tNext& o) const {
                        return std::tie(Score, Ix, Iy) > std::tie(o.Score, o.Ix, o.Iy);
                    }
                };
                std::priority_queue<tNext, std::vector<tNext>, std::greater<>> next;
                const auto push = [&](std::size_t c, std::size_t r) {
                    if (r >= rows.size()) return;
                    const std::int64_t dx = columns[c].first - target.x(), dy = rows[r].first - target.y();
                    next.push({dx * dx + dy * dy, columns[c].second, rows[r].second, c, r});
                };
                for (std::size_t c = 0; c < columns.size(); ++c) push(c, 0);
                while (!next.empty()) {
                    const tNext n = next.top();
                    next.pop();
                    const QRect box(QPoint(columns[n.Column].first, rows[n.Row].first), size);
                    if (free(box)) {
                        best = box;
                        break;
                    }
                    push(n.Column, n.Row + 1);
                }
            } else {
                // The rightmost column first, from the top; a place over fewer of the curve's points before it.
                std::int64_t fewest = std::numeric_limits<std::int64_t>::max();
                for (auto x = columns.rbegin(); x != columns.rend() && fewest > 0; ++x)
                    for (const auto& [y, iy] : rows) {
                        const QRect box(QPoint(x->first, y), size);
                        const std::int64_t covered = density.Count(box);
                        if (covered >= fewest || !free(box)) continue;
                        fewest = covered;
                        best = box;
                        if (covered == 0) break;
                    }
            }
            if (!best) homeless.push_back(size);
        }
        if (!best && apart) *apart = false;
        const QRect box = best ? *best : Inside(QRect(target, size), room);
        boxes.push_back(box);
        placed.push_back(box);
        index.Add(box);
    }
    return boxes;
}
