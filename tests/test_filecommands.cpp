// The File commands: the chart as BMP, the pages as RTF, printing to PDF, JPEG and BMP pictures in the
// report.
#include "core/CommandLine.h"
#include "core/NumberFormat.h"
#include "core/TextCodec.h"
#include "device/Searches.h"
#include "lesson/Lesson.h"
#include "runs/Runs.h"
#include "support/LessonSteps.h"
#include "support/MessageCollector.h"
#include "support/Pdf.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "ui/Experimentfr.h"
#include "ui/Experimentsfm.h"
#include "ui/Mainfm.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfReader.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <jpeglib.h>

namespace {

class FileCommandsTest : public tWindowFixture {
protected:
    void SetUp() override {
        tWindowFixture::SetUp();
        Cfg("UseCDC=1\r\nTimeout=0\r\n");
        const QString folder = Experiment(
            "Тепло",
            "SensorName=T101\r\nFreq=100000\r\nMaxX=5\r\nIncX=1\r\nCaptionX=time\r\nCaptionY=heat\r\n");
        WriteFile(folder + QStringLiteral("/report.rtf"), "{\\rtf1 Report of the day\\par Second line}");
        tSimSensorConfig sensor;
        sensor.Name = "T101";
        sensor.Signal = [](double t, int) { return 50 + 20 * std::sin(t * 3); };
        AddCom(QStringLiteral("/dev/ttyACM0"), sensor);
        window = std::make_unique<TfmMain>();
        window->resize(900, 600);
        window->show();
        window->tmMeasure->setInterval(24 * 3600 * 1000);
        prompts.OnDialog = [](QDialog& dialog) {
            auto& chooser = static_cast<TfmExperiments&>(dialog);
            QTreeWidgetItem* group = chooser.Tree()->topLevelItem(0);
            group->setExpanded(true);
            chooser.Tree()->setCurrentItem(group->child(0));
            return int(QDialog::Accepted);
        };
        window->RunAction(window->acExperimentChoose);
        window->RunAction(window->acExperimentStart);
        // Ticks until 40 points are drawn, however slowly a loaded machine lets the demo sensor go.
        WaitUntil([&] {
            window->tmMeasureTimer();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return window->Lesson().Run(0).Points->Count() >= 40;
        });
        window->RunAction(window->acExperimentStop);
        prompts.Boxes.clear();
    }
    // Printing goes to the PDF `file`.
    void PrintTo(const QString& file) {
        prompts.OnPrinter = [file](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
        };
    }
    void ShowPage(int page) {
        window->Frame->pcMain->setCurrentIndex(page);
        window->UpdateActions();
    }
    // A photo-like picture: a sky, the sun and a field.
    static QByteArray Photo() {
        QImage image(320, 200, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(0, 0, 320, 130, QColor(120, 180, 240));
        painter.fillRect(0, 130, 320, 70, QColor(70, 150, 60));
        painter.setBrush(QColor(250, 210, 60));
        painter.drawEllipse(QPoint(250, 50), 28, 28);
        painter.end();
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 90);
        return bytes;
    }
    static QByteArray Jpeg(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor(40, 160, 90));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 85);
        return bytes;
    }
    int ReportImages() const {
        int images = 0;
        for (QTextBlock b = window->Frame->reReport->document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().isImageFormat()) ++images;
        return images;
    }
};

// What a reader compares between the screen and the paper: the red line's extent and thickness, the height
// of the bottom axis's digits.
struct tChartLook {
    QRect Drawn; // everything not white
    QRect Red;
    int LineWidth = 0;
    int DigitHeight = 0;
};

bool IsRed(QColor c) {
    return c.red() > 180 && c.green() < 110 && c.blue() < 110;
}

