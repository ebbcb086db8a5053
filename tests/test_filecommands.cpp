// The File commands: the chart as BMP, the pages as RTF, printing to PDF, JPEG and BMP pictures in the
// report.
#include "core/CommandLine.h"
#include "core/TextCodec.h"
#include "device/Searches.h"
#include "experiment/Experimentsfm.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "ui/Experimentfr.h"
#include "ui/Mainfm.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfReader.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>

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
        window->ShowChooser = [](TfmExperiments& chooser) {
            QTreeWidgetItem* group = chooser.Tree()->topLevelItem(0);
            group->setExpanded(true);
            chooser.Tree()->setCurrentItem(group->child(0));
            return int(QDialog::Accepted);
        };
        window->RunAction(window->acExperimentChoose);
        window->RunAction(window->acExperimentStart);
        for (int i = 0; i < 50 && window->Frame->chMain->Series(0)->Count() < 40; ++i) {
            window->tmMeasureTimer();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        window->RunAction(window->acExperimentStop);
        prompts.Boxes.clear();
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
    static QString PdfText(const QString& file) {
        QProcess process;
        process.start(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
        process.waitForFinished(20000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    static int PdfPages(const QString& file) {
        QProcess process;
        process.start(QStringLiteral("pdfinfo"), {file});
        process.waitForFinished(20000);
        for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n'))
            if (line.startsWith(QStringLiteral("Pages:"))) return line.mid(6).trimmed().toInt();
        return -1;
    }
};

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
    // A cancelled dialog does nothing.
    window->RunAction(window->acFileExport);
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
    window->Printer().setOutputFormat(QPrinter::PdfFormat);
    window->Printer().setOutputFileName(chart);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("print"));
    EXPECT_EQ(PdfPages(chart), 1);
    EXPECT_TRUE(PdfText(chart).contains(QStringLiteral("time"))) << PdfText(chart).toStdString();

    ShowPage(3);
    const QString report = dir.filePath(QStringLiteral("report.pdf"));
    window->Printer().setOutputFileName(report);
    prompts.DialogAnswers = {true};
    window->RunAction(window->acFilePrint);
    EXPECT_TRUE(PdfText(report).contains(QStringLiteral("Report of the day")));

    prompts.DialogAnswers = {false};
    window->Printer().setOutputFileName(dir.filePath(QStringLiteral("cancelled.pdf")));
    window->RunAction(window->acFilePrint);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("cancelled.pdf"))));
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
        window->Printer().setOutputFormat(QPrinter::PdfFormat);
        window->Printer().setOutputFileName(keep + QStringLiteral("/report-with-photo.pdf"));
        prompts.DialogAnswers = {true};
        window->RunAction(window->acFilePrint);
    }
    // Saved, the photo stays a JPEG.
    const QString saved = dir.filePath(QStringLiteral("with-photo.rtf"));
    window->Frame->reReport->SaveToFile(saved);
    EXPECT_TRUE(ReadFile(saved).contains("\\jpegblip"));
    EXPECT_TRUE(ReadFile(saved).contains("\\pngblip"));
}

TEST_F(FileCommandsTest, BrokenAndHostilePicturesAreRefused) {
    ShowPage(3);
    QByteArray huge = Jpeg(16, 16);
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xEA);
    huge[sof + 6] = char(0x60);
    huge[sof + 7] = char(0xEA);
    huge[sof + 8] = char(0x60);
    const QByteArray good = Jpeg(64, 48);
    const struct {
        const char* name;
        QByteArray bytes;
    } rows[] = {
        {"text.jpg", "this is no picture at all"},
        {"truncated.jpg", good.left(good.size() / 2)},
        {"huge.jpg", huge},
        {"garbage.bmp", "BM garbage garbage"},
        {"picture.gif", good},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString file = dir.filePath(QString::fromLatin1(row.name));
        WriteFile(file, row.bytes);
        prompts.Boxes.clear();
        prompts.TextAnswers = {file};
        window->RunAction(window->acFileAddImage);
        EXPECT_EQ(ReportImages(), 0);
        ASSERT_EQ(prompts.Boxes.size(), 2);
        EXPECT_EQ(prompts.Boxes[1].Icon, tBoxIcon::Error);
        EXPECT_EQ(prompts.Boxes[1].Caption, QStringLiteral("Зорбинка"));
        EXPECT_TRUE(prompts.Boxes[1].Text.startsWith(QStringLiteral("Невозможно загрузить изображение")))
            << prompts.Boxes[1].Text.toStdString();
    }
}
