// Date, time and decimal-separator conventions of the system's regional settings.
#pragma once

#include <QChar>
#include <QDateTime>
#include <QString>

// The system's decimal separator; tests may set it to try both "." and "," systems.
QChar SystemDecimalSeparator();
void SetSystemDecimalSeparator(QChar separator);
void ResetSystemDecimalSeparator();

// The system's short date and long time formats; without regional settings (the C locale)
// day.month.year and hours:minutes:seconds.
QString ShortDateFormat();
QString LongTimeFormat();

// "date time" as the log writes it.
QString FormatDateTime(const QDateTime& moment);
