#include "analysis/Results.h"

#include "analysis/Calculus.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <QLocale>
#include <QRegularExpression>
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

// An axis named by its unit alone ("Сутки": days counted) is in that unit: a growth per day reads "мм/сут".
QString WithImpliedUnit(const QString& caption) {
    if (!Unit(caption).isEmpty()) return caption;
    static const struct {
        const char16_t* Name;
        const char16_t* Unit;
    } kUnits[] = {{u"сутки", u"сут"}, {u"день", u"сут"},  {u"дни", u"сут"},   {u"дней", u"сут"},
                  {u"час", u"ч"},     {u"часы", u"ч"},    {u"минуты", u"мин"}, {u"недели", u"нед"},
                  {u"секунды", u"с"}, {u"месяцы", u"мес"}, {u"годы", u"год"}};
    const QString name = caption.trimmed().toLower();
    for (const auto& [unitName, unit] : kUnits)
        if (name == QStringView(unitName)) return caption.trimmed() + QStringLiteral(", ") + QString::fromUtf16(unit);
    return caption;
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

bool Finite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The kinds' own parts: what each finds, whether a result can be one of its kind, and how it reads.

void ComputeStatistics(tAnalysisResult& r, std::span<const double>, std::span<const double>,
                       std::span<const double>, std::span<const double> ry, const tAnalysisContext&) {
    const tStatistics s = Describe(ry);
    r.Values = {double(s.Count), s.Mean, s.StdDev, s.Min, s.Max};
    r.Ok = s.Count > 0 && Finite(r.Values) && std::isfinite(s.Max - s.Min);
    if (s.Count > 0 && !r.Ok) r.Error = TooLarge();
}

// A count of at least one, a spread not below zero, the mean between the extremes.
bool StatisticsSound(const tAnalysisResult& r) {
    const auto& v = r.Values;
    return Finite(v) && v[0] >= 1 && v[0] <= 9e15 && v[0] == std::floor(v[0]) && v[2] >= 0 && v[3] <= v[4] &&
           std::isfinite(v[4] - v[3]) && v[1] >= v[3] - 1e-9 * std::fabs(v[3]) &&
           v[1] <= v[4] + 1e-9 * std::fabs(v[4]);
}

QStringList StatisticsLines(const tAnalysisResult& r, const QString&, const QString& captionY) {
    const auto& v = r.Values;
    const QString uy = Unit(captionY);
    return {QStringLiteral("Статистика: %1").arg(Name(captionY)),
            QStringLiteral("точек: %1").arg(QString::number(v[0], 'f', 0)),
            QStringLiteral("среднее: %1").arg(WithUnit(FormatWithError(v[1], v[2] / std::sqrt(v[0])), uy)),
            QStringLiteral("ст. отклонение: %1").arg(WithUnit(FormatSignificant(v[2], 3), uy)),
            QStringLiteral("мин.: %1, макс.: %2")
                .arg(WithUnit(FormatSignificant(v[3], 6), uy), WithUnit(FormatSignificant(v[4], 6), uy)),
            QStringLiteral("Δ = %1").arg(WithUnit(FormatSignificant(v[4] - v[3], 4), uy))};
}

void ComputeSlope(tAnalysisResult& r, std::span<const double> x, std::span<const double> y,
                  std::span<const double>, std::span<const double>, const tAnalysisContext&) {
    const std::size_t n = std::min(x.size(), y.size());
    const double slope = SlopeAt(x.first(n), y.first(n), r.From);
    std::size_t after = std::size_t(std::lower_bound(x.begin(), x.begin() + n, r.From) - x.begin());
    after = std::min(after, n > 0 ? n - 1 : 0);
    r.Ok = std::isfinite(slope);
    r.Values = {slope, r.From, n > 0 ? y[after] : 0};
}

bool AllFinite(const tAnalysisResult& r) {
    return Finite(r.Values);
}

// The unit of a quotient ("/") or a product ("·") of two units; a side without a unit is left out (a rate
// of a quantity without a unit is "с⁻¹", never "/с").
QString Per(const QString& uy, const QString& ux, const QString& sign) {
    if (ux.isEmpty()) return uy;
    if (!uy.isEmpty()) return uy + sign + ux;
    if (sign != u"/") return ux;
    // The unit to the power −1 (or −2, −b).
    for (const QString& power : {QStringLiteral("²"), QStringLiteral("ᵇ")})
        if (ux.endsWith(power)) return ux.chopped(1) + QStringLiteral("⁻") + power;
    return ux + QStringLiteral("⁻¹");
}

// A frequency's unit for x in `ux`: hertz when x is in seconds.
QString FrequencyUnit(const QString& ux) {
    if (ux == u"с") return QStringLiteral("Гц");
    return Per(QString(), ux, QStringLiteral("/"));
}

// The unit of a fit's parameter `i`, from the axes' units.
QString ParamUnit(tFitModel model, int i, const QString& ux, const QString& uy) {
    const auto power = [&](const QString& exponent) { return ux.isEmpty() ? QString() : ux + exponent; };
    switch (model) {
    case tFitModel::Line:
        return i == 0 ? Per(uy, ux, QStringLiteral("/")) : uy;
    case tFitModel::Parabola:
        return i == 0 ? Per(uy, power(QStringLiteral("²")), QStringLiteral("/"))
                      : (i == 1 ? Per(uy, ux, QStringLiteral("/")) : uy);
    case tFitModel::Power:
        return i == 0 ? Per(uy, power(QStringLiteral("ᵇ")), QStringLiteral("/")) : QString();
    case tFitModel::RiseToLimit:
        return i == 0 ? uy : ux;
    case tFitModel::ExpApproach:
        return i == 1 ? ux : uy;
    case tFitModel::Sine:
        return i == 1 ? FrequencyUnit(ux) : (i == 2 ? QStringLiteral("рад") : uy);
    }
    return QString();
}

QStringList SlopeLines(const tAnalysisResult& r, const QString& captionX, const QString& captionY) {
    const QString ux = Unit(captionX), uy = Unit(captionY);
    return {QStringLiteral("Касательная при %1 = %2")
                .arg(Name(captionX), WithUnit(FormatSignificant(r.Values[1], 6), ux)),
            QStringLiteral("наклон: %1")
                .arg(WithUnit(FormatSignificant(r.Values[0], 4), Per(uy, ux, QStringLiteral("/"))))};
}

void ComputeArea(tAnalysisResult& r, std::span<const double> x, std::span<const double> y,
                 std::span<const double>, std::span<const double>, const tAnalysisContext&) {
    const std::size_t n = std::min(x.size(), y.size());
    const double area = Area(x.first(n), y.first(n), r.From, r.To);
    r.Ok = std::isfinite(area);
    r.Values = {area};
}

QStringList AreaLines(const tAnalysisResult& r, const QString& captionX, const QString& captionY) {
    return {QStringLiteral("Площадь под кривой"),
            WithUnit(FormatSignificant(r.Values[0], 5),
                     Per(Unit(captionY), Unit(captionX), QStringLiteral("·")))};
}

void ComputeFit(tAnalysisResult& r, std::span<const double>, std::span<const double>,
                std::span<const double> rx, std::span<const double> ry, const tAnalysisContext& context) {
    const tFit fit = FitCurve(r.Model, rx, ry, context.Progress);
    r.Ok = fit.Ok;
    r.Error = fit.Error;
    r.Values = fit.Params;
    r.Values.insert(r.Values.end(), fit.StdErrors.begin(), fit.StdErrors.end());
    r.Values.push_back(fit.ResidualSD);
    r.Values.push_back(fit.RSquared);
}

// Finite parameters, errors and residual not below zero, R² at most 1.
bool FitSound(const tAnalysisResult& r) {
    const auto& v = r.Values;
    const std::size_t p = std::size_t(FitParamCount(r.Model));
    if (!Finite(v) || v.size() != 2 * p + 2) return false;
    for (std::size_t i = p; i < 2 * p + 1; ++i)
        if (v[i] < 0) return false;
    return v[2 * p + 1] <= 1 + 1e-12;
}

QStringList FitLines(const tAnalysisResult& r, const QString& captionX, const QString& captionY) {
    const auto& v = r.Values;
    const int p = FitParamCount(r.Model);
    const QString ux = Unit(captionX);
    QStringList lines{FitModelName(r.Model), FitModelFormula(r.Model)};
    for (int i = 0; i < p; ++i) {
        const QString name = FitParamName(r.Model, i);
        const QString unit = ParamUnit(r.Model, i, ux, Unit(captionY));
        QString line = name + QStringLiteral(" = ") + WithUnit(FormatWithError(v[i], v[p + i]), unit);
        if (name == u"τ")
            line += QStringLiteral(" (половина за %1)")
                        .arg(WithUnit(FormatWithError(v[i] * std::numbers::ln2, v[p + i] * std::numbers::ln2),
                                      ux));
        lines << line;
    }
    lines << QStringLiteral("R² = %1").arg(Fixed(v[2 * p + 1], 4));
    return lines;
}

void ComputeSpectrum(tAnalysisResult& r, std::span<const double>, std::span<const double>,
                     std::span<const double> rx, std::span<const double> ry,
                     const tAnalysisContext& context) {
    tSpectrum spectrum = TimedSpectrum(rx, ry);
    r.Ok = spectrum.Peak > 0;
    r.Values = {spectrum.Peak, spectrum.PeakAmplitude};
    if (context.Spectrum) *context.Spectrum = std::move(spectrum);
}

// A peak at a frequency above zero, with an amplitude not below zero.
bool SpectrumSound(const tAnalysisResult& r) {
    return Finite(r.Values) && r.Values[0] > 0 && r.Values[1] >= 0;
}

QStringList SpectrumLines(const tAnalysisResult& r, const QString&, const QString&) {
    return {QStringLiteral("Спектр"), PeakText(r)};
}

const tAnalysisKindInfo kKinds[] = {
    {tAnalysisKind::Statistics, "Statistics", "&Статистика",
     "Среднее, отклонение, наименьшее и наибольшее значение между маркерами", false, 5, ComputeStatistics,
     "Для выбранной области это посчитать нельзя.", StatisticsSound, StatisticsLines},
    {tAnalysisKind::Slope, "Slope", "&Касательная", "Наклон кривой в точке маркера", true, 3, ComputeSlope,
     "Касательную в этой точке провести нельзя.", AllFinite, SlopeLines},
    {tAnalysisKind::Area, "Area", "&Площадь под кривой", "Площадь под кривой между маркерами", false, 1,
     ComputeArea, "Для выбранной области это посчитать нельзя.", AllFinite, AreaLines},
    {tAnalysisKind::Fit, "Fit", "Подбор &кривой", "Подобрать кривую между маркерами", false, 0, ComputeFit,
     "Для выбранной области это посчитать нельзя.", FitSound, FitLines},
    {tAnalysisKind::Spectrum, "Spectrum", "С&пектр", "Частота колебаний между маркерами", false, 2,
     ComputeSpectrum, "В выбранной области не видно колебаний.", SpectrumSound, SpectrumLines},
};

} // namespace

