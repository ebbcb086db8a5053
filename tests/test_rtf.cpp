// RTF reading and writing: round trips, documents written by another program, control words, hostile input.
#include "core/Exception.h"
#include "support/MessageCollector.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"
#include "widgets/Metafile.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfReader.h"
#include "widgets/RtfWriter.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QPageLayout>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// A one-colour PNG picture's bytes.
QByteArray Png(int width, int height, const QColor& colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QTextDocument* Read(const QByteArray& rtf) {
    auto* document = new QTextDocument;
    ReadRtf(rtf, *document);
    return document;
}

// The text with every character as read (no-break spaces and line separators kept), paragraphs as "\n".
QString TextOf(const QByteArray& rtf) {
    std::unique_ptr<QTextDocument> document(Read(rtf));
    return document->toRawText().replace(QChar::ParagraphSeparator, u'\n');
}

// Every fragment's text with its format, the tables and the pictures, in document order.
QStringList Describe(const QTextDocument& document) {
    QStringList out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        // Empty spacer paragraphs around tables are the text engine's own.
        if (block.length() <= 1 && !QTextCursor(block).currentTable()) continue;
        QString line =
            QStringLiteral("[%1]").arg(int(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask));
        if (QTextTable* table = QTextCursor(block).currentTable()) {
            const QTextTableCell cell = table->cellAt(block.position());
            line += QStringLiteral("cell%1,%2/%3x%4 ")
                        .arg(cell.row())
                        .arg(cell.column())
                        .arg(table->rows())
                        .arg(table->columns());
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QTextCharFormat c = f.charFormat();
            if (c.isImageFormat()) {
                const QTextImageFormat image = c.toImageFormat();
                const bool jpeg = image.property(kImageKindProperty).toString() == QStringLiteral("jpeg");
                line += QStringLiteral("<img %1x%2%3>")
                            .arg(image.width())
                            .arg(image.height())
                            .arg(jpeg ? QStringLiteral(" jpeg") : QString());
                continue;
            }
            line += QStringLiteral("{%1|%2%3%4%5|%6|%7|%8}")
                        .arg(f.text())
                        .arg(c.fontWeight() >= QFont::DemiBold ? QStringLiteral("b") : QString())
                        .arg(c.fontItalic() ? QStringLiteral("i") : QString())
                        .arg(c.fontUnderline() ? QStringLiteral("u") : QString())
                        .arg(c.fontStrikeOut() ? QStringLiteral("s") : QString())
                        .arg(c.fontPointSize())
                        .arg(c.hasProperty(QTextFormat::ForegroundBrush) ? c.foreground().color().name()
                                                                         : QString())
                        .arg(c.hasProperty(QTextFormat::BackgroundBrush) ? c.background().color().name()
                                                                         : QString());
        }
        out.append(line);
    }
    return out;
}

