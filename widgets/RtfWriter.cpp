// The RTF writer: fonts and colours collected into tables, paragraphs, tables and pictures, non-ASCII text as
// \uN.
#include "widgets/RtfWriter.h"

#include "widgets/RtfReader.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <cmath>
#include <limits>
#include <vector>

namespace {

int Twips(double pixels) {
    return int(std::lround(pixels * 15));
}

class tWriter {
public:
    explicit tWriter(const QTextDocument& document) : FDocument(document) {}

    QByteArray Run() {
        QByteArray body;
        WriteFrame(FDocument.rootFrame(), body);
        QByteArray out = "{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1{\\fonttbl";
        for (int i = 0; i < FFonts.size(); ++i)
            out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset204 " + Escape(FFonts[i]) + ";}";
        out += "}\r\n{\\colortbl;";
        for (const QColor& color : FColors)
            out += "\\red" + QByteArray::number(color.red()) + "\\green" + QByteArray::number(color.green()) +
                   "\\blue" + QByteArray::number(color.blue()) + ";";
        out += "}\r\n\\viewkind4\r\n";
        out += body;
        out += "}\r\n";
        return out;
    }

private:
    int FontIndex(const QString& family) {
        const QString name = family.isEmpty() ? QStringLiteral("Tahoma") : family;
        qsizetype index = FFonts.indexOf(name);
        if (index < 0) {
            FFonts.append(name);
            index = FFonts.size() - 1;
        }
        return int(index);
    }

    // Colour table index; 0 is "automatic".
    int ColorIndex(const QColor& color) {
        for (int i = 0; i < int(FColors.size()); ++i)
            if (FColors[size_t(i)] == color) return i + 1;
        FColors.push_back(color);
        return int(FColors.size());
    }

