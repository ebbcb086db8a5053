#include "analysis/Results.h"

#include "analysis/Calculus.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace {

QString Unit(const QString& caption) {
    const qsizetype comma = caption.lastIndexOf(u',');
    return comma < 0 ? QString() : caption.mid(comma + 1).trimmed();
}

QString Name(const QString& caption) {
    const qsizetype comma = caption.lastIndexOf(u',');
    return (comma < 0 ? caption : caption.left(comma)).trimmed();
}

QString WithUnit(const QString& number, const QString& unit) {
    return unit.isEmpty() ? number : number + u' ' + unit;
}

QString Superscript(int power) {
    static const char16_t digits[] = u"⁰¹²³⁴⁵⁶⁷⁸⁹";
    QString text = power < 0 ? QStringLiteral("⁻") : QString();
    for (const QChar c : QString::number(std::abs(power))) text += QChar(digits[c.digitValue()]);
    return text;
}

QString Fixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', std::max(0, decimals));
}

// Without the zeros that end a decimal fraction.
QString Trimmed(QString text) {
    const QString point = QLocale().decimalPoint();
    if (!text.contains(point)) return text;
    while (text.endsWith(u'0')) text.chop(1);
    if (text.endsWith(point)) text.chop(point.size());
    return text;
}

QString Number(double value) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return QString::fromLatin1(buffer, end - buffer);
}

const char* KindKey(tAnalysisKind kind) {
    switch (kind) {
    case tAnalysisKind::Statistics:
        return "Statistics";
    case tAnalysisKind::Slope:
        return "Slope";
    case tAnalysisKind::Area:
        return "Area";
    case tAnalysisKind::Fit:
        return "Fit";
    case tAnalysisKind::Spectrum:
        return "Spectrum";
    }
    return "";
}

} // namespace

tAnalysisResult Analyse(tAnalysisKind kind, tFitModel model, std::span<const double> x,
                        std::span<const double> y, double from, double to) {
    tAnalysisResult result;
    result.Kind = kind;
    result.Model = model;
    if (kind != tAnalysisKind::Slope && to < from) std::swap(from, to);
    result.From = from;
    result.To = to;
    const std::size_t n = std::min(x.size(), y.size());
    const std::size_t first = std::size_t(std::lower_bound(x.begin(), x.begin() + n, from) - x.begin());
    const std::size_t last = std::size_t(std::upper_bound(x.begin(), x.begin() + n, to) - x.begin());
    const std::span<const double> rx = x.subspan(first, last > first ? last - first : 0);
    const std::span<const double> ry = y.subspan(first, rx.size());
    // The region as far as it holds points: a fit is drawn, and the report names it, where the data are.
    if (kind != tAnalysisKind::Slope && !rx.empty()) {
        result.From = rx.front();
        result.To = rx.back();
    }
    switch (kind) {
    case tAnalysisKind::Statistics: {
        const tStatistics s = Describe(ry);
        result.Ok = s.Count > 0;
        result.Values = {double(s.Count), s.Mean, s.StdDev, s.Min, s.Max};
        break;
    }
    case tAnalysisKind::Slope: {
        const double slope = SlopeAt(x.first(n), y.first(n), from);
        std::size_t after = std::size_t(std::lower_bound(x.begin(), x.begin() + n, from) - x.begin());
        after = std::min(after, n > 0 ? n - 1 : 0);
        result.Ok = std::isfinite(slope);
        result.Values = {slope, from, n > 0 ? y[after] : 0};
        break;
    }
    case tAnalysisKind::Area: {
        const double area = Area(x.first(n), y.first(n), from, to);
        result.Ok = std::isfinite(area);
        result.Values = {area};
        break;
    }
    case tAnalysisKind::Fit: {
        const tFit fit = FitCurve(model, rx, ry);
        result.Ok = fit.Ok;
        result.Error = fit.Error;
        result.Values = fit.Params;
        result.Values.insert(result.Values.end(), fit.StdErrors.begin(), fit.StdErrors.end());
        result.Values.push_back(fit.ResidualSD);
        result.Values.push_back(fit.RSquared);
        return result;
    }
    case tAnalysisKind::Spectrum: {
        const tSpectrum spectrum = TimedSpectrum(rx, ry);
        result.Ok = spectrum.Peak > 0;
        result.Values = {spectrum.Peak, spectrum.PeakAmplitude};
        break;
    }
    }
    if (!result.Ok) {
        if (rx.size() < 2 && kind != tAnalysisKind::Slope)
            result.Error = QStringLiteral("В выбранной области слишком мало точек.");
        else if (kind == tAnalysisKind::Spectrum)
            result.Error = QStringLiteral("В выбранной области не видно колебаний.");
        else if (kind == tAnalysisKind::Slope)
            result.Error = QStringLiteral("Касательную в этой точке провести нельзя.");
        else
            result.Error = QStringLiteral("Для выбранной области это посчитать нельзя.");
    }
    return result;
}