QByteArray Jpeg() {
    QImage image(32, 20, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

QByteArray LibreOfficeFile(const char* name) {
    return ReadFile(QStringLiteral(RTF_DATA_DIR "/") + QString::fromLatin1(name));
}

// Little-endian records of a metafile.
QByteArray Le(std::initializer_list<std::pair<int, int>> fields) {
    QByteArray bytes;
    for (const auto& [value, width] : fields)
        for (int i = 0; i < width; ++i) bytes += char(value >> (8 * i) & 0xFF);
    return bytes;
}

// A WMF drawing a thick black line across the middle of its 1000 × 600 window, from x = 100 to x = 900.
QByteArray Wmf() {
    const QByteArray records = Le({{4, 4}, {0x0103, 2}, {8, 2}}) +                          // anisotropic
                               Le({{5, 4}, {0x020B, 2}, {0, 2}, {0, 2}}) +                  // window origin
                               Le({{5, 4}, {0x020C, 2}, {600, 2}, {1000, 2}}) +             // window extent
                               Le({{8, 4}, {0x02FA, 2}, {0, 2}, {60, 2}, {0, 2}, {0, 4}}) + // black pen
                               Le({{4, 4}, {0x012D, 2}, {0, 2}}) +
                               Le({{5, 4}, {0x0214, 2}, {300, 2}, {100, 2}}) +
                               Le({{5, 4}, {0x0213, 2}, {300, 2}, {900, 2}}) + Le({{3, 4}, {0, 2}});
    return Le({{1, 2}, {9, 2}, {0x0300, 2}, {int(9 + records.size() / 2), 4}, {1, 2}, {8, 4}, {0, 2}}) +
           records;
}

// An EMF drawing the same line in a 1000 × 600 frame, with a pen 60 units wide or one pixel wide (cosmetic).
QByteArray Emf(bool cosmetic) {
    const QByteArray records =
        Le({{38, 4}, {28, 4}, {1, 4}, {cosmetic ? 0 : 0x10000, 4}, {60, 4}, {0, 4}, {0, 4}}) +
        Le({{37, 4}, {12, 4}, {1, 4}}) + Le({{27, 4}, {16, 4}, {100, 4}, {300, 4}}) +
        Le({{54, 4}, {16, 4}, {900, 4}, {300, 4}}) + Le({{14, 4}, {20, 4}, {0, 4}, {16, 4}, {20, 4}});
    return Le({{1, 4},
               {88, 4},
               {0, 4},
               {0, 4},
               {1000, 4},
               {600, 4},
               {0, 4},
               {0, 4},
               {26458, 4},
               {15875, 4},
               {0x464D4520, 4},
               {0x10000, 4},
               {int(88 + records.size()), 4},
               {6, 4},
               {2, 2},
               {0, 2},
               {0, 4},
               {0, 4},
               {0, 4},
               {1024, 4},
               {768, 4},
               {271, 4},
               {203, 4}}) +
           records;
}

// The share of columns between two fractions of the image's width that are dark within two rows of a height.
double DarkShare(const QImage& image, double y, double from, double to) {
    int dark = 0;
    const int first = int(from * image.width());
    const int last = int(to * image.width());
    const int row = int(y * image.height());
    for (int x = first; x < last; ++x)
        for (int r = std::max(0, row - 2); r <= std::min(image.height() - 1, row + 2); ++r)
            if (const QColor c = image.pixelColor(x, r); c.alpha() > 100 && c.lightness() < 96) {
                ++dark;
                break;
            }
    return double(dark) / std::max(1, last - first);
}

} // namespace

TEST(Rtf, ADocumentWrittenAndReadAgainIsTheSame) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centred);
    QTextCharFormat title;
    title.setFontFamilies({QStringLiteral("DejaVu Sans")});
    title.setFontPointSize(16);
    title.setFontWeight(QFont::Bold);
    title.setForeground(QColor(31, 79, 154));
    cursor.insertText(QStringLiteral("Отчёт «№ 1» {скобки} \\ слэш"), title);
    QTextBlockFormat justified;
    justified.setAlignment(Qt::AlignJustify);
    justified.setLeftMargin(24);
    justified.setTextIndent(12);
    cursor.insertBlock(justified);
    QTextCharFormat plain;
    plain.setFontPointSize(12);
    cursor.insertText(QStringLiteral("Обычный, "), plain);
    QTextCharFormat styled = plain;
    styled.setFontItalic(true);
    styled.setFontUnderline(true);
    styled.setBackground(QColor(255, 255, 0));
    cursor.insertText(QStringLiteral("курсив\tс табуляцией"), styled);
    QTextCharFormat struck = plain;
    struck.setFontStrikeOut(true);
    cursor.insertText(QStringLiteral(" и зачёркнутый ✓"), struck);
    cursor.insertBlock(QTextBlockFormat());
    QTextTableFormat tableFormat;
    tableFormat.setColumnWidthConstraints(
        {QTextLength(QTextLength::FixedLength, 100), QTextLength(QTextLength::FixedLength, 140)});
    QTextTable* table = cursor.insertTable(3, 2, tableFormat);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c)
            table->cellAt(r, c).firstCursorPosition().insertText(QStringLiteral("я%1%2").arg(r).arg(c),
                                                                 plain);
    cursor = table->lastCursorPosition();
    cursor.movePosition(QTextCursor::NextBlock);
    QImage png(16, 8, QImage::Format_ARGB32);
    png.fill(Qt::red);
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("png")), png);
    QTextImageFormat pngFormat;
    pngFormat.setName(QStringLiteral("png"));
    pngFormat.setWidth(16);
    pngFormat.setHeight(8);
    cursor.insertImage(pngFormat);
    const QByteArray jpeg = Jpeg();
    QImage jpegImage;
    jpegImage.loadFromData(jpeg, "JPEG");
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("jpeg")), jpegImage);
    QTextImageFormat jpegFormat;
    jpegFormat.setName(QStringLiteral("jpeg"));
    jpegFormat.setWidth(64);
    jpegFormat.setHeight(40);
    jpegFormat.setProperty(kImageBytesProperty, jpeg);
    jpegFormat.setProperty(kImageKindProperty, QStringLiteral("jpeg"));
    cursor.insertImage(jpegFormat);

    const QByteArray rtf = WriteRtf(document);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
    for (const char c : rtf) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "7-bit RTF for every reader";
    std::unique_ptr<QTextDocument> back(Read(rtf));
    EXPECT_EQ(Describe(*back), Describe(document));
    const auto withoutBlankLines = [](const QTextDocument& d) {
        return d.toPlainText().split(u'\n', Qt::SkipEmptyParts);
    };
    EXPECT_EQ(withoutBlankLines(*back), withoutBlankLines(document));

    // The JPEG is written back as the same JPEG bytes.
    bool sawJpeg = false;
    for (QTextBlock block = back->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat() &&
                it.fragment().charFormat().property(kImageKindProperty).toString() ==
                    QStringLiteral("jpeg")) {
                EXPECT_EQ(it.fragment().charFormat().property(kImageBytesProperty).toByteArray(), jpeg);
                sawJpeg = true;
            }
    EXPECT_TRUE(sawJpeg);
    // And a second round changes nothing more.
    EXPECT_TRUE(WriteRtf(*back) == WriteRtf(*std::unique_ptr<QTextDocument>(Read(WriteRtf(*back)))));
}