tChartLook Look(const QImage& image) {
    tChartLook look;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QColor c = image.pixelColor(x, y); IsRed(c))
                look.Red |= QRect(x, y, 1, 1), look.Drawn |= QRect(x, y, 1, 1);
            else if (c != Qt::white)
                look.Drawn |= QRect(x, y, 1, 1);
    // The line's thickness: the shortest vertical run of red across the middle third of the curve.
    look.LineWidth = 1 << 20;
    for (int x = look.Red.left() + look.Red.width() / 3; x < look.Red.right() - look.Red.width() / 3; ++x) {
        int run = 0;
        for (int y = look.Red.top(); y <= look.Red.bottom(); ++y)
            run += IsRed(image.pixelColor(x, y)) ? 1 : 0;
        if (run > 0) look.LineWidth = std::min(look.LineWidth, run);
    }
    // Below the plot: the first band of rows with dark pixels under the curve's span is the row of digits.
    const auto dark = [&](int y) {
        for (int x = look.Red.left() + look.Red.width() / 8; x <= look.Red.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < 110 && c.green() < 110 && c.blue() < 110) return true;
        }
        return false;
    };
    int y = look.Red.bottom() + 1;
    // Past the curve, the plot's bottom edge and the ticks: the first white row, then the first dark one.
    while (y < image.height() && dark(y)) ++y;
    while (y < image.height() && !dark(y)) ++y;
    while (y < image.height() && dark(y)) ++y;
    while (y < image.height() && !dark(y)) ++y;
    const int top = y;
    while (y < image.height() && dark(y)) ++y;
    look.DigitHeight = y - top;
    return look;
}

} // namespace

TEST_F(FileCommandsTest, ChartExportsAsABitmapOfItsSize) {
    const QString file = dir.filePath(QStringLiteral("chart.bmp"));
    WriteFile(file, "old content is replaced");
    prompts.TextAnswers = {file};
    window->RunAction(window->acFileExport);
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_EQ(prompts.Boxes[0].Kind, QStringLiteral("save"));
    EXPECT_EQ(prompts.Boxes[0].Options.DefaultExt, QStringLiteral("bmp"));
    EXPECT_TRUE(ReadFile(file).startsWith("BM"));
    if (const QString keep = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT"); !keep.isEmpty())
        QFile::copy(file, keep + QStringLiteral("/chart.bmp"));
    QImage image(file, "BMP");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), window->Frame->chMain->size());
    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(255, 0, 0)) ++red;
    EXPECT_GT(red, 200) << "the red line is there";
    // The dialog starts in the documents folder (then where the user saved last) with a name a teacher
    // recognises.
    const QString day = QDate::currentDate().toString(Qt::ISODate);
    EXPECT_EQ(QFileInfo(prompts.Boxes[0].Options.FileName).fileName(),
              QStringLiteral("Тепло график ") + day + QStringLiteral(".bmp"));
    window->RunAction(window->acFileExport);
    EXPECT_EQ(prompts.Boxes.last().Options.Directory, dir.path()) << "a cancelled dialog does nothing";
    // Ctrl+C on the chart page copies the chart as the screen shows it.
    QApplication::clipboard()->clear();
    window->Frame->chMain->setFocus();
    window->Frame->acCopyChart->trigger();
    EXPECT_EQ(QApplication::clipboard()->image().size(), window->Frame->chMain->size());
}

TEST_F(FileCommandsTest, PagesExportAsRtfThatReadsBack) {
    ShowPage(3);
    EXPECT_EQ(window->Frame->CurrentPage(), TfrExperiment::tPage::Report);
    const QString file = dir.filePath(QStringLiteral("report.rtf"));
    prompts.TextAnswers = {file};
    window->RunAction(window->acFileExport);
    EXPECT_EQ(prompts.Boxes.last().Options.DefaultExt, QStringLiteral("rtf"));
    QTextDocument back;
    ReadRtf(ReadFile(file), back);
    EXPECT_EQ(back.toPlainText(), window->Frame->reReport->toPlainText());
    EXPECT_EQ(back.toPlainText(), QStringLiteral("Report of the day\nSecond line"));
}

TEST_F(FileCommandsTest, PrintingToPdf) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext missing";
    const QString chart = dir.filePath(QStringLiteral("chart.pdf"));
    PrintTo(chart);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("print"));
    EXPECT_EQ(PdfPages(chart), 1);
    EXPECT_TRUE(PdfText(chart).contains(QStringLiteral("time"))) << PdfText(chart).toStdString();

    ShowPage(3);
    const QString report = dir.filePath(QStringLiteral("report.pdf"));
    PrintTo(report);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    EXPECT_TRUE(PdfText(report).contains(QStringLiteral("Report of the day")));

    prompts.DialogAnswers = {false};
    PrintTo(dir.filePath(QStringLiteral("cancelled.pdf")));
    window->RunAction(window->acFilePrint);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("cancelled.pdf"))));
}