QString FormatSignificant(double value, int digits) {
    if (!std::isfinite(value)) return QStringLiteral("—");
    if (value == 0) return QStringLiteral("0");
    const int power = int(std::floor(std::log10(std::fabs(value))));
    if (power < -4 || power > 6) {
        const double scaled = value / std::pow(10.0, power);
        return Trimmed(Fixed(scaled, digits - 1)) + QStringLiteral("·10") + Superscript(power);
    }
    return Trimmed(Fixed(value, digits - 1 - power));
}

QString FormatWithError(double value, double error) {
    if (!std::isfinite(error) || error <= 0) return FormatSignificant(value, 6);
    // The error's second significant digit sets the last place shown.
    const int errorPower = int(std::floor(std::log10(error)));
    const int place = errorPower - 1;
    const double magnitude = std::max(std::fabs(value), error);
    const int power = int(std::floor(std::log10(magnitude)));
    if (power < -4 || power > 6) {
        const double scale = std::pow(10.0, power);
        const int decimals = power - place;
        return QStringLiteral("(%1 ± %2)·10%3")
            .arg(Fixed(value / scale, decimals), Fixed(error / scale, decimals), Superscript(power));
    }
    if (place > 0) {
        // Digits left of the point that the error leaves unknown are rounded away.
        const double unit = std::pow(10.0, place);
        return Fixed(std::round(value / unit) * unit, 0) + QStringLiteral(" ± ") +
               Fixed(std::round(error / unit) * unit, 0);
    }
    return Fixed(value, -place) + QStringLiteral(" ± ") + Fixed(error, -place);
}

QStringList ResultLines(const tAnalysisResult& r, const QString& captionX, const QString& captionY) {
    const QString ux = Unit(captionX), uy = Unit(captionY);
    const QString slopeUnit = uy.isEmpty() && ux.isEmpty() ? QString() : uy + u'/' + ux;
    const QString areaUnit = uy.isEmpty() && ux.isEmpty() ? QString() : uy + QStringLiteral("·") + ux;
    QStringList lines;
    if (!r.Ok) return {r.Error};
    const auto& v = r.Values;
    switch (r.Kind) {
    case tAnalysisKind::Statistics:
        lines
            << QStringLiteral("Статистика: %1").arg(Name(captionY))
            << QStringLiteral("точек: %1").arg(qlonglong(v[0]))
            << QStringLiteral("среднее: %1").arg(WithUnit(FormatWithError(v[1], v[2] / std::sqrt(v[0])), uy))
            << QStringLiteral("ст. отклонение: %1").arg(WithUnit(FormatSignificant(v[2], 3), uy))
            << QStringLiteral("мин.: %1, макс.: %2")
                   .arg(FormatSignificant(v[3], 6), FormatSignificant(v[4], 6))
            << QStringLiteral("Δ = %1").arg(WithUnit(FormatSignificant(v[4] - v[3], 4), uy));
        break;
    case tAnalysisKind::Slope:
        lines << QStringLiteral("Касательная при %1 = %2")
                     .arg(Name(captionX), WithUnit(FormatSignificant(v[1], 6), ux))
              << QStringLiteral("наклон: %1").arg(WithUnit(FormatSignificant(v[0], 4), slopeUnit));
        break;
    case tAnalysisKind::Area:
        lines << QStringLiteral("Площадь под кривой") << WithUnit(FormatSignificant(v[0], 5), areaUnit);
        break;
    case tAnalysisKind::Spectrum:
        lines << QStringLiteral("Спектр") << QStringLiteral("пик: %1 Гц").arg(FormatSignificant(v[0], 5));
        break;
    case tAnalysisKind::Fit: {
        const int p = FitParamCount(r.Model);
        lines << FitModelName(r.Model) << FitModelFormula(r.Model);
        static const QString names[][4] = {{"a", "b"}, {"a", "b", "c"}, {"a", "b"},
                                           {"a", "τ"}, {"a", "τ", "c"}, {"A", "f", "φ", "c"}};
        for (int i = 0; i < p; ++i) {
            const QString& name = names[int(r.Model)][i];
            QString unit;
            if (name == u"τ") unit = ux;
            if (name == u"f") unit = ux.isEmpty() ? QString() : QStringLiteral("1/") + ux;
            if (name == u"φ") unit = QStringLiteral("рад");
            QString line = name + QStringLiteral(" = ") + WithUnit(FormatWithError(v[i], v[p + i]), unit);
            if (name == u"τ")
                line += QStringLiteral(" (половина за %1)")
                            .arg(WithUnit(
                                FormatWithError(v[i] * std::numbers::ln2, v[p + i] * std::numbers::ln2), ux));
            lines << line;
        }
        lines << QStringLiteral("R² = %1").arg(Fixed(v[2 * p + 1], 4));
        break;
    }
    }
    return lines;
}