TEST(Rtf, DocumentsWrittenByLibreOffice) {
    std::unique_ptr<QTextDocument> report(Read(LibreOfficeFile("libreoffice-report.rtf")));
    const QStringList lines = Describe(*report);
    const QString text = report->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Лабораторная работа № 3")));
    EXPECT_TRUE(text.contains(QStringLiteral("Ёлка, «кавычки» — тире.")));
    EXPECT_TRUE(lines.join(u'\n').contains(QStringLiteral("{температуру|b")));
    EXPECT_TRUE(lines.join(u'\n').contains(QStringLiteral("{построить|i")));
    EXPECT_TRUE(lines.join(u'\n').contains(QStringLiteral("{Подпись учителя|u")));
    int cells = 0;
    int images = 0;
    for (const QString& line : lines) {
        if (line.contains(QStringLiteral("cell"))) ++cells;
        if (line.contains(QStringLiteral("<img 40x30>"))) ++images;
        if (line.contains(QStringLiteral("Лабораторная"))) {
            EXPECT_TRUE(line.startsWith(QStringLiteral("[%1]").arg(int(Qt::AlignHCenter))));
        }
    }
    EXPECT_EQ(cells, 6) << lines.join(u'\n').toStdString();
    EXPECT_EQ(images, 1) << "the PNG is read, its metafile twin is not";
    EXPECT_TRUE(lines.join(u'\n').contains(QStringLiteral("cell2,1/3x2 {34,0")));

    std::unique_ptr<QTextDocument> colours(Read(LibreOfficeFile("libreoffice-colours.rtf")));
    const QString all = Describe(*colours).join(u'\n');
    EXPECT_TRUE(all.contains(QStringLiteral("{Красный текст||12|#c00000|}"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("{выделенный||12||#ffff00}"))) << all.toStdString();
    EXPECT_TRUE(
        colours->toPlainText().contains(QStringLiteral("Съешь же ещё этих мягких французских булок")));
}

// The sample catalogue's description saved by Word: cp1251 text, sub- and superscripts, a formula object.
TEST(Rtf, TheSampleDescriptionSavedByWord) {
    std::unique_ptr<QTextDocument> document(
        Read(ReadFile(QStringLiteral(SAMPLE_DATA_DIR "/Химия/Нейтрализация кислоты щёлочью/descr.rtf"))));
    const QString text = document->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Измерить тепловой эффект реакции нейтрализации")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("HCl + NaOH → NaCl + H2O")));
    QStringList scripts;
    int drawn = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.verticalAlignment() == QTextCharFormat::AlignSubScript)
                scripts += QStringLiteral("_") + it.fragment().text();
            if (format.verticalAlignment() == QTextCharFormat::AlignSuperScript)
                scripts += QStringLiteral("^") + it.fragment().text();
            if (!format.isImageFormat()) continue;
            const QImage image =
                document->resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()))
                    .value<QImage>();
            for (double y = 0.1; y < 0.9; y += 0.05) drawn += DarkShare(image, y, 0, 1) > 0.05;
            EXPECT_FALSE(format.property(kImageHeaderProperty).toByteArray().isEmpty())
                << "kept for the save";
        }
    EXPECT_EQ(scripts.join(u' '), QStringLiteral("_2 ^3 ^3 ^3 _1 _2"));
    EXPECT_GE(drawn, 3) << "the formula's letters are drawn";

    // The formula alone, on the screen and on paper, at the size Word gave it (\picwgoal2076 \pichgoal420:
    // 138 × 28 pixels): its ink spans most of that box.
    const QByteArray rtf =
        ReadFile(QStringLiteral(SAMPLE_DATA_DIR "/Химия/Нейтрализация кислоты щёлочью/descr.rtf"));
    const qsizetype object = rtf.indexOf("{\\object");
    ASSERT_GE(object, 0);
    int depth = 0;
    qsizetype end = object;
    for (; end < rtf.size(); ++end) {
        depth += rtf[end] == '{' ? 1 : rtf[end] == '}' ? -1 : 0;
        if (depth == 0) break;
    }
    std::unique_ptr<QTextDocument> formula(
        Read("{\\rtf1\\ansi\\ansicpg1251 " + rtf.mid(object, end - object + 1) + "}"));
    const auto inkBox = [](const QImage& image) {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) box |= QRect(x, y, 1, 1);
        return box;
    };
    QImage screen(400, 100, QImage::Format_RGB32);
    screen.fill(Qt::white);
    {
        QPainter painter(&screen);
        formula->drawContents(&painter);
    }
    const QRect onScreen = inkBox(screen);
    EXPECT_GT(onScreen.width(), 100) << "a formula, not a squiggle";
    EXPECT_LE(onScreen.width(), 140);
    EXPECT_GT(onScreen.height(), 12);
    EXPECT_LE(onScreen.height(), 30);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) return;
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("formula.pdf"));
    SaveDocumentPdf(pdf, *formula, QStringLiteral("Формула"),
                    QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(25, 25, 25, 25),
                                QPageLayout::Millimeter));
    QProcess process;
    process.start(QStringLiteral("pdftoppm"),
                  {QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-singlefile"),
                   QStringLiteral("-png"), pdf, dir.filePath(QStringLiteral("page"))});
    process.waitForFinished(60000);
    const QRect onPaper = inkBox(QImage(dir.filePath(QStringLiteral("page.png"))));
    EXPECT_NEAR(onPaper.width(), onScreen.width(), 6) << "paper as the screen";
    EXPECT_NEAR(onPaper.height(), onScreen.height(), 4);
}

