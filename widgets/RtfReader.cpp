// The RTF reader: a byte tokenizer, a stack of group states, and a document model built into a QTextDocument.
#include "widgets/RtfReader.h"

#include "widgets/Metafile.h"

#include "core/TextCodec.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>
#include <limits>
#include <mutex>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// Deeper groups are read as if they were one level: a hostile file cannot exhaust the memory with braces.
constexpr std::size_t kMaxDepth = 512;
// A picture's declared size beyond this many pixels is taken as this many.
constexpr int kMaxPictureSide = 10000;
// A teacher's text holds a few thousand runs, paragraphs and cells; the text engine takes microseconds for
// each. Past this many pieces the rest of the text is still read whole, but a change of format no longer
// starts a run and the ends of paragraphs, cells and rows become line breaks and tabs, a block ended every
// kLinesPerBlock lines: any file up to the size limit is read in bounded time.
constexpr int kMaxPieces = 100000;
constexpr int kLinesPerBlock = 1000;

double TwipsToPixels(int twips) {
    return twips / 15.0;
}

// Shape: inside a drawing object, where only its picture and its text box are read.
enum class tDestination { Text, Skip, FontTable, ColorTable, Picture, Shape };

// How characters look: runs of the same look are one run.
struct tCharacter {
    int Font = -1;
    int HalfPoints = 24;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    int Script = 0; // -1 subscript, 1 superscript (\sub, \super, \dn, \up)
    bool Caps = false;
    int Foreground = 0;
    int Background = 0;
    bool operator==(const tCharacter&) const = default;
};

struct tState {
    tDestination Destination = tDestination::Text;
    int SkipAfterUnicode = 1;
    tCharacter Char;
    Qt::Alignment Alignment = Qt::AlignLeft;
    int LeftIndent = 0;
    int RightIndent = 0;
    int FirstIndent = 0;
    int SpaceBefore = 0;
    int SpaceAfter = 0;
    std::vector<int> TabStops; // twips
    bool InTable = false;
    bool Hidden = false; // \v: text that is not shown
};

struct tRun {
    QString Text;
    QTextCharFormat Format;
    tCharacter Character;
    int Tables = 0; // the version of the font and colour tables it was made with
    bool IsImage = false;
    QTextImageFormat Image;
};

struct tParagraph {
    QTextBlockFormat Block;
    std::vector<tRun> Runs;
};

struct tCell {
    std::vector<tParagraph> Paragraphs;
};

struct tRow {
    std::vector<tCell> Cells;
    std::vector<int> Rights; // cell right edges in twips
};

struct tItem {
    bool IsTable = false;
    tParagraph Paragraph;
    std::vector<tRow> Rows;
};

struct tFont {
    QString Name;
    // The font's own code page; 0: the document's (no \fcharset, or \fcharset0 and 1 as Word and WordPad
    // write them for text in the document's code page).
    int CodePage = 0;
    bool Known = false;
};

// The Windows code page of a \fcharset value; 0 for the document's own.
int CharsetCodePage(int charset) {
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    }
    return 0;
}

struct tPicture {
    QByteArray Data;
    QString Kind; // "png", "jpeg" or another kind we only hold a place for
    QByteArray Header;
    int Width = 0;
    int Height = 0;
    int GoalWidth = 0;
    int GoalHeight = 0;
    int ScaleX = 100;
    int ScaleY = 100;
    int HighNibble = -1;
    std::size_t Depth = 0;
};

class tReader {
public:
    tReader(const QByteArray& rtf, QTextDocument& document, const std::atomic<bool>* cancel)
        : FData(rtf), FDocument(document), FCancel(cancel), FCursor(&document) {}

    // Asked to stop (a document read off the window's thread that nobody waits for any more).
    bool Cancelled() { return FCancel && (++FLooks & 1023) == 0 && FCancel->load(); }

    void Run() {
        // Inside one edit block an insertion neither lays out its paragraph again nor keeps an undo step: a
        // paragraph of 100,000 runs is built in linear time.
        FCursor.beginEditBlock();
        FStates.push_back(tState());
        // Nothing after the document's final brace is read (WordPad ends its files with a NUL).
        while (FPos < FData.size() && !FEnded && !Cancelled()) Step();
        FlushText();
        if (!FParagraph.Runs.empty()) EndParagraph(true);
        if (!FCells.empty() || !FCellParagraphs.empty()) EndRow();
        EmitItems();
        FCursor.endEditBlock();
    }

    // The metafile pictures still to be drawn.
    std::vector<tPendingPicture> TakePending() { return std::move(FPending); }

private:
    tState& State() { return FStates.back(); }