// A table of 10⁵ rows goes to paper with a progress box that can cancel, in column groups across the page's
// width; a cancelled export leaves no file.
TEST_F(FileCommandsTest, ALongTableExportsPageByPageAndCanBeCancelled) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext missing";
    // A run of 10⁵ points, the only one shown.
    tLesson& lesson = window->Lesson();
    lesson.ShowRun(0, false);
    lesson.BeginRun(0);
    const int rows = 100000;
    std::vector<double> values;
    for (int i = 0; i < rows; ++i) values.push_back(20 + i % 7);
    TakeLabelled(lesson, values,
                 [&](int point) { return point == rows - 1 ? QStringLiteral("конец") : QString(); });
    lesson.EndRun();
    ShowPage(1);
    const tRunsModel& model = *window->Frame->tvTable->Model();
    ASSERT_EQ(model.rowCount(), rows);
    const QString lastTime = model.data(model.index(rows - 1, 0)).toString();
    const QString file = dir.filePath(QStringLiteral("table.pdf"));
    prompts.CancelAtStep = 3;
    prompts.TextAnswers = {file};
    window->RunAction(window->acFileExport);
    EXPECT_EQ(prompts.ProgressSteps.size(), 3);
    EXPECT_FALSE(QFileInfo::exists(file)) << "cancelled: no half a file";
    prompts.CancelAtStep = -1;
    prompts.ProgressSteps.clear();
    prompts.TextAnswers = {file};
    window->RunAction(window->acFileExport);
    const int pages = PdfPages(file);
    ASSERT_GT(pages, 0);
    EXPECT_EQ(prompts.ProgressSteps.last(), std::make_pair(pages, pages));
    EXPECT_LT(pages, rows / 120) << "three column groups on a portrait page: heads wrap within their columns";
    QProcess last;
    last.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-f"), QString::number(pages), file, QStringLiteral("-")});
    last.waitForFinished(20000);
    const QString text = QString::fromUtf8(last.readAllStandardOutput());
    EXPECT_TRUE(text.contains(lastTime)) << lastTime.toStdString() << text.right(300).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("конец")));
    EXPECT_TRUE(text.contains(QStringLiteral("стр. %1 из %1").arg(pages)));
}

TEST_F(FileCommandsTest, PicturesGoIntoTheReportAtTheCaret) {
    ShowPage(3);
    ASSERT_TRUE(window->acFileAddImage->isEnabled());
    const QString jpeg = dir.filePath(QStringLiteral("photo.jpg"));
    WriteFile(jpeg, Photo());
    QImage bmp(20, 10, QImage::Format_RGB32);
    bmp.fill(Qt::blue);
    const QString bitmap = dir.filePath(QStringLiteral("scheme.bmp"));
    bmp.save(bitmap, "BMP");
    QTextCursor caret(window->Frame->reReport->document());
    caret.movePosition(QTextCursor::End);
    window->Frame->reReport->setTextCursor(caret);
    prompts.TextAnswers = {jpeg, bitmap};
    window->RunAction(window->acFileAddImage);
    EXPECT_EQ(ReportImages(), 1);
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(320, 200))
        << "the clipboard holds the picture";
    window->RunAction(window->acFileAddImage);
    EXPECT_EQ(ReportImages(), 2);
    EXPECT_EQ(prompts.Boxes[0].Options.DefaultExt, QStringLiteral("jpg"));
    // For a look at the result: ZORBINKA_KEEP_OUTPUT names a folder that gets the report printed to PDF.
    if (const QString keep = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT"); !keep.isEmpty()) {
        PrintTo(keep + QStringLiteral("/report-with-photo.pdf"));
        prompts.DialogAnswers = {true};
        window->RunAction(window->acFilePrint);
    }
    // Saved, the photo stays a JPEG.
    const QString saved = dir.filePath(QStringLiteral("with-photo.rtf"));
    window->Frame->reReport->SaveToFile(saved);
    EXPECT_TRUE(ReadFile(saved).contains("\\jpegblip"));
    EXPECT_TRUE(ReadFile(saved).contains("\\pngblip"));
}