TEST(Rtf, ControlWordsAndCodePages) {
    const struct {
        const char* rtf;
        const char* text;
    } rows[] = {
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2})", "Привет"},
        {R"({\rtf1\ansi \'e9t\'e9})", "été"},
        {R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fcharset204 Arial;}{\f1\fcharset0 Times;}}\f0\'e4\f1\'e4})",
         "дä"},
        {R"({\rtf1 \u1071?\u1079\'3f\uc2\u1082??\uc0\u1100 !})", "Язкь!"},
        {R"({\rtf1 \u-3913?})", "\xef\x82\xb7"},
        {R"({\rtf1 a\{b\}c\\d\~e\tab f\line g})", "a{b}c\\d\xc2\xa0"
                                                  "e\tf\xe2\x80\xa8g"},
        {R"({\rtf1 one\par two\par})", "one\ntwo"},
        {R"({\rtf1{\*\generator Writer;}{\info{\title T}}{\*\unknownword skipped}shown})", "shown"},
        {R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}}})", "link"},
        {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})", "—–•‘’“”"},
        {R"({\rtf1{\stylesheet{\s0 Normal;}}text})", "text"},
        // The document's code page for fonts without their own: no \fcharset, \fcharset0 or 1, the \deff
        // font, after \plain; \pc, \pca and \mac documents; every \fcharset its page.
        {R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0 Arial;}}\f0 \'ce\'ef\'e8\'f1\'e0\'ed\'e8\'e5})", "Описание"},
        {R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fnil\fcharset0 Calibri;}}\f0 \'c4\'e0})", "Да"},
        {R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset1 Calibri;}}\f0 \'c4\'e0})", "Да"},
        {R"({\rtf1\ansi\deff1{\fonttbl{\f0\fcharset0 Times;}{\f1\fcharset204 Arial;}}\'c4\'e0})", "Да"},
        {R"({\rtf1\ansi\deff1{\fonttbl{\f0\fcharset0 Times;}{\f1\fcharset204 Arial;}}\f0\'e4\plain\'e4})",
         "äд"},
        {R"({\rtf1\pc \'82t\'82\'d0})", "été╨"},
        {R"({\rtf1\pca \'82t\'82\'d0})", "étéð"},
        {R"({\rtf1\ansi\ansicpg866 \'8f\'e0\'a8\'a2\'a5\'e2})", "Привет"},
        {R"({\rtf1\mac \'8et\'8e})", "été"},
        {R"({\rtf1{\fonttbl{\f0\fcharset238 A;}}\f0\'9f\'b9})", "źą"},
        {R"({\rtf1{\fonttbl{\f0\fcharset161 A;}}\f0\'e1\'e2})", "αβ"},
        {R"({\rtf1{\fonttbl{\f0\fcharset162 A;}}\f0\'fe\'f0})", "şğ"},
        {R"({\rtf1{\fonttbl{\f0\fcharset177 A;}}\f0\'e0})", "א"},
        {R"({\rtf1{\fonttbl{\f0\fcharset178 A;}}\f0\'c7})", "ا"},
        {R"({\rtf1{\fonttbl{\f0\fcharset186 A;}}\f0\'e0})", "ą"},
        {R"({\rtf1{\fonttbl{\f0\fcharset222 A;}}\f0\'a1})", "ก"},
        // Double-byte pages: a lead byte waits for its trail, written as \'hh or as a plain character; a lead
        // byte cut off by a control word is dropped.
        {R"({\rtf1\ansi\ansicpg932 \'93\'fa\'96\'7b\'81[})", "日本ー"},
        {R"({\rtf1{\fonttbl{\f0\fcharset128 A;}}\f0\'82\'a0a\'83\par b})", "あa\nb"},
        {R"({\rtf1{\fonttbl{\f0\fcharset134 A;}}\f0\'c4\'e3\'ba\'c3})", "你好"},
        {R"({\rtf1{\fonttbl{\f0\fcharset129 A;}}\f0\'b0\'a1})", "가"},
        {R"({\rtf1{\fonttbl{\f0\fcharset136 A;}}\f0\'a7\'41})", "你"},
        {R"({\rtf1{\fonttbl{\f0\fcharset130 A;}}\f0\'88\'61})", "가"},
        // A text box shows its text in place, not the shape's properties nor the fallback for old readers.
        {R"({\rtf1 a {\shp{\*\shpinst\shpleft0{\sp{\sn shapeType}{\sv 202}}{\shptxt boxed}}{\shprslt old}} b})",
         "a boxed b"},
        // Hidden text, raw bytes in a skipped group, nothing after the final brace.
        {R"({\rtf1 shown{\v hidden \u1071?}\v0  too})", "shown too"},
        {"{\\rtf1{\\*\\unknown \\bin4 }{ab}text}", "text"},
        {"{\\rtf1 last}\n\0", "last"},
    };
    for (const auto& row : rows) EXPECT_EQ(TextOf(row.rtf), QString::fromUtf8(row.text)) << row.rtf;
    // A font's name in its own code page.
    QTextDocument document;
    ReadRtf(R"({\rtf1\ansi{\fonttbl{\f0\fcharset204 \'c0\'f0\'e8\'e0\'eb;}}\f0 x})", document);
    EXPECT_EQ(document.begin().begin().fragment().charFormat().fontFamilies().toStringList().value(0),
              QStringLiteral("Ариал"));
}