    void Step() {
        const char c = FData[FPos];
        if (c == '{') {
            ++FPos;
            FlushText();
            FLead = -1;
            if (FStates.size() < kMaxDepth)
                FStates.push_back(State());
            else
                ++FOverflow;
            FSkipUnicode = 0;
            return;
        }
        if (c == '}') {
            ++FPos;
            FlushText();
            FLead = -1;
            FSkipUnicode = 0;
            if (FOverflow > 0) {
                --FOverflow;
                return;
            }
            if (FStates.size() <= 1) return; // an unbalanced brace: ignored
            if (FPicture && FStates.size() == FPicture->Depth) EndPicture();
            // The document's last paragraph may end without \par: it keeps the settings it had.
            if (FStates.size() == 2 && !FParagraph.Runs.empty()) EndParagraph(true);
            FStates.pop_back();
            if (FStates.size() == 1) FEnded = true;
            return;
        }
        if (c == '\\') {
            ++FPos;
            ControlWord();
            return;
        }
        ++FPos;
        if (c == '\r' || c == '\n') return;
        Character(static_cast<unsigned char>(c));
    }

    // Text bytes in the current destination.
    void Character(unsigned char byte) {
        if (FSkipUnicode > 0) {
            --FSkipUnicode;
            return;
        }
        switch (State().Destination) {
        case tDestination::Text:
            if (const QString text = Decode(CodePage(), byte); !State().Hidden) FText += text;
            break;
        case tDestination::FontTable:
            if (byte == ';') {
                if (FFontIndex >= 0) {
                    FFonts[FFontIndex].Name = FFontName.trimmed();
                    ++FTables;
                    FFonts[FFontIndex].Known = true;
                }
                FFontName.clear();
            } else {
                // A font's name is written in the font's own code page.
                const int own = FFontIndex >= 0 ? FFonts.value(FFontIndex).CodePage : 0;
                FFontName += Decode(own != 0 ? own : FDefaultCodePage, byte);
            }
            break;
        case tDestination::ColorTable:
            if (byte == ';') {
                FColors.push_back(FColorSeen ? QColor(FRed, FGreen, FBlue) : QColor());
                ++FTables;
                FRed = FGreen = FBlue = 0;
                FColorSeen = false;
            }
            break;
        case tDestination::Picture:
            PictureHex(byte);
            break;
        case tDestination::Skip:
        case tDestination::Shape:
            break;
        }
    }

    void PictureHex(unsigned char byte) {
        int value = -1;
        if (byte >= '0' && byte <= '9')
            value = byte - '0';
        else if (byte >= 'a' && byte <= 'f')
            value = byte - 'a' + 10;
        else if (byte >= 'A' && byte <= 'F')
            value = byte - 'A' + 10;
        if (value < 0 || !FPicture) return;
        if (FPicture->HighNibble < 0) {
            FPicture->HighNibble = value;
        } else {
            FPicture->Data.append(char(FPicture->HighNibble << 4 | value));
            FPicture->HighNibble = -1;
        }
    }

    // The text of one byte in a code page; the lead byte of a double-byte character waits for its trail.
    QString Decode(int codePage, unsigned char byte) {
        if (FLead >= 0) {
            const auto lead = static_cast<unsigned char>(FLead);
            FLead = -1;
            return DecodeCodePagePair(codePage, lead, byte);
        }
        if (IsLeadByte(codePage, byte)) {
            FLead = byte;
            return {};
        }
        return DecodeCodePageByte(codePage, byte);
    }

    // The code page of the current font (the \deff font when none was set), else the document's.
    int CodePage() {
        const int font = State().Char.Font >= 0 ? State().Char.Font : FDefaultFont;
        if (font >= 0) {
            const auto it = FFonts.constFind(font);
            if (it != FFonts.constEnd() && it->CodePage != 0) return it->CodePage;
        }
        return FDefaultCodePage;
    }

