// Slope and area of a measured curve, its x ascending.
#pragma once

#include <span>

// The slope of the curve at `at`: a straight line fitted to the points about it (a fiftieth of the run on
// either side, at least two, at most a hundred), so that noise does not make the tangent jump. NaN when there
// are fewer than two points or `at` lies outside the run.
double SlopeAt(std::span<const double> x, std::span<const double> y, double at);

// The area between the curve and y = 0 from `from` to `to` (trapezoids, the ends interpolated); negative
// where the curve is below zero, and with its sign turned when `to` < `from`. NaN outside the run.
double Area(std::span<const double> x, std::span<const double> y, double from, double to);