TEST(Rtf, PicturesInHexAndBinaryAndOtherKinds) {
    const QByteArray png = Png(5, 4, Qt::green);
    const QByteArray hex = "{\\rtf1{\\pict\\pngblip\\picwgoal150\\pichgoal120 " + png.toHex() + "}}";
    const QByteArray bin =
        "{\\rtf1{\\pict\\pngblip\\bin" + QByteArray::number(png.size()) + " " + png + "}after}";
    const QByteArray other = "{\\rtf1{\\pict\\wmetafile8\\picwgoal300\\pichgoal300 0102030405}}";
    EXPECT_EQ(Describe(*std::unique_ptr<QTextDocument>(Read(hex))),
              QStringList{QStringLiteral("[1]<img 10x8>")});
    EXPECT_EQ(Describe(*std::unique_ptr<QTextDocument>(Read(bin))).first().left(12),
              QStringLiteral("[1]<img 5x4>"));
    EXPECT_TRUE(TextOf(bin).endsWith(QStringLiteral("after")));
    EXPECT_EQ(Describe(*std::unique_ptr<QTextDocument>(Read(other))),
              QStringList{QStringLiteral("[1]<img 20x20>")})
        << "a picture kind we cannot show keeps its place";
}

TEST(Rtf, HostileInputNeverCrashesOrHangs) {
    QByteArray deep = "{\\rtf1 ";
    deep += QByteArray(200000, '{') + "deep" + QByteArray(200000, '}');
    const QByteArray rows[] = {
        "",
        "{",
        "}}}}{\\rtf1 text",
        "{\\rtf1 unbalanced}}}} more}",
        "{\\rtf1 \\fs99999999999999999999 \\li-99999999999 \\cf999 \\f-5 big}",
        "{\\rtf1 \\'4",
        "{\\rtf1 \\'",
        "{\\rtf1 \\",
        "{\\rtf1 {\\pict\\pngblip\\bin999999 abc",
        "{\\rtf1 {\\pict\\jpegblip ffd8ffe0zz}}",
        "{\\rtf1 \\uc99999 \\u65 abc}",
        "{\\rtf1 \\trowd\\cellx-5\\cellx99999999 a\\cell b\\cell\\row\\row\\cell\\cell}",
        "{\\rtf1 \\trowd\\cellx2147483647\\cellx2147483647\\cellx2147483647 a\\cell b\\cell c\\cell\\row}",
        "{\\rtf1 \\intbl x\\cell y\\par z}",
        deep,
        QByteArray(5000, '\\'),
        QByteArray("{\\rtf1 ") + QByteArray(100000, 'a') + QByteArray(1, '\0') + "b}",
    };
    for (const QByteArray& rtf : rows) {
        std::unique_ptr<QTextDocument> document(Read(rtf));
        (void)WriteRtf(*document);
    }
    EXPECT_TRUE(TextOf(deep).contains(QStringLiteral("deep")));
    EXPECT_TRUE(TextOf("{\\rtf1 unbalanced}}}} more}").contains(QStringLiteral("unbalanced")));
}

TEST(RichEdit, FilesAndTheFallbackOperations) {
    QTemporaryDir dir;
    TRichEdit edit;
    EXPECT_THROW(edit.LoadFromFile(dir.filePath(QStringLiteral("absent.rtf"))), Exception);
    edit.SetParagraphAlignment(Qt::AlignHCenter);
    edit.SetBold(true);
    edit.AddLine(QStringLiteral(" "));
    edit.AddLine(QStringLiteral("Описание недоступно."));
    const QString file = dir.filePath(QStringLiteral("saved.rtf"));
    edit.SaveToFile(file);
    TRichEdit again;
    again.LoadFromFile(file);
    EXPECT_EQ(again.toPlainText(), QStringLiteral(" \nОписание недоступно."));
    const QTextBlock last = again.document()->lastBlock();
    EXPECT_EQ(last.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_GE(last.begin().fragment().charFormat().fontWeight(), QFont::Bold);

    WriteFile(dir.filePath(QStringLiteral("plain.txt")), QStringLiteral("просто текст").toUtf8());
    again.LoadFromFile(dir.filePath(QStringLiteral("plain.txt")));
    EXPECT_EQ(again.toPlainText(), QStringLiteral("просто текст"));

    // A document above 20 MB is refused before it is read (the file is sparse: nothing is written).
    QFile huge(dir.filePath(QStringLiteral("huge.rtf")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.write("{\\rtf1 ") == 7 &&
                huge.resize(20 * 1024 * 1024 + 1));
    huge.close();
    EXPECT_THROW(again.LoadFromFile(huge.fileName()), Exception);
    EXPECT_EQ(again.toPlainText(), QStringLiteral("просто текст")) << "the document shown stays";
    ASSERT_TRUE(huge.resize(20 * 1024 * 1024));
    EXPECT_NO_THROW(again.LoadFromFile(huge.fileName()));
}

// A description opens at once: its formulas are drawn off the window's thread and take their places.
TEST(RichEdit, FormulasAreDrawnAfterTheTextShows) {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("descr.rtf"));
    WriteFile(file, "{\\rtf1 a{\\pict\\wmetafile8\\picwgoal1500\\pichgoal750 " + Wmf().toHex() + "}b}");
    TRichEdit edit;
    int drawn = 0;
    QObject::connect(&edit, &TRichEdit::pictureDrawn, [&] { ++drawn; });
    edit.LoadFromFile(file);
    const auto picture = [&] {
        return edit.document()
            ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("rtf-image-1")))
            .value<QImage>();
    };
    EXPECT_LE(std::max(picture().width(), picture().height()), 128) << "a placeholder first";
    EXPECT_TRUE(edit.toPlainText().startsWith(u'a'));
    ASSERT_TRUE(WaitUntil([&] { return drawn == 1; }));
    EXPECT_EQ(picture().size(), QSize(200, 100));
}

