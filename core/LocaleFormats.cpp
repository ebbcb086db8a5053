// Regional formats read from QLocale::system().
#include "core/LocaleFormats.h"

#include <QLocale>
#include <atomic>

namespace {

std::atomic<char16_t> gSeparator{0};

bool HasRegionalSettings() {
    return QLocale::system().language() != QLocale::C;
}

} // namespace

QChar SystemDecimalSeparator() {
    const char16_t forced = gSeparator.load();
    if (forced != 0) return QChar(forced);
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 ? point[0] : QChar(u'.');
}

void SetSystemDecimalSeparator(QChar separator) {
    gSeparator.store(separator.unicode());
}

void ResetSystemDecimalSeparator() {
    gSeparator.store(0);
}

QString ShortDateFormat() {
    if (!HasRegionalSettings()) return QStringLiteral("dd.MM.yyyy");
    return QLocale::system().dateFormat(QLocale::ShortFormat);
}

QString LongTimeFormat() {
    if (!HasRegionalSettings()) return QStringLiteral("HH:mm:ss");
    // The long format may name the time zone ("t"); the clock and the log show the time only.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(u't');
    return format.trimmed();
}

QString FormatDateTime(const QDateTime& moment) {
    return moment.toString(ShortDateFormat()) + u' ' + moment.toString(LongTimeFormat());
}