tAnalysisResult Analyse(tAnalysisKind kind, tFitModel model, std::span<const double> x,
                        std::span<const double> y, double from, double to, const tFitProgress& progress,
                        tSpectrum* spectrum) {
    tAnalysisResult result;
    result.Kind = kind;
    result.Model = model;
    if (!KindInfo(kind).AtPoint && to < from) std::swap(from, to);
    result.From = from;
    result.To = to;
    const std::size_t n = std::min(x.size(), y.size());
    const std::size_t first = std::size_t(std::lower_bound(x.begin(), x.begin() + n, from) - x.begin());
    const std::size_t last = std::size_t(std::upper_bound(x.begin(), x.begin() + n, to) - x.begin());
    const std::span<const double> rx = x.subspan(first, last > first ? last - first : 0);
    const std::span<const double> ry = y.subspan(first, rx.size());
    // The region as far as it holds points: a fit is drawn, and the report names it, where the data are.
    if (!KindInfo(kind).AtPoint && !rx.empty()) {
        result.From = rx.front();
        result.To = rx.back();
    }
    const tAnalysisKindInfo& info = KindInfo(kind);
    info.Compute(result, x.first(n), y.first(n), rx, ry, {progress, spectrum});
    if (kind == tAnalysisKind::Fit) return result;
    if (!result.Ok && result.Error.isEmpty())
        result.Error = rx.size() < 2 && !info.AtPoint
                           ? QStringLiteral("В выбранной области слишком мало точек.")
                           : QString::fromUtf8(info.Failure);
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

std::span<const tAnalysisKindInfo> AnalysisKinds() {
    return kKinds;
}

const tAnalysisKindInfo& KindInfo(tAnalysisKind kind) {
    for (const tAnalysisKindInfo& info : kKinds)
        if (info.Kind == kind) return info;
    return kKinds[0];
}

QStringList ResultLines(const tAnalysisResult& r, const QString& captionX, const QString& captionY) {
    if (!r.Ok) return {r.Error};
    QStringList lines = KindInfo(r.Kind).Lines(r, WithImpliedUnit(captionX), captionY);
    // A number's sign is the minus of the formulas (U+2212), not a hyphen.
    static const QRegularExpression hyphen(QStringLiteral("(^|[\\s(=:…])-(?=[0-9])"));
    for (QString& line : lines) line.replace(hyphen, QStringLiteral("\\1−"));
    return lines;
}

QString PeakText(const tAnalysisResult& r) {
    // A region of T seconds tells frequencies apart by about 1/T: no digit finer than that.
    const double span = std::fabs(r.To - r.From);
    const int decimals = span > 0 ? std::clamp(int(std::ceil(std::log10(span) - 1e-9)), 0, 6) : 3;
    return QStringLiteral("пик: %1 Гц")
        .arg(r.Values.empty() ? QStringLiteral("—") : Fixed(r.Values[0], decimals));
}

QString RegionText(const tAnalysisResult& r, const QString& axis) {
    const QString captionX = WithImpliedUnit(axis);
    if (KindInfo(r.Kind).AtPoint)
        return Name(captionX) + QStringLiteral(" = ") +
               WithUnit(FormatSignificant(r.From, 6), Unit(captionX));
    return Name(captionX) + QStringLiteral(" = ") + FormatSignificant(r.From, 6) + QStringLiteral("…") +
           WithUnit(FormatSignificant(r.To, 6), Unit(captionX));
}

QString EncodeResult(const tAnalysisResult& r, QPointF box) {
    QStringList fields{QString::fromLatin1(KindInfo(r.Kind).Key),
                       FitModelKey(r.Model),
                       QString::number(r.Run),
                       Number(r.From),
                       Number(r.To),
                       Number(box.x() < 0 || box.y() < 0 ? -1 : box.x()),
                       Number(box.x() < 0 || box.y() < 0 ? -1 : box.y())};
    QStringList values;
    for (const double v : r.Values) values << Number(v);
    fields << values.join(u' ');
    if (!r.Quantity.isEmpty())
        fields << QString(r.Quantity).replace(u';', u',').replace(u'\n', u' ').replace(u'\r', u' ');
    return fields.join(u';');
}

std::optional<tAnalysisResult> DecodeResult(const QString& line, QPointF* box) {
    const QStringList fields = line.split(u';');
    if (fields.size() != 8 && fields.size() != 9) return std::nullopt;
    tAnalysisResult r;
    bool known = false;
    for (const tAnalysisKindInfo& kind : kKinds)
        if (fields[0] == QLatin1String(kind.Key)) {
            r.Kind = kind.Kind;
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
    const QPointF at(fields[5].toDouble(&ok[3]), fields[6].toDouble(&ok[4]));
    ok[5] = true;
    for (const QString& v : fields[7].split(u' ', Qt::SkipEmptyParts)) {
        bool good = false;
        r.Values.push_back(v.toDouble(&good));
        ok[5] = ok[5] && good;
    }
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })) return std::nullopt;
    const std::size_t values = KindInfo(r.Kind).Values;
    if (r.Values.size() != (values > 0 ? values : std::size_t(2 * FitParamCount(r.Model) + 2)))
        return std::nullopt;
    // Values that cannot be a result of its kind (a negative spread, a peak at −5 Hz, NaN) make a damaged
    // line.
    if (!std::isfinite(r.From) || !std::isfinite(r.To) || !KindInfo(r.Kind).Sound(r)) return std::nullopt;
    r.Ok = true;
    // A box the chart placed itself is placed anew; one the user put stays where it was put.
    if (box) *box = at.x() < 0 || at.y() < 0 ? QPointF(-1, -1) : at;
    return r;
}
