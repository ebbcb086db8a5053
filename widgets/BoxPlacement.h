// SPDX-License-Identifier: GPL-3.0-or-later
// Where the boxes of text on a chart stand: inside its plotting area, none covering another while there is
// room.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>
#include <vector>

// Places boxes of `sizes` in `area` in their order, `gap` pixels apart and clear of the rectangles `taken`.
// A box with a wanted top left corner stands there when it covers nothing placed before it, else in the free
// place nearest to it; a box without one takes the first free place from the top right corner down, then
// column by column to the left. A box that finds no free place keeps its wanted place (or the top right
// corner), moved inside the area; `apart` tells whether every box found a free place. A box without a wanted
// place stands, among the free places, where it covers the fewest of the `curve`'s points (pixels of the
// lines drawn), the first of those in the order above.
std::vector<QRect> PlaceBoxes(const QRect& area, const std::vector<QSize>& sizes,
                              const std::vector<std::optional<QPoint>>& wanted,
                              const std::vector<QRect>& taken, int gap, bool* apart = nullptr,
                              const std::vector<QPoint>& curve = {});