    // Reads a control word or symbol after the backslash.
    void ControlWord() {
        if (FPos >= FData.size()) return;
        const char first = FData[FPos];
        if (!std::isalpha(static_cast<unsigned char>(first))) {
            ++FPos;
            ControlSymbol(first);
            return;
        }
        FLead = -1; // a lead byte without its trail is dropped
        // The word as it stands in the data (its first 32 letters): no copy for each of millions of words.
        const qsizetype start = FPos;
        while (FPos < FData.size() && std::isalpha(static_cast<unsigned char>(FData[FPos]))) ++FPos;
        const std::string_view word(FData.constData() + start, size_t(std::min<qsizetype>(FPos - start, 32)));
        bool hasParameter = false;
        bool negative = false;
        long long value = 0;
        if (FPos < FData.size() && FData[FPos] == '-') {
            negative = true;
            ++FPos;
        }
        while (FPos < FData.size() && std::isdigit(static_cast<unsigned char>(FData[FPos]))) {
            hasParameter = true;
            if (value < 100000000000LL) value = value * 10 + (FData[FPos] - '0');
            ++FPos;
        }
        if (FPos < FData.size() && FData[FPos] == ' ') ++FPos;
        value = std::clamp<long long>(negative ? -value : value, std::numeric_limits<int>::min(),
                                      std::numeric_limits<int>::max());
        Word(word, hasParameter, int(value));
    }

