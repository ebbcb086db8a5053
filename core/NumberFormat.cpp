// The number-pattern formatter: sections, required and optional digits, grouping, exponents, quoted text.
#include "core/NumberFormat.h"

#include "core/TextCodec.h"

#include "core/LocaleFormats.h"

#include <QLocale>
#include <QStringList>
#include <cmath>

namespace {

struct tSection {
    QString Prefix;
    QString Suffix;
    int IntegerRequired = 0;
    int IntegerPlaces = 0;
    int FractionRequired = 0;
    int FractionPlaces = 0;
    bool Grouping = false;
    bool Point = false;
    bool Scientific = false;
    bool ExponentSignAlways = false;
    QChar ExponentLetter = u'E';
    int ExponentDigits = 0;
};

// Splits at ';' outside quotes.
QStringList Sections(const QString& pattern) {
    QStringList sections{QString()};
    QChar quote;
    for (const QChar c : pattern) {
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u';') {
            sections.append(QString());
            continue;
        }
        sections.last() += c;
    }
    return sections;
}

tSection Parse(const QString& text) {
    tSection s;
    bool seenDigit = false;
    bool afterDigits = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"' || c == u'\'') {
            const qsizetype end = text.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? text.size() : end;
            if (seenDigit) afterDigits = true;
            (afterDigits ? s.Suffix : s.Prefix) += text.mid(i + 1, stop - i - 1);
            i = stop;
            continue;
        }
        if (s.Scientific) {
            if (c == u'0') {
                ++s.ExponentDigits;
                continue;
            }
            afterDigits = true;
            s.Suffix += c;
            continue;
        }
        if (c == u'0' || c == u'#') {
            if (afterDigits) {
                s.Suffix += c;
                continue;
            }
            seenDigit = true;
            if (s.Point) {
                ++s.FractionPlaces;
                if (c == u'0') s.FractionRequired = s.FractionPlaces;
            } else {
                ++s.IntegerPlaces;
                if (c == u'0' || s.IntegerRequired > 0) ++s.IntegerRequired;
            }
        } else if (c == u'.' && !s.Point && !afterDigits) {
            s.Point = true;
            seenDigit = true;
        } else if (c == u',' && !afterDigits && seenDigit && !s.Point) {
            s.Grouping = true;
        } else if ((c == u'E' || c == u'e') && seenDigit && i + 1 < text.size() &&
                   (text[i + 1] == u'+' || text[i + 1] == u'-')) {
            s.Scientific = true;
            s.ExponentLetter = c;
            s.ExponentSignAlways = text[i + 1] == u'+';
            ++i;
        } else {
            if (seenDigit) afterDigits = true;
            (afterDigits ? s.Suffix : s.Prefix) += c;
        }
    }
    return s;
}

QString GroupDigits(const QString& digits) {
    const QString separator = QLocale::system().groupSeparator();
    QString out;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += separator.isEmpty() ? QStringLiteral(" ") : separator;
        out += digits[i];
    }
    return out;
}

// The magnitude with the section's digits; the sign is the caller's. A section without digits shows only its
// text.
QString Digits(const tSection& s, double magnitude) {
    if (s.IntegerPlaces == 0 && s.FractionPlaces == 0 && !s.Point) return QString();
    QString exponentText;
    if (s.Scientific) {
        int exponent = 0;
        if (magnitude != 0) {
            const int integerDigits = std::max(1, s.IntegerPlaces);
            exponent = int(std::floor(std::log10(magnitude))) - integerDigits + 1;
            double mantissa = magnitude / std::pow(10.0, exponent);
            const double rounded =
                std::round(mantissa * std::pow(10.0, s.FractionPlaces)) / std::pow(10.0, s.FractionPlaces);
            if (rounded >= std::pow(10.0, integerDigits)) ++exponent;
            magnitude = magnitude / std::pow(10.0, exponent);
        }
        QString number = QString::number(std::abs(exponent));
        while (number.size() < s.ExponentDigits) number.prepend(u'0');
        exponentText = QString(s.ExponentLetter) +
                       (exponent < 0           ? QStringLiteral("-")
                        : s.ExponentSignAlways ? QStringLiteral("+")
                                               : QString()) +
                       number;
    }
    // Round half away from zero at the pattern's last place.
    const double scale = std::pow(10.0, s.FractionPlaces);
    double rounded = std::round(magnitude * scale) / scale;
    QString text = QString::number(rounded, 'f', s.FractionPlaces);
    QString integer = text.section(u'.', 0, 0);
    QString fraction = s.FractionPlaces > 0 ? text.section(u'.', 1, 1) : QString();
    while (fraction.size() > s.FractionRequired && fraction.endsWith(u'0')) fraction.chop(1);
    if (integer == QStringLiteral("0") && s.IntegerRequired == 0) integer.clear();
    while (integer.size() < s.IntegerRequired) integer.prepend(u'0');
    if (s.Grouping) integer = GroupDigits(integer);
    QString out = integer;
    if (!fraction.isEmpty()) out += SystemDecimalSeparator() + fraction;
    if (out.isEmpty()) out = QStringLiteral("0");
    return out + exponentText;
}