QString RegionText(const tAnalysisResult& r, const QString& captionX) {
    if (r.Kind == tAnalysisKind::Slope)
        return Name(captionX) + QStringLiteral(" = ") +
               WithUnit(FormatSignificant(r.From, 6), Unit(captionX));
    return Name(captionX) + QStringLiteral(" = ") + FormatSignificant(r.From, 6) + QStringLiteral("…") +
           WithUnit(FormatSignificant(r.To, 6), Unit(captionX));
}

QString EncodeResult(const tAnalysisResult& r) {
    QStringList fields{QString::fromLatin1(KindKey(r.Kind)),
                       FitModelKey(r.Model),
                       QString::number(r.Run),
                       Number(r.From),
                       Number(r.To),
                       Number(r.Box.x()),
                       Number(r.Box.y())};
    QStringList values;
    for (const double v : r.Values) values << Number(v);
    fields << values.join(u' ');
    if (!r.Quantity.isEmpty())
        fields << QString(r.Quantity).replace(u';', u',').replace(u'\n', u' ').replace(u'\r', u' ');
    return fields.join(u';');
}

std::optional<tAnalysisResult> DecodeResult(const QString& line) {
    const QStringList fields = line.split(u';');
    if (fields.size() != 8 && fields.size() != 9) return std::nullopt;
    tAnalysisResult r;
    bool known = false;
    for (const tAnalysisKind kind : {tAnalysisKind::Statistics, tAnalysisKind::Slope, tAnalysisKind::Area,
                                     tAnalysisKind::Fit, tAnalysisKind::Spectrum})
        if (fields[0] == QLatin1String(KindKey(kind))) {
            r.Kind = kind;
            known = true;
        }
    const std::optional<tFitModel> model = FitModelFromKey(fields[1]);
    if (!known || !model) return std::nullopt;
    r.Model = *model;
    if (fields.size() == 9) r.Quantity = fields[8];
    bool ok[6] = {};
    r.Run = fields[2].toInt(&ok[0]);
    r.From = fields[3].toDouble(&ok[1]);
    r.To = fields[4].toDouble(&ok[2]);
    r.Box = QPointF(fields[5].toDouble(&ok[3]), fields[6].toDouble(&ok[4]));
    ok[5] = true;
    for (const QString& v : fields[7].split(u' ', Qt::SkipEmptyParts)) {
        bool good = false;
        r.Values.push_back(v.toDouble(&good));
        ok[5] = ok[5] && good;
    }
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })) return std::nullopt;
    const std::size_t wanted = r.Kind == tAnalysisKind::Statistics ? 5
                               : r.Kind == tAnalysisKind::Slope    ? 3
                               : r.Kind == tAnalysisKind::Area     ? 1
                               : r.Kind == tAnalysisKind::Spectrum
                                   ? 2
                                   : std::size_t(2 * FitParamCount(r.Model) + 2);
    if (r.Values.size() != wanted) return std::nullopt;
    r.Ok = true;
    return r;
}
