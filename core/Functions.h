// Small shared helpers: decimal-separator-tolerant parsing, rounding, token cutting, Wine detection.
#pragma once

#include <QString>
#include <optional>

// Replaces the "other" decimal separator with the system's one ("," with "." or "." with ","); with any
// other system separator the text is returned unchanged.
QString LocalizeDecimalSeparator(const QString& text);

// Parses a number written with "." or "," as its decimal point; false when the text is no number.
bool ParseFloat(const QString& text, double& value);

// Truncates toward zero and adds the sign when the dropped fraction is at least 0.49 (2.49 -> 3,
// 2.48 -> 2, -2.5 -> -3). Values beyond the int range are clamped, NaN gives 0.
int RoundHalf049(double x);

// The part of `s` before the first `c` (all of `s` when `c` does not occur); with `remove` that part
// and the separator are cut from the front of `s`.
QString CutToken(QString& s, QChar c, bool remove);

// Whether the program runs under the Wine layer; logs "WINE Detected" when it does.
bool IsWine();

// Forces IsWine's answer (tests); an empty value restores the real detection.
void SetWineOverride(std::optional<bool> value);