// A large document is read off the window's thread: «Загрузка…» read-only meanwhile, then the document,
// editable as before; a document asked for later wins, and a control that goes takes nothing with it.
TEST(RichEdit, ALargeDocumentIsReadOffTheWindowsThread) {
    QTemporaryDir folder;
    const QString large = folder.filePath(QStringLiteral("large.rtf"));
    const QString other = folder.filePath(QStringLiteral("other.rtf"));
    WriteFile(large, "{\\rtf1 " + QByteArray("{\\b x}y\\par ").repeated(80000) + "}");
    WriteFile(other, "{\\rtf1 " + QByteArray("{\\i z}w\\par ").repeated(80000) + "}");
    TRichEdit edit;
    int loaded = 0;
    QObject::connect(&edit, &TRichEdit::loaded, [&] { ++loaded; });
    edit.LoadFromFile(large);
    EXPECT_TRUE(edit.Loading());
    EXPECT_TRUE(edit.ShowsPlaceholder()) << "nothing of it is saved as the user's";
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.toPlainText().trimmed(), QStringLiteral("Загрузка…"));
    edit.LoadFromFile(other);
    // Objects let go are deleted meanwhile, as a dialog's event loop deletes them: the document read is
    // not one of them.
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return loaded > 0;
    }));
    QCoreApplication::processEvents();
    EXPECT_EQ(loaded, 1) << "the first one asked for never shows";
    EXPECT_FALSE(edit.Loading());
    EXPECT_FALSE(edit.ShowsPlaceholder());
    EXPECT_FALSE(edit.isReadOnly());
    QTextDocument expected;
    ReadRtf(ReadFile(other), expected);
    EXPECT_EQ(edit.toPlainText(), expected.toPlainText());
    edit.insertPlainText(QStringLiteral("!"));
    EXPECT_FALSE(edit.ShowsPlaceholder()) << "typed into, it is the user's";
    {
        TRichEdit gone;
        gone.LoadFromFile(large);
    }
    QCoreApplication::processEvents();
}

TEST(RichEdit, TabMovesBetweenTableCells) {
    TRichEdit edit;
    QTextCursor cursor(edit.document());
    cursor.insertText(QStringLiteral("Таблица"));
    QTextTable* table = cursor.insertTable(2, 2);
    table->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("a"));
    table->cellAt(0, 1).firstCursorPosition().insertText(QStringLiteral("b"));
    edit.setTextCursor(table->cellAt(0, 0).firstCursorPosition());
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&edit, &event);
        const QTextTableCell cell = table->cellAt(edit.textCursor());
        return std::make_pair(cell.row(), cell.column());
    };
    EXPECT_EQ(press(Qt::Key_Tab), std::make_pair(0, 1));
    EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("b")) << "the cell's text is selected";
    EXPECT_EQ(press(Qt::Key_Tab), std::make_pair(1, 0));
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), std::make_pair(0, 1));
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    EXPECT_EQ(press(Qt::Key_Tab), std::make_pair(2, 0)) << "Tab in the last cell adds a row";
    EXPECT_EQ(table->rows(), 3);
    edit.setReadOnly(true);
    EXPECT_EQ(press(Qt::Key_Tab), std::make_pair(2, 0)) << "a read-only text is not changed";
}

TEST(Rtf, SubscriptsSuperscriptsAndCapitalsSurviveASaveAndALoad) {
    const struct {
        const char* rtf;
        const char* marked; // the text that carries the mark
        QTextCharFormat::VerticalAlignment script;
        bool caps;
    } rows[] = {
        {R"({\rtf1 H{\sub 2}O})", "2", QTextCharFormat::AlignSubScript, false},
        {R"({\rtf1\ansicpg1251 \'f1\'ec{\super 3}})", "3", QTextCharFormat::AlignSuperScript, false},
        {R"({\rtf1 x\up6 2\up0  y})", "2", QTextCharFormat::AlignSuperScript, false},
        {R"({\rtf1 a\dn4 i\nosupersub  b})", "i", QTextCharFormat::AlignSubScript, false},
        {R"({\rtf1 {\caps capitals} rest})", "capitals", QTextCharFormat::AlignNormal, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rtf);
        QTextDocument first;
        ReadRtf(row.rtf, first);
        QTextDocument again;
        ReadRtf(WriteRtf(first), again);
        for (QTextDocument* document : {&first, &again}) {
            bool found = false;
            for (auto it = document->begin().begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const bool marked = fragment.text().trimmed() == QString::fromUtf8(row.marked);
                found = found || marked;
                EXPECT_EQ(fragment.charFormat().verticalAlignment(),
                          marked ? row.script : QTextCharFormat::AlignNormal)
                    << fragment.text().toStdString();
                EXPECT_EQ(fragment.charFormat().fontCapitalization() == QFont::AllUppercase,
                          marked && row.caps);
            }
            EXPECT_TRUE(found);
        }
    }
}

