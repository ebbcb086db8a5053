// The shared helpers of the Functions unit.
#include "core/Functions.h"

#include "core/LocaleFormats.h"
#include "core/Logfile.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <dlfcn.h>
#include <limits>

namespace {

// 0 = real detection, 1 = forced false, 2 = forced true.
std::atomic<int> gWineOverride{0};

// A number in the system's format: blanks around it, an optional sign, digits with at most one
// separator, an optional exponent. No thousands separators.
bool ConvertNumber(const QString& text, QChar separator, double& value) {
    const QString trimmed = text.trimmed();
    const qsizetype n = trimmed.size();
    std::string plain;
    qsizetype i = 0;
    const auto takeSign = [&] {
        if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) plain += char(trimmed[i++].unicode());
    };
    const auto takeDigits = [&] {
        int count = 0;
        for (; i < n && trimmed[i] >= u'0' && trimmed[i] <= u'9'; ++i, ++count)
            plain += char(trimmed[i].unicode());
        return count;
    };
    takeSign();
    int digits = takeDigits();
    if (i < n && trimmed[i] == separator) {
        plain += '.';
        ++i;
        digits += takeDigits();
    }
    if (digits == 0) return false;
    if (i < n && (trimmed[i] == u'e' || trimmed[i] == u'E')) {
        plain += 'e';
        ++i;
        takeSign();
        if (takeDigits() == 0) return false;
    }
    if (i != n) return false;
    const char* first = plain.data() + (plain.front() == '+' ? 1 : 0);
    const char* last = plain.data() + plain.size();
    double result = 0;
    const auto [end, error] = std::from_chars(first, last, result);
    if (error != std::errc() || end != last || !std::isfinite(result)) return false;
    value = result;
    return true;
}

} // namespace

QString LocalizeDecimalSeparator(const QString& text) {
    const QChar separator = SystemDecimalSeparator();
    QString result = text;
    if (separator == u'.')
        result.replace(u',', u'.');
    else if (separator == u',')
        result.replace(u'.', u',');
    return result;
}

bool ParseFloat(const QString& text, double& value) {
    return ConvertNumber(LocalizeDecimalSeparator(text), SystemDecimalSeparator(), value);
}

int RoundHalf049(double x) {
    if (std::isnan(x)) return 0;
    constexpr double kMax = std::numeric_limits<int>::max();
    constexpr double kMin = std::numeric_limits<int>::min();
    if (x >= kMax) return std::numeric_limits<int>::max();
    if (x <= kMin) return std::numeric_limits<int>::min();
    const double t = std::trunc(x);
    int result = int(t);
    if (std::fabs(x - t) >= 0.49) result += x > 0 ? 1 : -1;
    return result;
}

QString CutToken(QString& s, QChar c, bool remove) {
    const qsizetype at = s.indexOf(c);
    if (at < 0) {
        QString token = s;
        if (remove) s.clear();
        return token;
    }
    QString token = s.left(at);
    if (remove) s.remove(0, at + 1);
    return token;
}

bool IsWine() {
    const int forced = gWineOverride.load();
    const bool wine = forced != 0 ? forced == 2 : dlsym(RTLD_DEFAULT, "wine_server_call") != nullptr;
    if (wine) WriteLog(QStringLiteral("WINE Detected"));
    return wine;
}

void SetWineOverride(std::optional<bool> value) {
    gWineOverride.store(!value ? 0 : (*value ? 2 : 1));
}
