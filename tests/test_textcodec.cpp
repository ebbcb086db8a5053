// Text files: UTF-8 or cp1251 detection, code-page tables, line splitting.
#include "core/TextCodec.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

TEST(TextCodec, DecodesUtf8WhenValidElseCp1251) {
    const struct {
        QByteArray bytes;
        QString text;
        bool utf8;
    } rows[] = {
        {"plain", QStringLiteral("plain"), true},
        {QStringLiteral("Привет").toUtf8(), QStringLiteral("Привет"), true},
        {"\xEF\xBB\xBFTimeout=1", QStringLiteral("Timeout=1"), true},
        {"\xcf\xf0\xe8\xe2\xe5\xf2", QStringLiteral("Привет"), false},
        {"\xb8\xa8\xb9", QStringLiteral("ёЁ№"), false},
        {"\xd0", QStringLiteral("Р"), false},
    };
    for (const auto& row : rows) {
        bool utf8 = false;
        EXPECT_EQ(DecodeTextFile(row.bytes, &utf8), row.text) << row.bytes.toHex().constData();
        EXPECT_EQ(utf8, row.utf8) << row.bytes.toHex().constData();
    }
}

TEST(TextCodec, CodePagesRoundTripEveryDefinedByte) {
    for (const tCodePage page : {tCodePage::Cp1251, tCodePage::Cp1252}) {
        QByteArray all;
        for (int b = 0; b < 256; ++b) all += char(b);
        EXPECT_EQ(EncodeCodePage(DecodeCodePage(all, page), page), all);
    }
    EXPECT_EQ(DecodeCodePage("\x80\xe9", tCodePage::Cp1252), QStringLiteral("€é"));
    EXPECT_EQ(EncodeCodePage(QStringLiteral("Жи漢"), tCodePage::Cp1251), QByteArray("\xc6\xe8?"));
}

TEST(TextCodec, SplitsLinesOnEveryKindOfEnd) {
    const struct {
        const char* text;
        QStringList lines;
    } rows[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\r\rb", {"a", "", "b"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SplitTextLines(QString::fromLatin1(row.text)), row.lines) << row.text;
}
