// Shared helpers: number parsing on both decimal separators, rounding, token cutting, Wine detection.
#include "core/CommandLine.h"
#include "core/Functions.h"
#include "core/LocaleFormats.h"
#include "core/Logfile.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

TEST(Functions, LocalizeDecimalSeparator) {
    const struct {
        char16_t system;
        const char* text;
        const char* expected;
    } rows[] = {
        {u'.', "3,5", "3.5"}, {u'.', "3.5", "3.5"}, {u'.', "1,2,3", "1.2.3"},
        {u',', "3.5", "3,5"}, {u',', "3,5", "3,5"}, {u'\'', "3.5,1", "3.5,1"},
    };
    for (const auto& row : rows) {
        SetSystemDecimalSeparator(QChar(row.system));
        EXPECT_EQ(LocalizeDecimalSeparator(QString::fromLatin1(row.text)), QString::fromLatin1(row.expected));
    }
    ResetSystemDecimalSeparator();
}

TEST(Functions, ParseFloatOnBothSeparators) {
    const struct {
        const char* text;
        bool ok;
        double value;
    } rows[] = {
        {"3,5", true, 3.5},      {"3.5", true, 3.5},    {"-12,5", true, -12.5}, {"+2", true, 2},
        {" 7 ", true, 7},        {".5", true, 0.5},     {"5.", true, 5},        {"1e3", true, 1000},
        {"1,5E-2", true, 0.015}, {"0", true, 0},        {"abc", false, 0},      {"", false, 0},
        {"1.2.3", false, 0},     {"1,234.5", false, 0}, {"1e", false, 0},       {"--1", false, 0},
        {"12a", false, 0},       {"inf", false, 0},     {"1e999", false, 0},    {".", false, 0},
    };
    for (const char16_t system : {u'.', u','}) {
        SetSystemDecimalSeparator(QChar(system));
        for (const auto& row : rows) {
            double value = -777;
            EXPECT_EQ(ParseFloat(QString::fromLatin1(row.text), value), row.ok)
                << row.text << " on " << char(system);
            if (row.ok)
                EXPECT_DOUBLE_EQ(value, row.value) << row.text;
            else
                EXPECT_EQ(value, -777) << "a failed parse leaves the value alone";
        }
    }
    ResetSystemDecimalSeparator();
}

TEST(Functions, RoundHalf049) {
    const struct {
        double x;
        int expected;
    } rows[] = {
        {0.49, 1},
        {-0.49, -1},
        {0.488, 0},
        {2.49, 3},
        {2.48, 2},
        {-2.5, -3},
        {0, 0},
        {75.0, 75},
        {74.6, 75},
        {74.4, 74},
        {-0.1, 0},
        {1e12, std::numeric_limits<int>::max()},
        {-1e12, std::numeric_limits<int>::min()},
        {std::nan(""), 0},
    };
    for (const auto& row : rows) EXPECT_EQ(RoundHalf049(row.x), row.expected) << row.x;
}

TEST(Functions, CutToken) {
    const struct {
        const char* source;
        char separator;
        bool remove;
        const char* token;
        const char* rest;
    } rows[] = {
        {"a,b,c", ',', true, "a", "b,c"},
        {"abc", ',', true, "abc", ""},
        {"a,b,c", ',', false, "a", "a,b,c"},
        {",x", ',', true, "", "x"},
        {"x,", ',', true, "x", ""},
        {"", ',', true, "", ""},
        {"M401,2000", ',', true, "M401", "2000"},
    };
    for (const auto& row : rows) {
        QString source = QString::fromLatin1(row.source);
        EXPECT_EQ(CutToken(source, QChar::fromLatin1(row.separator), row.remove),
                  QString::fromLatin1(row.token));
        EXPECT_EQ(source, QString::fromLatin1(row.rest)) << row.source;
    }
}

TEST(Functions, IsWineLogsOnlyWhenDetected) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zorbinka.log"));
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/log")});
    LogFile = new tLogFile(path);

    EXPECT_FALSE(IsWine());
    EXPECT_TRUE(ReadFile(path).isEmpty());

    SetWineOverride(true);
    EXPECT_TRUE(IsWine());
    SetWineOverride(std::nullopt);
    EXPECT_FALSE(IsWine());

    delete LogFile;
    LogFile = nullptr;
    SetCommandLine({QStringLiteral("zorbinka")});
    const QStringList lines =
        QString::fromUtf8(ReadFile(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" WINE Detected")));
}
