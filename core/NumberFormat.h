// Number patterns such as "0.00", "#0.#", "#,##0.0", "0.0E+00" and "pos;neg;zero", printed with the system's
// decimal separator; an empty pattern gives the general format (shortest exact form, up to 15 digits).
#pragma once

#include <QString>
#include <optional>

QString FormatFloat(const QString& pattern, double value);
// The most digits the pattern shows after the decimal separator; -1 for the general format.
int PatternDecimals(const QString& pattern);
// A number as a user types it, with either decimal separator; none for anything else, with the reason said
// in `reason`.
std::optional<double> ParseTypedNumber(const QString& text, QString* reason = nullptr);