QString General(double value) {
    if (value == 0) return QStringLiteral("0");
    if (!std::isfinite(value))
        return std::isnan(value) ? QStringLiteral("NAN")
               : value > 0       ? QStringLiteral("INF")
                                 : QStringLiteral("-INF");
    QString text = QLocale::c().toString(value, 'g', 15);
    const qsizetype e = text.indexOf(u'e');
    if (e >= 0) {
        const QString mantissa = text.left(e);
        const int exponent = text.mid(e + 1).toInt();
        text = mantissa + QStringLiteral("E") + QString::number(exponent);
    }
    return text.replace(u'.', SystemDecimalSeparator());
}

} // namespace

QString FormatFloat(const QString& pattern, double value) {
    if (pattern.isEmpty() || !std::isfinite(value)) return General(value);
    const QStringList sections = Sections(pattern);
    const tSection positive = Parse(sections[0]);
    if (value == 0 && sections.size() > 2 && !sections[2].isEmpty()) {
        const tSection zero = Parse(sections[2]);
        return zero.Prefix + Digits(zero, 0) + zero.Suffix;
    }
    if (value < 0 && sections.size() > 1 && !sections[1].isEmpty()) {
        const tSection negative = Parse(sections[1]);
        return negative.Prefix + Digits(negative, -value) + negative.Suffix;
    }
    const QString digits = Digits(positive, std::abs(value));
    // A value that rounds to zero shows no minus sign.
    bool zero = true;
    for (const QChar c : digits)
        if (c.isDigit() && c != u'0') zero = false;
    return (value < 0 && !zero ? QStringLiteral("-") : QString()) + positive.Prefix + digits +
           positive.Suffix;
}

int PatternDecimals(const QString& pattern) {
    if (pattern.isEmpty()) return -1;
    const tSection positive = Parse(Sections(pattern)[0]);
    return positive.Scientific ? -1 : positive.FractionPlaces;
}

std::optional<double> ParseTypedNumber(const QString& text, QString* reason) {
    bool ok = false;
    const double number = QString(text.trimmed()).replace(u',', u'.').toDouble(&ok);
    if (ok && std::isfinite(number)) return number;
    if (reason)
        *reason =
            QStringLiteral("«%1» — не число. Введите число, например %2.")
                .arg(text.trimmed(), QStringLiteral("2") + QLocale().decimalPoint() + QStringLiteral("35"));
    return std::nullopt;
}

std::optional<std::vector<std::pair<double, double>>> ParsePastedRows(const QString& text, QString* reason) {
    std::vector<std::pair<double, double>> rows;
    const auto fail = [&](const QString& why) {
        if (reason) *reason = why;
        return std::nullopt;
    };
    int number = 0;
    bool headsSeen = false;
    for (const QString& line : SplitTextLines(text)) {
        ++number;
        if (line.trimmed().isEmpty()) continue;
        QStringList cells = line.contains(u'\t')  ? line.split(u'\t')
                            : line.contains(u';') ? line.split(u';')
                                                  : line.simplified().split(u' ');
        // Empty cells at the end of a row (a spreadsheet's row copied wide) are none.
        while (!cells.isEmpty() && cells.last().trimmed().isEmpty()) cells.removeLast();
        QString why;
        std::optional<double> x, y;
        if (cells.size() == 2) {
            x = ParseTypedNumber(cells[0], &why);
            if (x) y = ParseTypedNumber(cells[1], &why);
        }
        if (x && y) {
            if (int(rows.size()) >= kMaxPastedRows)
                return fail(QStringLiteral("Больше %1 строк за раз не вставить.").arg(kMaxPastedRows));
            rows.emplace_back(*x, *y);
            continue;
        }
        // The heads of the columns, copied with them: a first row that starts with words.
        if (rows.empty() && !headsSeen && !cells.isEmpty() && !ParseTypedNumber(cells[0])) {
            headsSeen = true;
            continue;
        }
        if (cells.size() != 2)
            return fail(QStringLiteral("Строка %1: нужны два числа — x и y, разделённые табуляцией или точкой "
                                       "с запятой.")
                            .arg(number));
        return fail(QStringLiteral("Строка %1: %2").arg(number).arg(why));
    }
    if (rows.empty()) return fail(QStringLiteral("В буфере обмена нет строк с числами."));
    return rows;
}