    static QByteArray Escape(const QString& text) {
        QByteArray out;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u == '\\' || u == '{' || u == '}') {
                out += '\\';
                out += char(u);
            } else if (u == '\t') {
                out += "\\tab ";
            } else if (u == QChar::LineSeparator) {
                out += "\\line ";
            } else if (u == 0x00A0) {
                out += "\\~";
            } else if (u >= 0x20 && u < 0x80) {
                out += char(u);
            } else if (u >= 0x80) {
                // A Unicode character with '?' for readers that do not know \u.
                out += "\\u" + QByteArray::number(qint16(u)) + "?";
            }
        }
        return out;
    }

    QByteArray CharacterFormat(const QTextCharFormat& format) {
        QByteArray out = "\\plain";
        const QStringList families = format.fontFamilies().toStringList();
        out += "\\f" + QByteArray::number(FontIndex(families.isEmpty() ? QString() : families.first()));
        const double points = format.fontPointSize() > 0 ? format.fontPointSize() : 12;
        out += "\\fs" + QByteArray::number(int(std::lround(points * 2)));
        if (format.fontWeight() >= QFont::DemiBold) out += "\\b";
        if (format.fontItalic()) out += "\\i";
        if (format.fontUnderline()) out += "\\ul";
        if (format.fontStrikeOut()) out += "\\strike";
        if (format.verticalAlignment() == QTextCharFormat::AlignSuperScript) out += "\\super";
        if (format.verticalAlignment() == QTextCharFormat::AlignSubScript) out += "\\sub";
        if (format.fontCapitalization() == QFont::AllUppercase) out += "\\caps";
        if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
            out += "\\cf" + QByteArray::number(ColorIndex(format.foreground().color()));
        if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
            out += "\\highlight" + QByteArray::number(ColorIndex(format.background().color()));
        return out + ' ';
    }

    static QByteArray BlockFormat(const QTextBlockFormat& format, bool inTable) {
        QByteArray out = "\\pard";
        if (inTable) out += "\\intbl";
        const Qt::Alignment align = format.alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignHCenter)
            out += "\\qc";
        else if (align & Qt::AlignRight)
            out += "\\qr";
        else if (align & Qt::AlignJustify)
            out += "\\qj";
        else
            out += "\\ql";
        if (format.leftMargin() > 0) out += "\\li" + QByteArray::number(Twips(format.leftMargin()));
        if (format.rightMargin() > 0) out += "\\ri" + QByteArray::number(Twips(format.rightMargin()));
        if (format.textIndent() != 0) out += "\\fi" + QByteArray::number(Twips(format.textIndent()));
        if (format.topMargin() > 0) out += "\\sb" + QByteArray::number(Twips(format.topMargin()));
        if (format.bottomMargin() > 0) out += "\\sa" + QByteArray::number(Twips(format.bottomMargin()));
        for (const QTextOption::Tab& tab : format.tabPositions())
            out += "\\tx" + QByteArray::number(Twips(tab.position));
        return out + ' ';
    }

    QByteArray Picture(const QTextImageFormat& format) {
        QByteArray bytes = format.property(kImageBytesProperty).toByteArray();
        QByteArray kind = format.property(kImageKindProperty).toString().toLatin1();
        const QImage image =
            FDocument.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
        // A picture kept in its own form (WMF, EMF) goes back as it came, only its shown size as set now.
        if (const QByteArray header = format.property(kImageHeaderProperty).toByteArray();
            !header.isEmpty() && !bytes.isEmpty()) {
            QByteArray out = "{\\pict" + header + "\\picwgoal" + QByteArray::number(Twips(format.width())) +
                             "\\pichgoal" + QByteArray::number(Twips(format.height())) + "\r\n";
            const QByteArray hex = bytes.toHex();
            for (qsizetype i = 0; i < hex.size(); i += 128) out += hex.mid(i, 128) + "\r\n";
            return out + "}";
        }
        if (bytes.isEmpty() || (kind != "png" && kind != "jpeg")) {
            if (image.isNull()) return {};
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            kind = "png";
        }
        const double width = format.width() > 0 ? format.width() : image.width();
        const double height = format.height() > 0 ? format.height() : image.height();
        QByteArray out = "{\\pict\\" + kind + "blip\\picw" + QByteArray::number(image.width()) + "\\pich" +
                         QByteArray::number(image.height()) + "\\picwgoal" +
                         QByteArray::number(Twips(width)) + "\\pichgoal" + QByteArray::number(Twips(height)) +
                         "\r\n";
        const QByteArray hex = bytes.toHex();
        for (qsizetype i = 0; i < hex.size(); i += 128) out += hex.mid(i, 128) + "\r\n";
        return out + "}";
    }

    void WriteBlock(const QTextBlock& block, bool inTable, QByteArray& out) {
        out += BlockFormat(block.blockFormat(), inTable);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat()) {
                const QString text = fragment.text();
                for (int i = 0; i < text.size(); ++i) out += Picture(format.toImageFormat());
                continue;
            }
            out += "{" + CharacterFormat(format) + Escape(fragment.text()) + "}";
        }
    }

    void WriteTable(QTextTable* table, QByteArray& out) {
        const QTextTableFormat format = table->format();
        const QList<QTextLength> widths = format.columnWidthConstraints();
        for (int r = 0; r < table->rows(); ++r) {
            out += "\\trowd\\trgaph70";
            // Summed wide: a table read with absurd widths must not overflow.
            long long right = 0;
            for (int c = 0; c < table->columns(); ++c) {
                const double width = c < widths.size() && widths[c].type() == QTextLength::FixedLength
                                         ? widths[c].rawValue()
                                         : 120;
                right += Twips(width);
                out += "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10\\clbrdrr"
                       "\\brdrs\\brdrw10"
                       "\\cellx" +
                       QByteArray::number(std::min<long long>(right, std::numeric_limits<int>::max()));
            }
            out += "\r\n";
            for (int c = 0; c < table->columns(); ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                bool first = true;
                for (QTextFrame::iterator it = cell.begin(); !it.atEnd(); ++it) {
                    if (!it.currentBlock().isValid()) continue;
                    if (!first) out += "\\par\r\n";
                    WriteBlock(it.currentBlock(), true, out);
                    first = false;
                }
                out += "\\cell\r\n";
            }
            out += "\\row\r\n";
        }
    }

    void WriteFrame(QTextFrame* frame, QByteArray& out) {
        bool first = true;
        bool lastEmpty = false;
        for (QTextFrame::iterator it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (auto* table = qobject_cast<QTextTable*>(child)) {
                    if (!first) out += "\\par\r\n";
                    WriteTable(table, out);
                    first = true;
                }
                continue;
            }
            const QTextBlock block = it.currentBlock();
            if (!block.isValid()) continue;
            if (!first) out += "\\par\r\n";
            WriteBlock(block, false, out);
            first = false;
            lastEmpty = block.length() <= 1;
        }
        // A reader takes the text after the last \par as the last paragraph only when it holds something: an
        // empty last paragraph is closed with its own \par, or a save and a load would drop it.
        if (!first && lastEmpty) out += "\\par";
        out += "\r\n";
    }

    const QTextDocument& FDocument;
    QStringList FFonts;
    std::vector<QColor> FColors;
};

} // namespace

QByteArray WriteRtf(const QTextDocument& document) {
    return tWriter(document).Run();
}