TEST(Rtf, ObjectsShowTheirResultAndShapesTheirPicture) {
    const QByteArray png = Png(4, 3, Qt::red);
    const QByteArray pict = "{\\pict\\pngblip\\picw4\\pich3 " + png.toHex() + "}";
    const QByteArray rows[] = {
        // A formula embedded by WordPad: its data skipped, its picture shown.
        "{\\rtf1 x{\\object\\objemb{\\*\\objclass Equation.3}\\objw80\\objh60{\\*\\objdata 0102}{\\result " +
            pict + "}}y}",
        // A floating picture: the shape's own picture, not its fallback.
        "{\\rtf1 x{\\shp{\\*\\shpinst{\\sp{\\sn pib}{\\sv " + pict +
            "}}}{\\shprslt {\\*\\do\\dobxcolumn fallback}}}y}",
    };
    for (const QByteArray& rtf : rows) {
        QTextDocument document;
        ReadRtf(rtf, document);
        int images = 0;
        for (auto it = document.begin().begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) ++images;
        EXPECT_EQ(images, 1) << rtf.left(60).toStdString();
        EXPECT_EQ(document.toPlainText().remove(QChar::ObjectReplacementCharacter), QStringLiteral("xy"));
    }
}

// A WMF or EMF formula is drawn at its shown size with its window filling the picture, and its bytes are
// written back unchanged by a save; a picture that cannot be drawn holds its place small; one that declares a
// huge size costs no memory for it.
TEST(Rtf, MetafilesAreDrawnAndKeptOtherPicturesCostLittle) {
    const struct {
        QByteArray kind;
        QByteArray data;
        bool drawn;
    } rows[] = {
        {"\\wmetafile8", Wmf(), true},
        {"\\wmetafile8", Wmf().replace(12, 4, QByteArray("\x00\x00\x00\x50", 4)),
         true}, // largest record 2.7 GB
        {"\\emfblip", Emf(false), true},
        {"\\emfblip", Emf(true), true},
        {"\\wmetafile8",
         QByteArray::fromHex("0100090000037a00000002001c00000000000400000003010800050000000b0200000000"),
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind.toStdString() + (row.drawn ? " drawn" : " not drawn"));
        const QByteArray header = row.kind + "\\picw2000\\pich1000";
        const QByteArray rtf =
            "{\\rtf1 a{\\pict" + header + "\\picwgoal1500\\pichgoal750 " + row.data.toHex() + "}b}";
        QTextDocument first;
        ReadRtf(rtf, first);
        QTextDocument again;
        const QByteArray saved = WriteRtf(first);
        EXPECT_TRUE(saved.contains(header + "\\picwgoal1500\\pichgoal750"));
        ReadRtf(saved, again);
        for (QTextDocument* document : {&first, &again}) {
            int images = 0;
            for (auto it = document->begin().begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (!format.isImageFormat()) continue;
                ++images;
                EXPECT_EQ(format.property(kImageBytesProperty).toByteArray(), row.data)
                    << "the formula's bytes unchanged";
                EXPECT_DOUBLE_EQ(format.toImageFormat().width(), 100);
                const QImage image =
                    document->resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()))
                        .value<QImage>();
                if (!row.drawn) continue;
                EXPECT_EQ(image.size(), QSize(200, 100)) << "drawn twice as fine as shown";
                EXPECT_GT(DarkShare(image, 0.5, 0.2, 0.8), 0.9) << "the line across the middle";
                EXPECT_EQ(DarkShare(image, 0.5, 0.0, 0.05), 0) << "the window's margin left of the line";
                EXPECT_EQ(DarkShare(image, 0.2, 0.0, 1.0), 0);
            }
            EXPECT_EQ(images, 1);
        }
    }
    // A drawn metafile declaring a huge size is drawn at most 1024 pixels a side.
    QTextDocument large;
    ReadRtf("{\\rtf1{\\pict\\wmetafile8\\picwgoal999999\\pichgoal999999 " + Wmf().toHex() + "}}", large);
    EXPECT_EQ(large.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("rtf-image-1")))
                  .value<QImage>()
                  .size(),
              QSize(1024, 1024));
    // Sixty formulas: the first fifty are drawn, the others keep their placeholders.
    QByteArray many = "{\\rtf1 ";
    for (int i = 0; i < 60; ++i)
        many += "{\\pict\\wmetafile8\\picwgoal1500\\pichgoal750 " + Wmf().toHex() + "}";
    many += "}";
    QTextDocument formulas;
    ReadRtf(many, formulas);
    int drawn = 0;
    for (int i = 1; i <= 60; ++i)
        if (formulas.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("rtf-image-%1").arg(i)))
                .value<QImage>()
                .size() == QSize(200, 100))
            ++drawn;
    EXPECT_EQ(drawn, kMaxDrawnPictures);
    // Fifteen pictures declaring 10000 × 10000 pixels: small placeholders.
    QByteArray huge = "{\\rtf1 ";
    for (int i = 0; i < 15; ++i) huge += "{\\pict\\emfblip\\picwgoal999999\\pichgoal999999 0102}";
    huge += "}";
    QTextDocument document;
    ReadRtf(huge, document);
    const QImage placeholder =
        document.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("rtf-image-1"))).value<QImage>();
    EXPECT_LE(std::max(placeholder.width(), placeholder.height()), 128);
}