// A CMYK JPEG of one colour as printing work saves it (Adobe's inverted inks when `adobe`).
QByteArray CmykJpeg(int c, int m, int y, int k, bool adobe) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 16;
    info.image_height = 8;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    info.write_Adobe_marker = adobe;
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(16 * 4);
    for (int x = 0; x < 16; ++x) {
        const int inks[] = {c, m, y, k};
        for (int i = 0; i < 4; ++i) row[size_t(x * 4 + i)] = std::uint8_t(adobe ? 255 - inks[i] : inks[i]);
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    jpeg_destroy_compress(&info);
    free(buffer);
    return bytes;
}

// The EXIF orientation tag put in front of a JPEG's own markers.
QByteArray WithOrientation(const QByteArray& jpeg, int orientation) {
    QByteArray exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
    exif += char(orientation);
    exif += QByteArray(7, '\0');
    QByteArray app1("\xFF\xE1", 2);
    app1 += char((exif.size() + 2) >> 8);
    app1 += char((exif.size() + 2) & 0xFF);
    return jpeg.left(2) + app1 + exif + jpeg.mid(2);
}

TEST_F(FileCommandsTest, PicturesAsEveryViewerReadsThem) {
    ShowPage(3);
    QByteArray huge = Jpeg(16, 16);
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xEA);
    huge[sof + 6] = char(0x60);
    huge[sof + 7] = char(0xEA);
    huge[sof + 8] = char(0x60);
    const QByteArray good = Jpeg(64, 48);
    // Stray bytes before a marker and a missing end marker: libjpeg warns, the picture is whole.
    QByteArray extraneous = good;
    extraneous.insert(extraneous.indexOf(QByteArray("\xFF\xDA", 2)), QByteArray("\x00\x11\x22", 3));
    const struct {
        const char* name;
        QByteArray bytes;
        QSize size;    // an accepted picture's size, empty: refused
        QColor colour; // the colour in its middle, when it matters
        const char* reason;
    } rows[] = {
        {"extraneous.jpg", extraneous, QSize(64, 48), QColor(), nullptr},
        {"no-end-marker.jpg", good.left(good.size() - 2), QSize(64, 48), QColor(), nullptr},
        {"rotated.jpg", WithOrientation(good, 6), QSize(48, 64), QColor(), nullptr},
        {"mirrored.jpg", WithOrientation(good, 2), QSize(64, 48), QColor(), nullptr},
        {"cmyk.jpg", CmykJpeg(0, 255, 255, 0, false), QSize(16, 8), QColor(255, 0, 0), nullptr},
        {"cmyk-adobe.jpg", CmykJpeg(255, 0, 255, 0, true), QSize(16, 8), QColor(0, 255, 0), nullptr},
        // The end marker replaced by another frame's: libjpeg gives up after the last line, the picture is
        // whole.
        {"cmyk-second-frame.jpg",
         CmykJpeg(0, 255, 255, 0, false).chopped(2) + QByteArray("\xFF\xC0\x00\x11\x08\x00\x10", 7),
         QSize(16, 8), QColor(255, 0, 0), nullptr},
        {"text.jpg", "this is no picture at all", QSize(), QColor(), "файл не является рисунком JPEG"},
        {"truncated.jpg", good.left(good.size() / 2), QSize(), QColor(),
         "файл обрывается раньше, чем рисунок"},
        {"huge.jpg", huge, QSize(), QColor(), "слишком большой размер рисунка (60000x60000)"},
        {"garbage.bmp", "BM garbage garbage", QSize(), QColor(), "файл не является точечным рисунком BMP"},
        {"picture.gif", good, QSize(), QColor(), "неизвестный формат рисунка"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString file = dir.filePath(QString::fromLatin1(row.name));
        WriteFile(file, row.bytes);
        window->Frame->reReport->clear();
        prompts.Boxes.clear();
        prompts.TextAnswers = {file};
        window->RunAction(window->acFileAddImage);
        if (row.size.isValid()) {
            EXPECT_EQ(prompts.Boxes.size(), 1) << prompts.Boxes.last().Text.toStdString();
            EXPECT_EQ(ReportImages(), 1);
            const QImage picture = QApplication::clipboard()->image();
            EXPECT_EQ(picture.size(), row.size);
            if (row.colour.isValid()) {
                const QColor middle = picture.pixelColor(picture.width() / 2, picture.height() / 2);
                EXPECT_NEAR(middle.red(), row.colour.red(), 12);
                EXPECT_NEAR(middle.green(), row.colour.green(), 12);
                EXPECT_NEAR(middle.blue(), row.colour.blue(), 12);
            }
            continue;
        }
        EXPECT_EQ(ReportImages(), 0);
        ASSERT_EQ(prompts.Boxes.size(), 2);
        EXPECT_EQ(prompts.Boxes[1].Icon, tBoxIcon::Error);
        EXPECT_EQ(prompts.Boxes[1].Caption, QStringLiteral("Зорбинка"));
        EXPECT_EQ(prompts.Boxes[1].Text,
                  QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: %2.")
                      .arg(file, QString::fromUtf8(row.reason)));
    }
}

