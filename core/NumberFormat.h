// Number patterns such as "0.00", "#0.#", "#,##0.0", "0.0E+00" and "pos;neg;zero", printed with the system's
// decimal separator; an empty pattern gives the general format (shortest exact form, up to 15 digits).
#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <vector>

QString FormatFloat(const QString& pattern, double value);
// The most digits the pattern shows after the decimal separator; -1 for the general format.
int PatternDecimals(const QString& pattern);
// A number as a user types it, with either decimal separator; none for anything else, with the reason said
// in `reason`.
std::optional<double> ParseTypedNumber(const QString& text, QString* reason = nullptr);
// Rows of two numbers (x and y) as a spreadsheet copies them: cells separated by tabs, else semicolons, else
// spaces; either decimal separator; a first row of words (the heads) skipped, empty rows too. Every cell is
// checked: none when one is no number, with the row and the reason in `reason`.
std::optional<std::vector<std::pair<double, double>>> ParsePastedRows(const QString& text, QString* reason);
inline constexpr int kMaxPastedRows = 1000000;