    void ControlSymbol(char symbol) {
        switch (symbol) {
        case '\'': {
            // Two hex digits; a truncated pair is dropped.
            int value = 0;
            int digits = 0;
            while (digits < 2 && FPos < FData.size() &&
                   std::isxdigit(static_cast<unsigned char>(FData[FPos]))) {
                const char h = FData[FPos++];
                value =
                    value * 16 +
                    (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
                ++digits;
            }
            if (digits == 2)
                Character(static_cast<unsigned char>(value));
            else if (FSkipUnicode > 0)
                --FSkipUnicode;
            return;
        }
        case '*':
            FIgnorable = true;
            return;
        case '~':
            Literal(QChar(0x00A0));
            return;
        case '-':
            Literal(QChar(0x00AD));
            return;
        case '_':
            Literal(QChar(0x2011));
            return;
        case '\\':
        case '{':
        case '}':
            Literal(QChar::fromLatin1(symbol));
            return;
        case '\r':
        case '\n':
            Word("par", false, 0);
            return;
        case '\t':
            Literal(QChar(u'\t'));
            return;
        default:
            return;
        }
    }

    void Literal(QChar c) {
        if (FSkipUnicode > 0) {
            --FSkipUnicode;
            return;
        }
        if (State().Destination == tDestination::Text) {
            if (!State().Hidden) FText += c;
        } else if (State().Destination == tDestination::FontTable)
            FFontName += c;
    }

    void Word(std::string_view word, bool hasParameter, int value) {
        const bool ignorable = FIgnorable;
        FIgnorable = false;
        tState& s = State();
        // Raw bytes are skipped by their count wherever they stand, or they would be read as text and braces.
        if (word == "bin" && hasParameter && s.Destination != tDestination::Picture) {
            FPos += std::clamp<qsizetype>(value, 0, FData.size() - FPos);
            return;
        }
        if (s.Destination == tDestination::Skip) return;
        if (FSkipUnicode > 0 && word != "u") {
            --FSkipUnicode;
            return;
        }
        const int on = hasParameter ? value : 1;

        static const std::unordered_set<std::string_view> kSkipped = {
            "stylesheet",
            "info",
            "header",
            "footer",
            "headerl",
            "headerr",
            "headerf",
            "footerl",
            "footerr",
            "footerf",
            "listtable",
            "listoverridetable",
            "revtbl",
            "rsidtbl",
            "generator",
            "xmlnstbl",
            "pgdsctbl",
            "themedata",
            "colorschememapping",
            "datastore",
            "latentstyles",
            "mmathPr",
            "nonshppict",
            "fldinst",
            "footnote",
            "annotation",
            // The fallback drawn for readers that do not know shapes: this one reads the shape itself.
            "shprslt",
            "objdata",
            "bkmkstart",
            "bkmkend",
            "pnseclvl",
            "userprops",
            "docvar",
            "template",
        };
        if (word == "shppict") return; // a picture for newer readers: read it
        // An embedded object (a formula, a table from another program) shows its \result; its data is
        // skipped.
        if (word == "object" || word == "result") return;
        // A shape keeps its picture (the \pib property) and its text box; names and other values are not
        // text.
        if (word == "shpinst") {
            FlushText();
            s.Destination = tDestination::Shape;
            return;
        }
        if (s.Destination == tDestination::Shape && word == "shptxt") {
            s.Destination = tDestination::Text;
            return;
        }
        if (s.Destination == tDestination::Shape && word != "pict") return;
        if (kSkipped.contains(word) || (ignorable && !IsKnownWord(word))) {
            FlushText();
            s.Destination = tDestination::Skip;
            return;
        }
        if (word == "fonttbl") {
            FlushText();
            s.Destination = tDestination::FontTable;
            return;
        }
        if (word == "colortbl") {
            FlushText();
            s.Destination = tDestination::ColorTable;
            FColors.clear();
            ++FTables;
            return;
        }
        if (word == "pict") {
            FlushText();
            s.Destination = tDestination::Picture;
            FPicture = std::make_unique<tPicture>();
            FPicture->Depth = FStates.size();
            return;
        }
        if (s.Destination == tDestination::FontTable) {
            if (word == "f")
                FFontIndex = value;
            else if (word == "fcharset")
                FFonts[FFontIndex].CodePage = CharsetCodePage(value);
            return;
        }
        if (s.Destination == tDestination::ColorTable) {
            FColorSeen = true;
            if (word == "red")
                FRed = std::clamp(value, 0, 255);
            else if (word == "green")
                FGreen = std::clamp(value, 0, 255);
            else if (word == "blue")
                FBlue = std::clamp(value, 0, 255);
            return;
        }
        if (s.Destination == tDestination::Picture) {
            PictureWord(word, hasParameter, value);
            return;
        }
        if (word == "ansicpg") {
            if (value > 0) FDefaultCodePage = value;
        } else if (word == "pc") {
            FDefaultCodePage = 437;
        } else if (word == "pca") {
            FDefaultCodePage = 850;
        } else if (word == "mac") {
            FDefaultCodePage = 10000;
        } else if (word == "deff") {
            FDefaultFont = value;
            ++FTables;
        } else if (word == "v") {
            s.Hidden = on != 0;
        } else if (word == "u") {
            if (s.Hidden) {
                FSkipUnicode = s.SkipAfterUnicode;
                return;
            }
            FText += QChar(char16_t(value < 0 ? value + 65536 : value));
            FSkipUnicode = s.SkipAfterUnicode;
        } else if (word == "uc") {
            s.SkipAfterUnicode = std::clamp(value, 0, 16);
        } else if (word == "par" || word == "sect" || word == "page") {
            FlushText();
            EndParagraph();
        } else if (word == "line") {
            FText += QChar(QChar::LineSeparator);
        } else if (word == "tab") {
            FText += u'\t';
        } else if (word == "emdash") {
            FText += QChar(0x2014);
        } else if (word == "endash") {
            FText += QChar(0x2013);
        } else if (word == "bullet") {
            FText += QChar(0x2022);
        } else if (word == "lquote") {
            FText += QChar(0x2018);
        } else if (word == "rquote") {
            FText += QChar(0x2019);
        } else if (word == "ldblquote") {
            FText += QChar(0x201C);
        } else if (word == "rdblquote") {
            FText += QChar(0x201D);
        } else if (word == "cell" || word == "nestcell") {
            FlushText();
            EndCell();
        } else if (word == "row" || word == "nestrow") {
            FlushText();
            EndRow();
        } else if (word == "trowd") {
            FlushText();
            FRights.clear();
        } else if (word == "cellx") {
            if (FRights.size() < 64) FRights.push_back(value);
        } else {
            FlushText();
            CharacterOrParagraph(word, hasParameter, value, on);
        }
    }

    static bool IsKnownWord(std::string_view word) {
        return word == "shppict" || word == "pict" || word == "fonttbl" || word == "colortbl" ||
               word == "shpinst";
    }

    void CharacterOrParagraph(std::string_view word, bool hasParameter, int value, int on) {
        tState& s = State();
        if (word == "plain") {
            // The characters' look back to the defaults; the paragraph's stays.
            s.Char = tCharacter();
            s.Hidden = false;
        } else if (word == "pard") {
            s.Alignment = Qt::AlignLeft;
            s.LeftIndent = s.RightIndent = s.FirstIndent = s.SpaceBefore = s.SpaceAfter = 0;
            s.TabStops.clear();
            s.InTable = false;
        } else if (word == "b") {
            s.Char.Bold = on != 0;
        } else if (word == "i") {
            s.Char.Italic = on != 0;
        } else if (word == "ul") {
            s.Char.Underline = on != 0;
        } else if (word == "ulnone") {
            s.Char.Underline = false;
        } else if (word == "sub" || word == "dn") {
            s.Char.Script = on != 0 ? -1 : 0;
        } else if (word == "super" || word == "up") {
            s.Char.Script = on != 0 ? 1 : 0;
        } else if (word == "nosupersub") {
            s.Char.Script = 0;
        } else if (word == "caps") {
            s.Char.Caps = on != 0;
        } else if (word == "strike") {
            s.Char.Strike = on != 0;
        } else if (word == "fs") {
            s.Char.HalfPoints = hasParameter ? std::clamp(value, 2, 3276) : 24;
        } else if (word == "f") {
            s.Char.Font = value;
        } else if (word == "cf") {
            s.Char.Foreground = value;
        } else if (word == "cb" || word == "highlight" || word == "chcbpat") {
            s.Char.Background = value;
        } else if (word == "ql") {
            s.Alignment = Qt::AlignLeft;
        } else if (word == "qc") {
            s.Alignment = Qt::AlignHCenter;
        } else if (word == "qr") {
            s.Alignment = Qt::AlignRight;
        } else if (word == "qj") {
            s.Alignment = Qt::AlignJustify;
        } else if (word == "li") {
            s.LeftIndent = value;
        } else if (word == "ri") {
            s.RightIndent = value;
        } else if (word == "fi") {
            s.FirstIndent = value;
        } else if (word == "sb") {
            s.SpaceBefore = value;
        } else if (word == "sa") {
            s.SpaceAfter = value;
        } else if (word == "tx") {
            if (s.TabStops.size() < 64 && value > 0) s.TabStops.push_back(value);
        } else if (word == "intbl") {
            s.InTable = true;
        }
    }

    void PictureWord(std::string_view word, bool hasParameter, int value) {
        if (!FPicture) return;
        if (word == "pngblip")
            FPicture->Kind = QStringLiteral("png");
        else if (word == "jpegblip")
            FPicture->Kind = QStringLiteral("jpeg");
        else if (word == "emfblip" || word == "wmetafile" || word == "dibitmap" || word == "wbitmap" ||
                 word == "macpict" || word == "pmmetafile")
            FPicture->Kind = QString::fromLatin1(word);
        else if (word == "picw")
            FPicture->Width = value;
        else if (word == "pich")
            FPicture->Height = value;
        // The words that describe the picture's own data, kept to write it back unchanged.
        if (word == "emfblip" || word == "wmetafile" || word == "dibitmap" || word == "wbitmap" ||
            word == "macpict" || word == "pmmetafile" || word == "picw" || word == "pich" ||
            word == "picbmp" || word == "picbpp" || word == "wbmbitspixel" || word == "wbmplanes" ||
            word == "wbmwidthbytes")
            FPicture->Header += "\\" + QByteArray(word.data(), qsizetype(word.size())) +
                                (hasParameter ? QByteArray::number(value) : QByteArray());
        else if (word == "picwgoal")
            FPicture->GoalWidth = value;
        else if (word == "pichgoal")
            FPicture->GoalHeight = value;
        else if (word == "picscalex")
            FPicture->ScaleX = value;
        else if (word == "picscaley")
            FPicture->ScaleY = value;
        else if (word == "bin" && hasParameter) {
            // Raw bytes follow the control word directly.
            const qsizetype count = std::clamp<qsizetype>(value, 0, FData.size() - FPos);
            FPicture->Data.append(FData.constData() + FPos, count);
            FPos += count;
        }
    }

    void EndPicture() {
        std::unique_ptr<tPicture> picture = std::move(FPicture);
        QImage image;
        if (picture->Kind == QStringLiteral("png") || picture->Kind == QStringLiteral("jpeg"))
            image.loadFromData(picture->Data, picture->Kind == QStringLiteral("png") ? "PNG" : "JPEG");
        // The size the writer asked for, in pixels.
        const auto side = [](int goal, int scale, int natural) {
            double pixels = goal > 0 ? TwipsToPixels(goal) : natural;
            pixels = pixels * std::clamp(scale, 1, 1000) / 100.0;
            return std::clamp(pixels, 1.0, double(kMaxPictureSide));
        };
        // A metafile's \picw and \pich are its size in hundredths of a millimetre.
        const bool metafile =
            picture->Kind == QStringLiteral("wmetafile") || picture->Kind == QStringLiteral("emfblip");
        const auto natural = [&](int imageSide, int declared, int fallback) {
            if (!image.isNull()) return double(imageSide);
            return metafile && declared > 0 ? std::min(declared * 96.0 / 2540.0, double(kMaxPictureSide))
                                            : fallback;
        };
        double width = side(picture->GoalWidth, picture->ScaleX, natural(image.width(), picture->Width, 64));
        double height =
            side(picture->GoalHeight, picture->ScaleY, natural(image.height(), picture->Height, 48));
        QTextImageFormat format;
        const QString name = QStringLiteral("rtf-image-%1").arg(++FImageCount);
        if (metafile) {
            // Drawn after the reading, with the document's other pictures: twice as fine as shown, for print,
            // but never larger than 1024 pixels a side; a placeholder until then.
            const double fine = std::min(2.0, 1024.0 / std::max(width, height));
            FPending.push_back(
                {name, picture->Data,
                 picture->Kind == QStringLiteral("wmetafile") ? tMetafileKind::Wmf : tMetafileKind::Emf,
                 QSize(std::max(1, int(width * fine)), std::max(1, int(height * fine)))});
        }
        // A PNG or JPEG is saved as the picture it is; any other picture, drawn or not, keeps its own bytes
        // and control words and is saved back unchanged.
        const bool own = !image.isNull() && !metafile;
        if (own || (!picture->Data.isEmpty() && !picture->Header.isEmpty())) {
            format.setProperty(kImageBytesProperty, picture->Data);
            format.setProperty(kImageKindProperty, picture->Kind);
            if (!own) format.setProperty(kImageHeaderProperty, picture->Header);
        }
        if (image.isNull()) {
            // A picture kind we cannot show, or broken data: a grey frame holds its place, drawn small and
            // shown at the picture's size (a declared size of 10000 × 10000 must not cost 400 MB).
            const double shrink = std::min(1.0, 128.0 / std::max(width, height));
            QImage placeholder(std::max(2, int(width * shrink)), std::max(2, int(height * shrink)),
                               QImage::Format_RGB32);
            placeholder.fill(QColor(0xEE, 0xEE, 0xEE));
            QPainter painter(&placeholder);
            painter.setPen(QColor(0x99, 0x99, 0x99));
            painter.drawRect(0, 0, placeholder.width() - 1, placeholder.height() - 1);
            painter.drawLine(0, 0, placeholder.width() - 1, placeholder.height() - 1);
            painter.drawLine(0, placeholder.height() - 1, placeholder.width() - 1, 0);
            painter.end();
            image = placeholder;
        }
        FDocument.addResource(QTextDocument::ImageResource, QUrl(name), image);
        format.setName(name);
        format.setWidth(width);
        format.setHeight(height);
        tRun run;
        run.IsImage = true;
        run.Image = format;
        Current().Runs.push_back(run);
        ++FPieces;
    }

    tParagraph& Current() { return FParagraph; }

    QTextCharFormat CharFormat() {
        const tState& s = State();
        QTextCharFormat format;
        if (const int font = s.Char.Font >= 0 ? s.Char.Font : FDefaultFont; font >= 0) {
            const auto it = FFonts.constFind(font);
            if (it != FFonts.constEnd() && !it->Name.isEmpty()) format.setFontFamilies({it->Name});
        }
        format.setFontPointSize(s.Char.HalfPoints / 2.0);
        if (s.Char.Bold) format.setFontWeight(QFont::Bold);
        if (s.Char.Italic) format.setFontItalic(true);
        if (s.Char.Underline) format.setFontUnderline(true);
        if (s.Char.Strike) format.setFontStrikeOut(true);
        // H₂O and см³: the script's position; the text engine draws it smaller.
        if (s.Char.Script != 0)
            format.setVerticalAlignment(s.Char.Script > 0 ? QTextCharFormat::AlignSuperScript
                                                          : QTextCharFormat::AlignSubScript);
        if (s.Char.Caps) format.setFontCapitalization(QFont::AllUppercase);
        if (s.Char.Foreground > 0 && s.Char.Foreground < int(FColors.size()) &&
            FColors[size_t(s.Char.Foreground)].isValid())
            format.setForeground(FColors[size_t(s.Char.Foreground)]);
        if (s.Char.Background > 0 && s.Char.Background < int(FColors.size()) &&
            FColors[size_t(s.Char.Background)].isValid())
            format.setBackground(FColors[size_t(s.Char.Background)]);
        return format;
    }

    QTextBlockFormat BlockFormat() {
        const tState& s = State();
        QTextBlockFormat format;
        format.setAlignment(s.Alignment);
        format.setLeftMargin(TwipsToPixels(std::max(0, s.LeftIndent)));
        format.setRightMargin(TwipsToPixels(std::max(0, s.RightIndent)));
        format.setTextIndent(TwipsToPixels(s.FirstIndent));
        format.setTopMargin(TwipsToPixels(std::max(0, s.SpaceBefore)));
        format.setBottomMargin(TwipsToPixels(std::max(0, s.SpaceAfter)));
        if (!s.TabStops.empty()) {
            QList<QTextOption::Tab> tabs;
            for (const int stop : s.TabStops)
                tabs.append(QTextOption::Tab(TwipsToPixels(stop), QTextOption::LeftTab));
            format.setTabPositions(tabs);
        }
        return format;
    }

    // Text goes on the paragraph's last run when the format is the same (or when the pieces are spent).
    void FlushText() {
        if (FText.isEmpty()) return;
        std::vector<tRun>& runs = Current().Runs;
        const tState& s = State();
        if (!runs.empty() && !runs.back().IsImage &&
            (Spent() || (runs.back().Character == s.Char && runs.back().Tables == FTables))) {
            runs.back().Text += FText;
        } else {
            tRun run;
            run.Text = FText;
            run.Format = CharFormat();
            run.Character = s.Char;
            run.Tables = FTables;
            runs.push_back(std::move(run));
            ++FPieces;
        }
        FText.clear();
    }

    bool Spent() const { return FPieces >= kMaxPieces; }
    // Past the budget, and with no table row begun, an end of a paragraph, cell or row joins the text.
    bool Joining() const { return Spent() && FCells.empty() && FCellParagraphs.empty(); }

    void JoinLine() {
        if (++FJoinedLines < kLinesPerBlock) {
            FText += QChar(QChar::LineSeparator);
            FlushText();
            return;
        }
        FJoinedLines = 0;
        FParagraph.Block = BlockFormat();
        EmitParagraph();
    }

    // `last`: the document's last paragraph, which ends as a paragraph whatever the budget.
    void EndParagraph(bool last = false) {
        if (!last && Joining()) return JoinLine();
        FParagraph.Block = BlockFormat();
        if (State().InTable) {
            FCellParagraphs.push_back(std::move(FParagraph));
            FParagraph = tParagraph();
            ++FPieces;
        } else {
            EmitParagraph();
        }
    }

    void EmitParagraph() {
        if (!FCells.empty()) EndRow();
        FTableOpen = false;
        tItem item;
        item.Paragraph = std::move(FParagraph);
        FItems.push_back(std::move(item));
        FParagraph = tParagraph();
        ++FPieces;
        // Everything before a paragraph outside a table is complete: it goes into the document now, so the
        // reader holds no more than the table being read besides the document.
        EmitItems();
    }

    void EndCell() {
        if (Joining()) {
            FText += u'\t';
            FlushText();
            return;
        }
        FParagraph.Block = BlockFormat();
        FCellParagraphs.push_back(std::move(FParagraph));
        FParagraph = tParagraph();
        tCell cell;
        cell.Paragraphs = std::move(FCellParagraphs);
        FCellParagraphs.clear();
        if (FCells.size() < 64) FCells.push_back(std::move(cell));
        ++FPieces;
    }

    void EndRow() {
        if (Joining()) return JoinLine();
        if (!FCellParagraphs.empty() || !FParagraph.Runs.empty()) EndCell();
        if (FCells.empty()) return;
        if (!FTableOpen) {
            tItem item;
            item.IsTable = true;
            FItems.push_back(std::move(item));
            FTableOpen = true;
        }
        tRow row;
        row.Cells = std::move(FCells);
        row.Rights = FRights;
        FCells.clear();
        FItems.back().Rows.push_back(std::move(row));
        // A table of ten thousand rows goes on as another table.
        if (FItems.back().Rows.size() >= 10000) FTableOpen = false;
    }

    // A paragraph carries at most kMaxBlockRuns pieces of text and kMaxBlockCharacters characters: the text
    // engine lays out one paragraph in time growing faster than its pieces (two hundred thousand of them took
    // minutes), so a longer one goes on in another paragraph of the same format.
    static void InsertRuns(QTextCursor& cursor, const std::vector<tRun>& runs, const QTextBlockFormat& block) {
        int pieces = 0;
        qsizetype characters = 0;
        const auto room = [&](qsizetype wanted) {
            if (pieces < kMaxBlockRuns && characters + std::min<qsizetype>(wanted, 1) <= kMaxBlockCharacters)
                return;
            cursor.insertBlock(block);
            pieces = 0;
            characters = 0;
        };
        for (const tRun& run : runs) {
            if (run.IsImage) {
                room(1);
                cursor.insertImage(run.Image);
                ++pieces;
                ++characters;
                continue;
            }
            for (qsizetype from = 0; from < run.Text.size();) {
                room(run.Text.size() - from);
                qsizetype take = std::min(run.Text.size() - from, kMaxBlockCharacters - characters);
                // Broken after a space where one is near, and never inside a surrogate pair.
                if (from + take < run.Text.size()) {
                    const qsizetype space = run.Text.lastIndexOf(u' ', from + take - 1);
                    if (space >= from + take / 2) take = space + 1 - from;
                    if (run.Text[from + take - 1].isHighSurrogate() && take > 1) --take;
                }
                cursor.insertText(run.Text.mid(from, take), run.Format);
                from += take;
                characters += take;
                ++pieces;
            }
        }
    }

    void EmitItems() {
        QTextCursor& cursor = FCursor;
        bool& emptyBlock = FEmptyBlock;
        for (const tItem& item : FItems) {
            if (Cancelled()) break;
            if (!item.IsTable) {
                if (!emptyBlock) cursor.insertBlock();
                cursor.setBlockFormat(item.Paragraph.Block);
                InsertRuns(cursor, item.Paragraph.Runs, item.Paragraph.Block);
                emptyBlock = false;
                continue;
            }
            int columns = 0;
            for (const tRow& row : item.Rows) columns = std::max(columns, int(row.Cells.size()));
            if (columns == 0) continue;
            // The table goes after the current paragraph; the text engine keeps the block structure itself.
            QTextTableFormat tableFormat;
            tableFormat.setBorder(1);
            tableFormat.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            tableFormat.setCellPadding(3);
            tableFormat.setCellSpacing(0);
            tableFormat.setBorderCollapse(true);
            const std::vector<int>& rights = item.Rows.front().Rights;
            if (int(rights.size()) == columns) {
                QList<QTextLength> widths;
                int left = 0;
                for (const int right : rights) {
                    widths.append(
                        QTextLength(QTextLength::FixedLength, std::max(8.0, TwipsToPixels(right - left))));
                    left = right;
                }
                tableFormat.setColumnWidthConstraints(widths);
            }
            QTextTable* table = cursor.insertTable(int(item.Rows.size()), columns, tableFormat);
            for (int r = 0; r < int(item.Rows.size()); ++r) {
                const tRow& row = item.Rows[size_t(r)];
                for (int c = 0; c < int(row.Cells.size()); ++c) {
                    QTextCursor cell = table->cellAt(r, c).firstCursorPosition();
                    bool first = true;
                    for (const tParagraph& paragraph : row.Cells[size_t(c)].Paragraphs) {
                        if (!first) cell.insertBlock();
                        cell.setBlockFormat(paragraph.Block);
                        InsertRuns(cell, paragraph.Runs, paragraph.Block);
                        first = false;
                    }
                }
            }
            cursor = table->lastCursorPosition();
            cursor.movePosition(QTextCursor::NextBlock);
            emptyBlock = true;
        }
        FItems.clear();
    }

    const QByteArray& FData;
    QTextDocument& FDocument;
    const std::atomic<bool>* FCancel;
    unsigned FLooks = 0;
    qsizetype FPos = 0;
    std::vector<tState> FStates;
    std::size_t FOverflow = 0;
    bool FIgnorable = false;
    int FSkipUnicode = 0;
    int FLead = -1; // the lead byte of a double-byte character, until its trail comes
    QString FText;
    int FDefaultCodePage = 1252;
    int FDefaultFont = -1;
    QHash<int, tFont> FFonts;
    bool FEnded = false;
    int FFontIndex = -1;
    QString FFontName;
    std::vector<QColor> FColors;
    int FRed = 0, FGreen = 0, FBlue = 0;
    bool FColorSeen = false;
    std::unique_ptr<tPicture> FPicture;
    int FImageCount = 0;
    tParagraph FParagraph;
    std::vector<tParagraph> FCellParagraphs;
    std::vector<tCell> FCells;
    std::vector<int> FRights;
    bool FTableOpen = false;
    std::vector<tItem> FItems;
    QTextCursor FCursor;
    bool FEmptyBlock = true;
    int FPieces = 0;
    int FTables = 0;
    std::vector<tPendingPicture> FPending;
    int FJoinedLines = 0;
};

} // namespace

void ReadRtf(const QByteArray& rtf, QTextDocument& document) {
    const std::vector<tPendingPicture> pictures = ReadRtfLater(rtf, document);
    std::mutex lock;
    DrawMetafiles(pictures, kPicturesMilliseconds, [&](const tPendingPicture& picture, const QImage& image) {
        std::lock_guard<std::mutex> guard(lock);
        document.addResource(QTextDocument::ImageResource, QUrl(picture.Name), image);
    });
}

std::vector<tPendingPicture> ReadRtfLater(const QByteArray& rtf, QTextDocument& document,
                                          const std::atomic<bool>* cancel) {
    document.clear();
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    tReader reader(rtf, document, cancel);
    reader.Run();
    document.setUndoRedoEnabled(undo);
    return reader.TakePending();
}