// The chart on paper is the chart as the screen draws it at the printable width, enlarged from the screen's
// 96 pixels an inch: its line, its digits and its plot in the same proportions (fonts scaled twice would be
// twelve times too large).
TEST_F(FileCommandsTest, ThePrintedChartFillsThePrintableArea) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    TChart* chart = window->Frame->chMain;
    // A curve across most of the axis, so that digits stand under it.
    tFastLine* line = chart->Series(0);
    line->Clear();
    for (int i = 0; i <= 450; ++i) line->Add(i * 0.01, 50 + 20 * std::sin(i * 0.03));
    chart->replot();
    // The screen's rendering of the printable area (A4 less 25 mm each side) at the screen's 96 pixels an
    // inch.
    const QImage screen = chart->toPixmap(qRound(160 / 25.4 * 96), qRound(247 / 25.4 * 96)).toImage();
    const tChartLook onScreen = Look(screen);
    if (const QString keep = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT"); !keep.isEmpty())
        screen.save(keep + QStringLiteral("/screen-chart.png"));
    ASSERT_GT(onScreen.Red.width(), 100);
    ASSERT_GT(onScreen.DigitHeight, 4);
    const QString file = dir.filePath(QStringLiteral("printed-chart.pdf"));
    PrintTo(file);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    ASSERT_EQ(PdfPages(file), 1);
    const int dpi = 150;
    const QImage page = PdfPage(file, 1, dpi);
    ASSERT_FALSE(page.isNull());
    const tChartLook onPaper = Look(page);
    // The chart fills the printable area in the page's orientation, drawn as the screen draws that size.
    const double mm = dpi / 25.4;
    const double scale = dpi / 96.0;
    EXPECT_NEAR(onPaper.Drawn.left(), 25 * mm + onScreen.Drawn.left() * scale, 2 * mm);
    EXPECT_NEAR(onPaper.Drawn.top(), 25 * mm + onScreen.Drawn.top() * scale, 2 * mm);
    EXPECT_NEAR(onPaper.Drawn.right(), 25 * mm + onScreen.Drawn.right() * scale, 2 * mm);
    EXPECT_NEAR(onPaper.Drawn.bottom(), 25 * mm + onScreen.Drawn.bottom() * scale, 2 * mm);
    EXPECT_GT(onPaper.Drawn.bottom(), 265 * mm) << "down to the bottom margin";
    EXPECT_NEAR(onPaper.Red.width(), onScreen.Red.width() * scale, 2 * mm);
    EXPECT_NEAR(onPaper.Red.height(), onScreen.Red.height() * scale, 2 * mm);
    // Line and digits at the screen's sizes, enlarged by the same scale.
    EXPECT_NEAR(onPaper.LineWidth, onScreen.LineWidth * scale, 1.5 + 0.25 * onScreen.LineWidth * scale);
    EXPECT_NEAR(onPaper.DigitHeight, onScreen.DigitHeight * scale, 1.5 + 0.3 * onScreen.DigitHeight * scale);
    if (const QString keep = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT"); !keep.isEmpty())
        page.save(keep + QStringLiteral("/printed-chart.png"));
}

// A report with a table wider than the text and a picture wider than the page: nothing cut off, the margins
// of the page set-up taken once; a print that cannot start says why; every export reads back.
TEST_F(FileCommandsTest, PrintedPagesAndExportsKeepEverything) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    ShowPage(3);
    QByteArray rtf = "{\\rtf1\\ansi Report\\par\\trowd";
    for (int c = 1; c <= 8; ++c) rtf += "\\cellx" + QByteArray::number(c * 2000);
    rtf += "\n";
    for (int c = 1; c <= 8; ++c) rtf += "\\intbl cell" + QByteArray::number(c) + "\\cell";
    rtf += "\\row\\pard After the table\\par}";
    WriteFile(dir.filePath(QStringLiteral("wide.rtf")), rtf);
    window->Frame->reReport->LoadFromFile(dir.filePath(QStringLiteral("wide.rtf")));
    QImage wide(3000, 300, QImage::Format_RGB32);
    wide.fill(QColor(0, 200, 0));
    QTextCursor caret(window->Frame->reReport->document());
    caret.movePosition(QTextCursor::End);
    window->Frame->reReport->setTextCursor(caret);
    window->Frame->reReport->InsertPicture(wide, QByteArray());
    const QString file = dir.filePath(QStringLiteral("printed-report.pdf"));
    PrintTo(file);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    const QString text = PdfText(file);
    if (const QString keep = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT"); !keep.isEmpty())
        QFile::copy(file, keep + QStringLiteral("/printed-report.pdf"));
    for (int c = 1; c <= 8; ++c)
        EXPECT_TRUE(text.contains(QStringLiteral("cell%1").arg(c))) << c << text.toStdString();
    QRect green;
    int pages = PdfPages(file);
    for (int p = 1; p <= pages; ++p) {
        const QImage page = PdfPage(file, p, 72);
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (page.pixelColor(x, y).green() > 150 && page.pixelColor(x, y).red() < 80)
                    green |= QRect(x, y, 1, 1);
        if (!green.isEmpty()) {
            // Inside the margins: 25 mm is 71 points.
            EXPECT_GE(green.left(), 70);
            EXPECT_LE(green.right(), page.width() - 70);
            break;
        }
    }
    EXPECT_FALSE(green.isEmpty()) << "the picture is printed";

    // A print that cannot start says so.
    prompts.Boxes.clear();
    PrintTo(QStringLiteral("/nonexistent/folder/report.pdf"));
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    ASSERT_EQ(prompts.Boxes.size(), 2);
    EXPECT_TRUE(prompts.Boxes[1].Text.startsWith(
        QStringLiteral("Невозможно выполнить печать на «/nonexistent/folder/report.pdf»")))
        << prompts.Boxes[1].Text.toStdString();

    // Every export format read back: the page as PDF, the chart as PNG and PDF.
    const QString pagePdf = dir.filePath(QStringLiteral("report-export.pdf"));
    prompts.TextAnswers = {pagePdf};
    window->RunAction(window->acFileExport);
    EXPECT_TRUE(PdfText(pagePdf).contains(QStringLiteral("After the table")));
    ShowPage(0);
    const QString png = dir.filePath(QStringLiteral("chart.png"));
    prompts.TextAnswers = {png};
    window->RunAction(window->acFileExport);
    EXPECT_EQ(prompts.Boxes.last().Options.DefaultExt, QStringLiteral("bmp"))
        << "the page's own format stays the default";
    const QImage picture(png, "PNG");
    EXPECT_EQ(picture.size(), window->Frame->chMain->size());
    EXPECT_FALSE(Look(picture).Red.isEmpty()) << "the red line is there";
    const QString chartPdf = dir.filePath(QStringLiteral("chart-export.pdf"));
    prompts.TextAnswers = {chartPdf};
    window->RunAction(window->acFileExport);
    EXPECT_EQ(PdfPages(chartPdf), 1);
    EXPECT_TRUE(PdfText(chartPdf).contains(QStringLiteral("heat")));
}
