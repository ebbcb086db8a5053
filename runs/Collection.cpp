// SPDX-License-Identifier: GPL-3.0-or-later
#include "runs/Collection.h"

#include "core/Functions.h"
#include "core/Settings.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// A key's number within [low, high]; `fallback` when missing, not a number or out of range.
double Number(const tSettings& file, const char* key, double fallback, double low, double high) {
    const QString text = file.GetSettingByName(QString::fromLatin1(key)).trimmed();
    double value = 0;
    if (text.isEmpty() || !ParseFloat(text, value) || !std::isfinite(value) || value < low || value > high)
        return fallback;
    return value;
}

QString Plain(double value) {
    return QString::number(value, 'g', 12);
}

} // namespace

tCollection ReadCollection(const tSettings& file, tCollection c) {
    constexpr double kDay = 24 * 3600;
    c.Duration = Number(file, "Duration", c.Duration, 0, kDay);
    c.StartDelay = Number(file, "StartDelay", c.StartDelay, 0, 3600);
    c.PreTrigger = Number(file, "PreTrigger", c.PreTrigger, 0, kMaxPreTrigger);
    const QString level = file.GetSettingByName(QStringLiteral("TriggerLevel")).trimmed();
    double value = 0;
    if (level.compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0)
        c.Trigger = false;
    else if (!level.isEmpty() && ParseFloat(level, value) && std::isfinite(value)) {
        c.Trigger = true;
        c.TriggerLevel = value;
    }
    const QString slope = file.GetSettingByName(QStringLiteral("TriggerSlope")).trimmed().toLower();
    if (slope == QStringLiteral("up")) c.TriggerRising = true;
    if (slope == QStringLiteral("down")) c.TriggerRising = false;
    return c;
}

QStringList CollectionLines(const tCollection& c) {
    return {
        QStringLiteral("Duration=") + Plain(c.Duration), QStringLiteral("StartDelay=") + Plain(c.StartDelay),
        QStringLiteral("TriggerLevel=") + (c.Trigger ? Plain(c.TriggerLevel) : QStringLiteral("off")),
        QStringLiteral("TriggerSlope=") + (c.TriggerRising ? QStringLiteral("up") : QStringLiteral("down")),
        QStringLiteral("PreTrigger=") + Plain(c.PreTrigger)};
}

QString DescribeCollection(const tCollection& c) {
    const auto number = [](double v) { return QLocale().toString(v, 'g', 6); };
    QStringList parts;
    if (c.StartDelay > 0) parts << QStringLiteral("задержка %1 с").arg(number(c.StartDelay));
    if (c.Trigger) {
        QString trigger = (c.TriggerRising ? QStringLiteral("запуск при росте выше %1")
                                           : QStringLiteral("запуск при спаде ниже %1"))
                              .arg(number(c.TriggerLevel));
        if (c.PreTrigger > 0) trigger += QStringLiteral(" (и %1 с до него)").arg(number(c.PreTrigger));
        parts << trigger;
    }
    if (c.Duration > 0) parts << QStringLiteral("длительность %1 с").arg(number(c.Duration));
    return parts.join(QStringLiteral(", "));
}

namespace {
// Whole microseconds of a setting in seconds (settings are read within their ranges).
std::int64_t Microseconds(double seconds) {
    return std::llround(std::clamp(seconds, 0.0, 1e12) * 1e6);
}
} // namespace

tCollector::tCollector(const tCollection& collection, std::int64_t periodUs)
    : FSettings(collection), FPeriodUs(std::max<std::int64_t>(periodUs, 0)),
      FDurationUs(Microseconds(collection.Duration)), FPreTriggerUs(Microseconds(collection.PreTrigger)),
      FPhase(collection.Trigger ? tPhase::Waiting : tPhase::Recording) {}

double tCollector::Seconds(std::int64_t index) const {
    return double((index - FZero) * FPeriodUs) / 1e6;
}

void tCollector::Feed(std::int64_t index, double y, std::vector<tCollectedPoint>& out) {
    const double before = FPrevious;
    const bool hadPrevious = FHasPrevious;
    FPrevious = y;
    FHasPrevious = true;
    if (FPhase == tPhase::Done) return;
    if (FPhase == tPhase::Waiting) {
        const double level = FSettings.TriggerLevel;
        const bool crossed = hadPrevious && (FSettings.TriggerRising ? before < level && y >= level
                                                                     : before > level && y <= level);
        if (!crossed) {
            // The moments before a crossing to come: at most PreTrigger seconds of them.
            if (FPreTriggerUs > 0) {
                FBefore.push_back({index, y});
                while (!FBefore.empty() && (index - FBefore.front().Index) * FPeriodUs > FPreTriggerUs)
                    FBefore.pop_front();
            }
            return;
        }
        FPhase = tPhase::Recording;
        FZero = index;
        for (const tKept& p : FBefore)
            if ((index - p.Index) * FPeriodUs <= FPreTriggerUs) out.push_back({Seconds(p.Index), p.Y});
        FBefore.clear();
    }
    const std::int64_t us = (index - FZero) * FPeriodUs;
    if (FDurationUs > 0 && us > FDurationUs) {
        FPhase = tPhase::Done;
        return;
    }
    const double x = Seconds(index);
    out.push_back({x, y});
    FLastX = x;
    if (FDurationUs > 0 && us + FPeriodUs > FDurationUs) FPhase = tPhase::Done;
}

double tCollector::Remaining() const {
    if (!(FSettings.Duration > 0)) return -1;
    if (FPhase == tPhase::Waiting) return FSettings.Duration;
    return std::max(0.0, FSettings.Duration - FLastX);
}