// The converters are programs of their own: one that hangs is killed when its time is up, one that crashes,
// fails or is missing costs the picture only, which keeps a small placeholder and its bytes.
TEST(Rtf, AMetafileWhoseConverterFailsKeepsAPlaceholder) {
    QTemporaryDir folder;
    const auto script = [&](const char* name, const QByteArray& body) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        WriteFile(path, "#!/bin/sh\n" + body + "\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    };
    const QString rows[] = {
        script("hangs", "sleep 60"),
        script("crashes", "kill -SEGV $$"),
        script("fails", "echo 'cannot read' >&2; exit 1"),
        script("writes-nothing", "exit 0"),
        script("writes-garbage",
               "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done; echo '<svg' > \"$out\""),
        // Millions of points: drawing them would take minutes.
        script("writes-a-huge-drawing",
               "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done; "
               "{ echo '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><polygon "
               "points=\"'; "
               "head -c 5000000 /dev/zero | tr '\\0' '1'; echo '\"/></svg>'; } > \"$out\""),
        folder.filePath(QStringLiteral("missing")),
    };
    for (const QString& converter : rows) {
        SCOPED_TRACE(converter.toStdString());
        SetMetafileConverter(tMetafileKind::Wmf, converter);
        SetMetafileConverter(tMetafileKind::Emf, converter);
        for (const auto& [kind, data] :
             {std::pair{QByteArray("\\wmetafile8"), Wmf()}, {"\\emfblip", Emf(false)}}) {
            QTextDocument document;
            ReadRtf("{\\rtf1 a{\\pict" + kind + "\\picwgoal1500\\pichgoal750 " + data.toHex() + "}b}",
                    document);
            const QImage image =
                document.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("rtf-image-1")))
                    .value<QImage>();
            EXPECT_FALSE(image.isNull());
            EXPECT_LE(std::max(image.width(), image.height()), 128) << kind.toStdString();
            QByteArray kept;
            for (auto it = document.begin().begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().isImageFormat())
                    kept = it.fragment().charFormat().property(kImageBytesProperty).toByteArray();
            EXPECT_EQ(kept, data) << "the picture's bytes are kept";
        }
    }
    SetMetafileConverter(tMetafileKind::Wmf, QStringLiteral("wmf2svg"));
    SetMetafileConverter(tMetafileKind::Emf, QStringLiteral("emf2svg-conv"));
}

TEST(Rtf, EveryParagraphSurvivesSavesAndLoads) {
    const QStringList rows[] = {{"a", ""}, {"a", "", ""}, {"", "b"}, {""}, {"a", "b"}, {"", "", "c", ""}};
    for (const QStringList& paragraphs : rows) {
        SCOPED_TRACE(paragraphs.join(u'|').toStdString());
        QTextDocument document;
        document.setPlainText(paragraphs.join(u'\n'));
        for (int round = 0; round < 3; ++round) {
            QTextDocument back;
            ReadRtf(WriteRtf(document), back);
            EXPECT_EQ(back.blockCount(), paragraphs.size()) << "round " << round;
            EXPECT_EQ(back.toPlainText(), paragraphs.join(u'\n'));
            document.setHtml(back.toHtml());
        }
    }
}

TEST(Rtf, ALargeDocumentKeepsAllItsText) {
    const struct {
        const char* piece;
        int count;
        const char* letters; // each stands in the text `count` times
    } rows[] = {
        {"{\\b x}y", 150000, "xy"},                                                  // runs past the budget
        {"x\\par ", 150000, "x"},                                                    // paragraphs past it
        {"\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row ", 12000, "ab"}, // a table's rows
        {"\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row ", 60000, "ab"}, // and past the budget
        {"{\\b x}", 200000, "x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.piece);
        QByteArray rtf = "{\\rtf1\\ansi ";
        for (int i = 0; i < row.count; ++i) rtf += row.piece;
        rtf += '}';
        QTextDocument document;
        ReadRtf(rtf, document);
        const QString text = document.toPlainText();
        for (const char* letter = row.letters; *letter; ++letter)
            EXPECT_EQ(text.count(QLatin1Char(*letter)), row.count) << *letter;
        // The formats read within the budget stay.
        const bool bold = document.begin().begin().fragment().charFormat().fontWeight() == QFont::Bold;
        EXPECT_EQ(bold, QByteArray(row.piece).startsWith("{\\b"));
        // No paragraph carries more than the text engine lays out at once.
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            int fragments = 0;
            for (auto it = block.begin(); !it.atEnd(); ++it) ++fragments;
            ASSERT_LE(fragments, kMaxBlockRuns);
            ASSERT_LE(block.length() - 1, kMaxBlockCharacters);
        }
    }
    // A long paragraph goes on in paragraphs of its format, broken after a space.
    QTextDocument words;
    ReadRtf("{\\rtf1\\qc " + QByteArray("{\\b word} {\\i word} ").repeated(4000) + "}", words);
    EXPECT_EQ(words.toPlainText().count(QStringLiteral("word")), 8000);
    EXPECT_GE(words.blockCount(), 8);
    for (QTextBlock block = words.begin(); block.isValid(); block = block.next()) {
        EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        if (block.next().isValid()) {
            EXPECT_TRUE(block.text().endsWith(u' '));
        }
    }
    // Runs of one format are one run: a hundred thousand bold groups are one fragment.
    QTextDocument bold;
    ReadRtf("{\\rtf1 " + QByteArray("{\\b x}").repeated(100000) + "}", bold);
    int fragments = 0;
    for (auto it = bold.begin().begin(); !it.atEnd(); ++it) ++fragments;
    EXPECT_EQ(fragments, 1);
}
