// The main window end to end on demo sensors: states, enabling rules, the workflow's boxes, the live display.
#include "classroom/StationLink.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Functions.h"
#include "core/LocaleFormats.h"
#include "core/NumberFormat.h"
#include "core/Strings.h"
#include "core/TextCodec.h"
#include "core/UserFolders.h"
#include "device/Componentusb.h"
#include "device/Searches.h"
#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "platform/SessionEnd.h"
#include "runs/Csv.h"
#include "runs/WorkFolder.h"
#include "sim/DemoWorld.h"
#include "support/LessonSteps.h"
#include "support/LogCapture.h"
#include "support/MessageCollector.h"
#include "support/PaintSpy.h"
#include "support/Pdf.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "ui/AboutBox.h"
#include "ui/ClassMenu.h"
#include "ui/CollectionDialog.h"
#include "ui/DialogPrompts.h"
#include "ui/Experimentfr.h"
#include "ui/Experimentsfm.h"
#include "ui/LessonTexts.h"
#include "ui/Mainfm.h"
#include "ui/Pulsefr.h"
#include "ui/RunsPanel.h"
#include "ui/SpectrumWindow.h"
#include "ui/TablePage.h"
#include "widgets/BigDigits.h"
#include "widgets/Chart.h"
#include "widgets/ReadingsPanel.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfReader.h"
#include "widgets/StatusPanel.h"
#include "widgets/ValueLabel.h"
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusTipEvent>
#include <QTextCursor>
#include <QTextDocument>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>

namespace {

const QString kNotFound = QStringLiteral("Не найден датчик для проведения эксперимента.");

// The chart drawn on a white page of `size`, as printing and PDF export draw it.
QImage Paper(TChart* chart, QSize size) {
    QImage page(size, QImage::Format_RGB32);
    page.fill(Qt::white);
    QCPPainter painter(&page);
    chart->PaintOn(painter, page.width(), page.height());
    return page;
}

// Where the program sends the addresses it opens in the browser.
class tUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened << url; }
};

class MainWindowTest : public tWindowFixture {
protected:
    void SetUp() override {
        tWindowFixture::SetUp();
        Cfg("UseFTDI=1\r\nUseCDC=1\r\nUseHID=1\r\nTimeout=0\r\n");
        Experiment("Тепло",
                   "SensorName=T101\r\nFreq=100000\r\nAverage=1\r\nCaptionY=T\r\nFormatY=0.0\r\nMaxX=10\r\n");
        Experiment("Без датчика", "SensorName=no\r\n");
        Experiment("Звук", "SensorName=C101\r\nFreq=1000\r\nAverage=1\r\n");
        Experiment("Пульс",
                   "SensorName=M401\r\nFreq=10000\r\nAverage=1\r\nMaxX=30\r\nMaxY=1024\r\nFormatX=0.0\r\n");
        tSimSensorConfig temperature;
        temperature.Name = "T101";
        temperature.Signal = [](double t, int) { return 20 + t; };
        AddCom(QStringLiteral("/dev/ttyACM0"), temperature);
        tSimSensorConfig sound;
        sound.Name = "C101";
        sound.CarrierDetect = true;
        sound.Speed = 115200;
        AddFtdi(7, sound);
        tSimSensorConfig pulse;
        pulse.Name = "M401";
        pulse.Speed = 115200;
        pulse.Decimals = 0;
        pulse.Signal = [](double t, int) { return HeartbeatSignal(t, 70); };
        AddHid(QStringLiteral("demo-hid"), pulse);
    }
    void TearDown() override {
        SetElapsedCounter(nullptr);
        tWindowFixture::TearDown();
    }
    TfmMain& Window() {
        if (!window) {
            window = std::make_unique<TfmMain>();
            // Ticks are run by the test, not by the clock.
            window->tmMeasure->setInterval(24 * 3600 * 1000);
            SetElapsedCounter([this] { return counter; });
            prompts.OnDialog = [this](QDialog& dialog) {
                if (auto* collection = qobject_cast<TfmCollection*>(&dialog))
                    return collecting ? collecting(*collection) : int(QDialog::Rejected);
                if (other && !qobject_cast<TfmExperiments*>(&dialog)) return other(dialog);
                auto* chooser = qobject_cast<TfmExperiments*>(&dialog);
                if (!chooser) return int(QDialog::Rejected);
                if (choose) return choose(*chooser);
                if (chosen.isEmpty()) return int(QDialog::Rejected);
                QTreeWidgetItem* group = chooser->Tree()->topLevelItem(0);
                group->setExpanded(true);
                for (int i = 0; i < group->childCount(); ++i)
                    if (group->child(i)->text(0) == chosen) chooser->Tree()->setCurrentItem(group->child(i));
                return int(QDialog::Accepted);
            };
        }
        return *window;
    }
    tLesson& Lesson() { return Window().Lesson(); }
    // A command of the window that the first program did not have, by its name.
    QAction* Action(const char* name) {
        QAction* action = Window().findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_TRUE(action) << name;
        return action;
    }
    template <typename T> T* Child(const char* name = nullptr) {
        return Window().findChild<T*>(name ? QString::fromLatin1(name) : QString());
    }
    bool ValueLabelVisible() { return ToolBarLabelVisible(Window().lb); }
    // The sensor's reading between runs, in a label of its own.
    tValueLabel* ReadingLabel() { return Child<tValueLabel>("lbReading"); }
    bool ToolBarLabelVisible(tValueLabel* label) {
        QToolBar* bar = Window().tlbMain;
        auto* panel = dynamic_cast<tReadingsPanel*>(label->parentWidget());
        for (QAction* action : bar->actions())
            if (panel && bar->widgetForAction(action) == panel)
                return action->isVisible() && panel->Shown(label);
        return false;
    }
    // A click on the chart (a marker put on the nearest point).
    void Click(TChart* chart, QPoint at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, chart->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, chart->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &press);
        QApplication::sendEvent(chart, &release);
        QCoreApplication::processEvents();
    }
    // The points of the run measured (or of the newest run).
    int MeasuredPoints() {
        const int run = Lesson().Measured() >= 0 ? Lesson().Measured() : Lesson().RunCount() - 1;
        return run >= 0 ? Lesson().Run(run).Points->Count() : 0;
    }
    void Choose(const QString& name) {
        chosen = name;
        Window().RunAction(Window().acExperimentChoose);
    }
    // A simulated sensor `sensor` on the COM port `port` sending `signal` every 10 ms, named by the
    // experiment `name` with the keys `keys` (times in seconds), chosen.
    void ChooseSimulated(const char* name, const char* sensor, const char* port, double (*signal)(double),
                         const QByteArray& keys) {
        tSimSensorConfig config;
        config.Name = sensor;
        config.Signal = [signal](double t, int) { return signal(t); };
        AddCom(QString::fromLatin1(port), config);
        const QByteArray text =
            "SensorName=" + QByteArray(sensor) + "\r\nFreq=10000\r\nAverage=1\r\nCaptionX=t, с\r\n" + keys;
        Experiment(name, text.constData());
        Choose(QString::fromUtf8(name));
    }
    // The demo cooling vessel a hundred times faster (a point every 10 ms stands for a second of it), chosen
    // as «Остывание» with the keys `more` besides.
    void ChooseCooling(const char* more) {
        ChooseSimulated(
            "Остывание", "T102", "/dev/ttyACM5", [](double t) { return CoolingSignal(100 * t); },
            QByteArray("MaxX=6\r\nMinY=20\r\nMaxY=80\r\nCaptionY=T, °C\r\n") + more);
    }
    // The cooling measured in a shown window of `size`: a run of 5 points, ended.
    TfmMain& MeasuredCooling(QSize size) {
        ChooseCooling("");
        TfmMain& w = Window();
        w.resize(size);
        w.show();
        Lesson().SetCollection({5});
        w.RunAction(w.acExperimentStart);
        EXPECT_TRUE(WaitUntil([&] {
            w.tmMeasureTimer();
            return !w.tmMeasure->isActive();
        }));
        QApplication::processEvents();
        return w;
    }
    bool Enabled(QAction* action) {
        Window().UpdateActions();
        return action->isEnabled();
    }
    QStringList BoxTexts() const {
        QStringList texts;
        for (const tRecordedBox& box : prompts.Boxes)
            if (box.Kind == QStringLiteral("box")) texts << box.Text;
        return texts;
    }
    // Runs ticks until the run measured holds `points` points (the sensor's virtual clock runs as fast as it
    // is read).
    void TicksUntil(int points) {
        ASSERT_TRUE(WaitUntil([&] {
            Window().tmMeasureTimer();
            return MeasuredPoints() >= points;
        })) << "points "
            << MeasuredPoints() << ", runs " << Lesson().RunCount() << ", collecting "
            << int(Lesson().Collecting()) << ", measuring " << Window().tmMeasure->isActive() << ", boxes "
            << BoxTexts().join(u'|').toStdString() << ", written to T101 "
            << QByteArray(tSimWorld::Instance().FindCom(QStringLiteral("/dev/ttyACM0"))->Written().right(80))
                   .toHex(' ')
                   .toStdString();
    }

    QString chosen;
    // How the chooser and Параметры сбора are answered when not by `chosen`.
    std::function<int(TfmExperiments&)> choose;
    std::function<int(TfmCollection&)> collecting;
    std::function<int(QDialog&)> other; // any other dialog
    std::int64_t counter = 0;
};

} // namespace

TEST_F(MainWindowTest, BeforeAnyExperiment) {
    TfmMain& w = Window();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Зорбинка"));
    for (QAction* action :
         {w.acExperimentStart, w.acExperimentStop, w.acExperimentMarkPoint, w.acFileExport, w.acFileAddImage})
        EXPECT_FALSE(Enabled(action)) << action->text().toStdString();
    for (QAction* action :
         {w.acExperimentConnect, w.acExperimentChoose, w.acFilePrint, w.acFileExit, w.acHelpAbout})
        EXPECT_TRUE(Enabled(action)) << action->text().toStdString();
    w.RunAction(w.acExperimentConnect);
    EXPECT_EQ(BoxTexts(), QStringList{LoadStr(sChooseExperimentFirst)});
    EXPECT_FALSE(w.acExperimentConnect->isChecked());
    // Print with no experiment still shows the print dialog, then says why nothing is printed.
    w.RunAction(w.acFilePrint);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("print"));
    prompts.DialogAnswers = {true};
    w.RunAction(w.acFilePrint);
    EXPECT_TRUE(prompts.Boxes.last().Text.startsWith(QStringLiteral("Печатать нечего:")));
    // Hints are plain text (the add-image hint comes with a menu's ampersand).
    EXPECT_EQ(w.acFileAddImage->toolTip(), QStringLiteral("Добавить изображение из файла"));
    // Without any printer the dialog would offer nothing: a word instead, pointing to the PDF export.
    prompts.Printers = false;
    w.RunAction(w.acFilePrint);
    EXPECT_TRUE(
        prompts.Boxes.last().Text.startsWith(QStringLiteral("В системе не установлен ни один принтер.")));
    EXPECT_EQ(prompts.Boxes.last().Caption, QStringLiteral("Внимание"));
    prompts.Printers = true;
    // О программе: the version, the licence with its warranty disclaimer and where its text is, the
    // catalogue's licence, the libraries; the box fits the screen.
    QString about;
    QSize aboutSize;
    prompts.OnDialog = [&](QDialog& dialog) {
        about = dialog.findChild<QLabel*>(QStringLiteral("lbAbout"))->text();
        aboutSize = dialog.size();
        // Taller than the screen allows, the text scrolls inside the box.
        EXPECT_TRUE(dialog.findChild<QScrollArea*>(QStringLiteral("saAbout")));
        return int(QDialog::Rejected);
    };
    w.RunAction(w.acHelpAbout);
    prompts.OnDialog = nullptr;
    for (const char* needed : {"Зорбинка " ZORBINKA_VERSION, "GNU General Public License", "версии 3 либо",
                               "БЕЗ КАКИХ-ЛИБО ГАРАНТИЙ", "https://www.gnu.org/licenses/gpl-3.0.html",
                               "Каталог примеров", "QCustomPlot 2.1", "Qt 6", "GNU Scientific Library"})
        EXPECT_TRUE(about.contains(QString::fromUtf8(needed))) << needed;
    const QString licence = TAboutBox::LicenceFile();
    if (!licence.isEmpty()) {
        EXPECT_TRUE(about.contains(licence));
    }
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().size().expandedTo(aboutSize) ==
                QGuiApplication::primaryScreen()->availableGeometry().size());
    // A cancelled chooser changes nothing, not even the caption.
    Choose(QString());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Зорбинка"));
    EXPECT_FALSE(w.Experiment);
}

// Every experiment of the sample catalogue on its demo sensor (as `make run` shows them), in the locale the
// suite runs in: the values lie within the experiment's axes and the tool bar shows the newest one.
TEST_F(MainWindowTest, EverySampleExperimentReadsWithinItsAxes) {
    InstallDemoWorld(std::make_shared<tVirtualClock>(200));
    QStringList experiments;
    const QDir sample(QStringLiteral(SAMPLE_DATA_DIR));
    for (QDirIterator it(sample.path(), {QStringLiteral("experiment.txt")}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString relative = sample.relativeFilePath(QFileInfo(it.next()).path());
        QDir().mkpath(dir.filePath(QStringLiteral("data/") + relative));
        QFile::copy(sample.filePath(relative + QStringLiteral("/experiment.txt")),
                    dir.filePath(QStringLiteral("data/") + relative + QStringLiteral("/experiment.txt")));
        experiments << relative;
    }
    ASSERT_GE(experiments.size(), 8);
    TfmMain& w = Window();
    for (const QString& path : experiments) {
        SCOPED_TRACE(path.toStdString());
        choose = [&](TfmExperiments& chooser) {
            QTreeWidgetItem* node = nullptr;
            for (const QString& part : path.split(u'/')) {
                const int count = node ? node->childCount() : chooser.Tree()->topLevelItemCount();
                QTreeWidgetItem* found = nullptr;
                for (int i = 0; i < count && !found; ++i) {
                    QTreeWidgetItem* child = node ? node->child(i) : chooser.Tree()->topLevelItem(i);
                    if (child->text(0) == part) found = child;
                }
                if (!found) return int(QDialog::Rejected);
                node = found;
                node->setExpanded(true);
            }
            chooser.Tree()->setCurrentItem(node);
            return int(QDialog::Accepted);
        };
        w.RunAction(w.acExperimentChoose);
        ASSERT_TRUE(w.Experiment);
        if (!DescribeSensor(w.Experiment->SensorName).Connects) continue;
        ASSERT_TRUE(w.Device());
        w.RunAction(w.acExperimentStart);
        // An experiment of events keeps its points at distances typed.
        for (int r = 20; w.Experiment->Events && r <= 40; r += 20) {
            ASSERT_TRUE(WaitUntil([&] {
                w.tmMeasureTimer();
                return Lesson().EventReading().has_value();
            }));
            prompts.TextAnswers = {QString::number(r)};
            Action("acExperimentKeepPoint")->trigger();
        }
        if (!w.Experiment->Events) TicksUntil(6);
        w.RunAction(w.acExperimentStop);
        ASSERT_GT(Lesson().RunCount(), 0);
        const tPointSeries& line = *Lesson().Run(Lesson().RunCount() - 1).Points;
        const QCPRange axis = w.Frame->chMain->LeftRange();
        for (int i = 0; i < line.Count(); ++i) EXPECT_TRUE(axis.contains(line.Y(i))) << line.Y(i);
        if (DescribeSensor(w.Experiment->SensorName).ShowsValue) {
            const double newest = w.Experiment->Events ? *Lesson().NewestValue() : line.Y(line.Count() - 1);
            EXPECT_TRUE(w.lb->text().endsWith(FormatFloat(w.Experiment->FormatY, newest)))
                << w.lb->text().toStdString();
        }
    }
}

// Every command's state through a lesson, from one place: choose, connect, measure, lose the sensor, find it
// again, open a saved work.
TEST_F(MainWindowTest, EveryCommandInEveryState) {
    TfmMain& w = Window();
    static const char* const kNames[] = {"Exit",     "OpenWork", "About",      "ToolBar",    "StatusBar",
                                         "ShowAll",  "Connect",  "Choose",     "Start",      "Stop",
                                         "Mark",     "Export",   "Print",      "PrintSetup", "PageSetup",
                                         "AddImage", "Analyse",  "Collection", "Runs",       "BigDigits"};
    const QAction* actions[] = {w.acFileExit,
                                Action("acFileOpenWork"),
                                w.acHelpAbout,
                                w.acViewToolBar,
                                w.acViewStatusBar,
                                Action("acViewShowAll"),
                                w.acExperimentConnect,
                                w.acExperimentChoose,
                                w.acExperimentStart,
                                w.acExperimentStop,
                                w.acExperimentMarkPoint,
                                w.acFileExport,
                                w.acFilePrint,
                                w.acFilePrintSetup,
                                w.acFilePageSetup,
                                w.acFileAddImage,
                                Child<QMenu>("mnAnalysis")->menuAction(),
                                Action("acExperimentCollection"),
                                Action("acViewRuns"),
                                Action("acViewBigDigits")};
    const auto commands = [&] {
        w.UpdateActions();
        QStringList on;
        for (std::size_t i = 0; i < std::size(actions); ++i)
            if (actions[i]->isEnabled()) on << QString::fromLatin1(kNames[i]);
        if (w.acExperimentConnect->isChecked()) on << QStringLiteral("pressed");
        return on.join(u' ');
    };
    QString work;
    const auto ticks = [&] { TicksUntil(MeasuredPoints() + 3); };
    const QString base = QStringLiteral("Exit OpenWork About ToolBar StatusBar ");
    const QString printing = QStringLiteral(" Print PrintSetup PageSetup");
    // Анализ: a curve on the chart page, not being measured.
    const struct {
        const char* step;
        std::function<void()> act;
        tWindowState state;
        QString enabled;
    } rows[] = {
        {"started", [] {}, tWindowState::NoExperiment, base + "Connect Choose" + printing},
        {"Подключение first", [&] { w.RunAction(w.acExperimentConnect); }, tWindowState::NoExperiment,
         base + "Connect Choose" + printing},
        {"without a sensor", [&] { Choose(QStringLiteral("Без датчика")); }, tWindowState::Chosen,
         base + "ShowAll Connect Choose" + printing},
        {"its report", [&] { w.Frame->ShowPage(TfrExperiment::tPage::Report); }, tWindowState::Chosen,
         base + "ShowAll Connect Choose Export" + printing + " AddImage"},
        {"with a sensor",
         [&] {
             w.Frame->ShowPage(TfrExperiment::tPage::Chart);
             Choose(QStringLiteral("Тепло"));
         },
         tWindowState::Connected, base + "ShowAll Connect Choose Start Export" + printing + " pressed"},
        {"Пуск", [&] { w.RunAction(w.acExperimentStart); }, tWindowState::Measuring,
         base + "Connect Choose Stop Mark" + printing + " pressed"},
        {"Стоп",
         [&] {
             ticks();
             w.RunAction(w.acExperimentStop);
         },
         tWindowState::Connected,
         base + "ShowAll Connect Choose Start Export" + printing + " Analyse pressed"},
        {"sensor lost",
         [&] {
             w.RunAction(w.acExperimentStart);
             ticks();
             PostAppMessage(WM_SENSOR_LOST, 0, 0);
             QCoreApplication::processEvents();
         },
         tWindowState::SensorLost, base + "ShowAll Connect Choose Export" + printing + " Analyse"},
        {"found again", [&] { w.RunAction(w.acExperimentConnect); }, tWindowState::Connected,
         base + "ShowAll Connect Choose Start Export" + printing + " Analyse pressed"},
        {"a saved work",
         [&] {
             work = Lesson().Work()->Path();
             w.OpenWork(work);
         },
         tWindowState::WorkOpened, base + "ShowAll Connect Choose Export" + printing + " Analyse"},
        {"its sensor", [&] { w.RunAction(w.acExperimentConnect); }, tWindowState::Connected,
         base + "ShowAll Connect Choose Start Export" + printing + " Analyse pressed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        row.act();
        // With an experiment open: the runs panel and the big digits, and between runs Параметры сбора.
        QString enabled = row.enabled;
        if (row.state != tWindowState::NoExperiment) {
            const QString more =
                QString(row.state == tWindowState::Measuring ? "" : " Collection") + " Runs BigDigits";
            const qsizetype pressed = enabled.indexOf(QStringLiteral(" pressed"));
            enabled.insert(pressed < 0 ? enabled.size() : pressed, more);
        }
        EXPECT_EQ(commands(), enabled);
    }
}

TEST_F(MainWindowTest, ChooseConnectStartStop) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Зорбинка - Тепло"));
    ASSERT_TRUE(w.Device());
    EXPECT_TRUE(w.acExperimentConnect->isChecked());
    EXPECT_EQ(tSimWorld::Instance().FindCom(QStringLiteral("/dev/ttyACM0"))->Freq(), 100000) << "FREQ sent";
    EXPECT_TRUE(BoxTexts().isEmpty());
    EXPECT_TRUE(Enabled(w.acExperimentStart));
    EXPECT_TRUE(Enabled(w.acFileExport));
    EXPECT_FALSE(Enabled(w.acExperimentStop));

    w.RunAction(w.acExperimentStart);
    EXPECT_TRUE(Enabled(w.acExperimentStop));
    EXPECT_TRUE(Enabled(w.acExperimentMarkPoint));
    EXPECT_FALSE(Enabled(w.acFileExport)) << "export is disabled while measuring";
    EXPECT_FALSE(Enabled(w.acExperimentStart));
    TicksUntil(20);
    tFastLine* line = w.Frame->chMain->Series(w.SeriesIndex);
    for (int i = 0; i < 20; ++i) {
        EXPECT_DOUBLE_EQ(line->X(i), i * 0.1);
        EXPECT_NEAR(line->Y(i), 20 + i * 0.1, 0.006) << "the point at x holds the value sampled at x";
    }
    EXPECT_TRUE(ValueLabelVisible()) << w.lb->text().toStdString();
    EXPECT_EQ(w.lb->text(),
              QStringLiteral("T = ") + FormatFloat(QStringLiteral("0.0"), line->Y(line->Count() - 1)));

    w.RunAction(w.acExperimentStop);
    EXPECT_FALSE(w.tmMeasure->isActive());
    EXPECT_TRUE(Enabled(w.acFileExport)) << "enabled again after Stop";
    EXPECT_TRUE(Enabled(w.acExperimentStart));
    EXPECT_FALSE(w.Frame->MeasureRunning);

    // Connect while measuring stops, releases and finds the sensor again; the chart keeps its points.
    w.RunAction(w.acExperimentStart);
    TicksUntil(3);
    w.RunAction(w.acExperimentConnect);
    EXPECT_FALSE(w.tmMeasure->isActive());
    EXPECT_TRUE(w.Device());
    EXPECT_GE(w.Frame->chMain->Series(w.SeriesIndex)->Count(), 3);
}

// While the searches run the window repaints and shows a box saying what is searched; nothing else runs: a
// tick of the timer or a command in that time changes nothing.
TEST_F(MainWindowTest, TheSearchShowsThatItWorksAndNothingRunsMeanwhile) {
    Cfg("UseFTDI=1\r\nUseCDC=1\r\nUseHID=1\r\nTimeout=400\r\n");
    // The sensors' open pauses are waited for real: the box is looked at meanwhile.
    SetPauseHook(nullptr);
    TfmMain& w = Window();
    int choosers = 0;
    const auto show = prompts.OnDialog;
    prompts.OnDialog = [&](QDialog& chooser) {
        ++choosers;
        return show(chooser);
    };
    bool seen = false;
    QString text;
    QTimer::singleShot(150, [&] {
        const QDialog* box = Child<QDialog>("SearchBox");
        seen = box && box->isVisible();
        if (seen)
            for (QLabel* label : box->findChildren<QLabel*>()) text += label->text() + u'|';
        w.RunAction(w.acExperimentChoose);
        w.RunAction(w.acExperimentStart);
        w.tmMeasureTimer();
        w.UpdateActions();
        EXPECT_FALSE(w.acFileExit->isEnabled()) << "every command waits";
    });
    Choose(QStringLiteral("Тепло"));
    EXPECT_TRUE(seen);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Поиск датчика «T101»…|Подключение: "))) << text.toStdString();
    EXPECT_EQ(choosers, 1) << "the chooser was not opened again";
    ASSERT_TRUE(w.Device());
    EXPECT_FALSE(w.tmMeasure->isActive()) << "Пуск did not run";
    EXPECT_FALSE(Child<QDialog>("SearchBox"));
    EXPECT_TRUE(Enabled(w.acFileExit));
}

TEST_F(MainWindowTest, ExperimentWithoutSensorAndLinksSwitchedOff) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Без датчика"));
    EXPECT_TRUE(BoxTexts().isEmpty());
    EXPECT_FALSE(w.Device());
    EXPECT_FALSE(w.Frame->chMain->isVisibleTo(w.Frame));
    EXPECT_TRUE(w.Frame->lbNoSensor->isVisibleTo(w.Frame));
    EXPECT_FALSE(Enabled(w.acExperimentStart));
    EXPECT_FALSE(Enabled(w.acFileExport));
    // It points to the table page, a click away.
    EXPECT_TRUE(w.Frame->lbNoSensor->text().contains(QStringLiteral("«Таблица»")));
    emit w.Frame->lbNoSensor->linkActivated(QStringLiteral("table"));
    EXPECT_EQ(w.Frame->CurrentPage(), TfrExperiment::tPage::Table);

    window.reset();
    Cfg("UseFTDI=0\r\nUseCDC=0\r\nUseHID=0\r\nTimeout=0\r\n");
    Choose(QStringLiteral("Тепло"));
    ASSERT_EQ(BoxTexts().size(), 1);
    EXPECT_EQ(BoxTexts()[0],
              kNotFound + QStringLiteral("\r\nДатчик «T101» не найден (все способы подключения выключены)."));
    EXPECT_FALSE(Window().acExperimentConnect->isChecked());
}

TEST_F(MainWindowTest, MissingFtdiLibraryGivesTwoBoxes) {
    SetFTDILibrary(std::make_unique<tFTDILibrary>(QStringLiteral("libzorbinka-absent.so")));
    prompts.Boxes.clear();
    tSimWorld::Instance().Clear();
    // The search's own box is gone before the boxes that tell what it found.
    prompts.WhileShown = [&] {
        const QDialog* box = Child<QDialog>("SearchBox");
        EXPECT_TRUE(!box || box->isHidden());
    };
    Choose(QStringLiteral("Тепло"));
    prompts.WhileShown = nullptr;
    const QStringList texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].startsWith(
        QStringLiteral("Была предпринята попытка работы с датчиками через интерфейс FTDI")));
    EXPECT_EQ(texts[1], kNotFound + QStringLiteral("\r\nДатчик «T101» не найден (искали: FTDI, COM, HID)."));
    EXPECT_EQ(prompts.Boxes.last().Caption, QStringLiteral("Внимание"));
    // Said once a program run; and not at all when the sensor is found on another link.
    prompts.Boxes.clear();
    Window().RunAction(Window().acExperimentConnect);
    EXPECT_EQ(BoxTexts().size(), 1);
    tSimSensorConfig found;
    found.Name = "T101";
    AddCom(QStringLiteral("/dev/ttyACM5"), found);
    window.reset();
    prompts.Boxes.clear();
    Choose(QStringLiteral("Тепло"));
    EXPECT_TRUE(BoxTexts().isEmpty()) << BoxTexts().join(u'|').toStdString();
    EXPECT_TRUE(Window().Device());
}

TEST_F(MainWindowTest, ChooseWhileMeasuring) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    w.RunAction(w.acExperimentStart);
    TicksUntil(2);
    QPointer<TfrExperiment> frame = w.Frame;
    prompts.ButtonAnswers = {bbNo};
    Choose(QStringLiteral("Звук"));
    EXPECT_EQ(prompts.Boxes.last().Text, LoadStr(sConfirmNewExperiment));
    EXPECT_EQ(prompts.Boxes.last().DefaultButton, bbYes);
    EXPECT_TRUE(w.tmMeasure->isActive()) << "No: the measurement goes on";
    EXPECT_EQ(w.Frame, frame);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Зорбинка - Тепло"));

    prompts.ButtonAnswers = {bbYes};
    Choose(QStringLiteral("Звук"));
    EXPECT_FALSE(w.tmMeasure->isActive()) << "Yes: the measurement stops";
    EXPECT_TRUE(frame.isNull()) << "the old frame is gone";
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Зорбинка - Звук"));
    ASSERT_TRUE(w.Device());
    EXPECT_EQ(w.Device()->GetName(), QStringLiteral("C101"));
    // The value label is not shown for C101 while measuring; a marker placed after the run shows its reading.
    w.RunAction(w.acExperimentStart);
    TicksUntil(30);
    EXPECT_FALSE(ValueLabelVisible());
    w.RunAction(w.acExperimentStop);
    TChart* chart = w.Frame->chMain;
    chart->resize(600, 400);
    chart->replot();
    chart->OnMouseUp(Qt::LeftButton, chart->PlotRect().center(), false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ValueLabelVisible());
    EXPECT_FALSE(w.lb->text().contains(u'\t')) << "fields spaced, not tabbed";
}

TEST_F(MainWindowTest, OneBoxPerStoppedRun) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    const QString lost = QStringLiteral(
        "Внимание! Измерения были остановлены.\r\nДатчик , был отключен в процессе проведения измерений.");
    const struct {
        int message;
        int parameter;
        QString text;
        bool gone; // the sensor is let go: Подключение released, Пуск waits for it
    } rows[] = {{WM_MEASURE_RECV_ERROR, 2, LoadStr(sReceiveError), true},
                {WM_MEASURE_RECV_ERROR, 1, LoadStr(sReceiveError), false},
                {WM_MEASURE_SEND_ERROR, 0, LoadStr(sSendError), false},
                {WM_SENSOR_LOST, 0, lost, true}};
    for (const auto& row : rows) {
        if (!w.Device()) w.RunAction(w.acExperimentConnect);
        ASSERT_TRUE(w.Device()) << BoxTexts().join(u'|').toStdString();
        prompts.Boxes.clear();
        w.RunAction(w.acExperimentStart);
        // The sensor streams before the notice comes: a stop that overtook its start would leave it
        // streaming.
        TicksUntil(MeasuredPoints() + 2);
        // The notice and late ones behind it: the first stops the run with its box, the others find nothing
        // to stop.
        PostAppMessage(row.message, row.parameter, 0);
        PostAppMessage(WM_MEASURE_RECV_ERROR, 2, 0);
        PostAppMessage(WM_SENSOR_LOST, 0, 0);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.tmMeasure->isActive());
        EXPECT_EQ(BoxTexts(), QStringList{row.text});
        EXPECT_EQ(prompts.Boxes.last().Caption, QStringLiteral("Внимание"));
        EXPECT_EQ(!w.Device(), row.gone);
        EXPECT_EQ(w.acExperimentConnect->isChecked(), !row.gone);
        EXPECT_EQ(Enabled(w.acExperimentStart), !row.gone);
        EXPECT_EQ(Lesson().SensorState(),
                  row.gone ? tLesson::tSensorState::Lost : tLesson::tSensorState::Connected);
    }
}

// A measurement that fails before its first value (its thread ended by an error) is said once and leaves no
// run behind: not in the table, not on the disk.
TEST_F(MainWindowTest, AFailedRunIsSaidOnceAndIsNoRun) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    std::shared_ptr<tSimSensor> sensor = tSimWorld::Instance().FindCom(QStringLiteral("/dev/ttyACM0"));
    tSimFaults faults = sensor->Faults();
    faults.Mute = true;
    sensor->SetFaults(faults);
    w.RunAction(w.acExperimentStart);
    ASSERT_EQ(Lesson().RunCount(), 1);
    PostAppMessage(WM_MEASURE_RECV_ERROR, 1, 0);
    PostAppMessage(WM_MEASURE_RECV_ERROR, 1, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(BoxTexts(), QStringList{LoadStr(sReceiveError)});
    EXPECT_EQ(Lesson().RunCount(), 0);
    ASSERT_TRUE(Lesson().Work());
    EXPECT_FALSE(QFileInfo::exists(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")));
    EXPECT_FALSE(ReadFile(Lesson().Work()->Path() + QStringLiteral("/work.txt")).contains("Run1."));
}

// A cable pulled, or a sensor that falls silent, in the middle of a run on each link: one box at most, every
// value the sensor sent on the chart, the thread gone and no reading on; then the sensor plugged back in is
// found again and the next run goes on the second line.
TEST_F(MainWindowTest, LostAndSilentSensorsOnEveryLink) {
    Experiment("Обрыв", "SensorName=Z101\r\nFreq=10000\r\nAverage=1\r\nSeriesCount=2\r\nMaxX=1000\r\n");
    enum tLink { FtdiHub, FtdiSingle, ComRate, ComPacket, Hid };
    const struct {
        tLink link;
        bool silent;
        bool box; // silence on a serial line in rate mode is not a failure: its reads succeed empty
    } rows[] = {{FtdiHub, false, true},   {FtdiSingle, false, true}, {ComRate, false, true},
                {ComPacket, false, true}, {Hid, false, true},        {FtdiHub, true, false},
                {ComRate, true, false},   {ComPacket, true, true},   {Hid, true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "link " << row.link << (row.silent ? " silent" : " unplugged"));
        window.reset();
        prompts.Boxes.clear();
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Name = "Z101";
        config.CarrierDetect = row.link == FtdiSingle;
        config.Speed = row.link == ComPacket                        ? 0
                       : row.link == FtdiHub || row.link == ComRate ? 921600
                                                                    : 115200;
        std::shared_ptr<tSimSensor> sensor;
        std::shared_ptr<tSimHidSensor> hid;
        if (row.link == FtdiHub || row.link == FtdiSingle) sensor = AddFtdi(7, config);
        if (row.link == ComRate || row.link == ComPacket)
            sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
        if (row.link == Hid) {
            hid = AddHid(QStringLiteral("demo-hid"), config);
            sensor = hid->SharedSensor();
        }
        const auto reads = [&] { return hid ? hid->Reads() : int(sensor->ReadRequests().size()); };

        TfmMain& w = Window();
        // Between runs nothing is read here: what a run leaves is what is looked at.
        Action("acViewSensorReading")->setChecked(false);
        Choose(QStringLiteral("Обрыв"));
        ASSERT_TRUE(w.Device());
        w.RunAction(w.acExperimentStart);
        TicksUntil(20);
        if (row.silent) {
            tSimFaults faults = sensor->Faults();
            faults.Mute = true;
            sensor->SetFaults(faults);
        } else {
            sensor->Unplug();
        }
        if (row.box) {
            ASSERT_TRUE(WaitUntil([&] {
                QCoreApplication::processEvents();
                if (w.tmMeasure->isActive()) w.tmMeasureTimer();
                return !w.tmMeasure->isActive();
            }));
        } else {
            for (int i = 0; i < 20; ++i) {
                w.tmMeasureTimer();
                QCoreApplication::processEvents();
            }
            EXPECT_TRUE(w.tmMeasure->isActive());
            w.RunAction(w.acExperimentStop);
        }
        const int readsAfterStop = reads();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(BoxTexts(), row.box ? QStringList{LoadStr(sReceiveError)} : QStringList());
        EXPECT_EQ(!w.Device(), row.box) << "a sensor that stopped answering is let go";
        EXPECT_TRUE(!w.Device() || !w.Device()->IsMeasuring()) << "the thread is gone";
        EXPECT_EQ(reads(), readsAfterStop) << "nothing reads on";
        const std::vector<double> sent = sensor->Generated();
        tFastLine* line = w.Frame->chMain->Series(0);
        ASSERT_EQ(std::size_t(line->Count()), sent.size());
        for (int i = 0; i < line->Count(); ++i) ASSERT_DOUBLE_EQ(line->Y(i), sent[std::size_t(i)]) << i;

        if (row.silent) continue;
        // Back in: a device arrival is pointed out, Connect finds the sensor, the next run takes line 2.
        sensor->Plug();
        w.usb->WMDeviceChange(0x8000, 5);
        EXPECT_EQ(w.StatusPanels[0]->text(), QStringLiteral("Датчик подключён. Нажмите «Подключение»."));
        prompts.Boxes.clear();
        w.RunAction(w.acExperimentConnect);
        ASSERT_TRUE(w.Device());
        EXPECT_TRUE(BoxTexts().isEmpty());
        EXPECT_TRUE(w.StatusPanels[0]->text().isEmpty());
        w.RunAction(w.acExperimentStart);
        EXPECT_EQ(w.SeriesIndex, 1);
        TicksUntil(5);
        w.RunAction(w.acExperimentStop);
        EXPECT_EQ(w.Frame->chMain->Series(0)->Count(), line->Count()) << "the first run stays";
    }
}

TEST_F(MainWindowTest, ADeviceArrivingIsPointedOutWhileTheSensorIsNotConnected) {
    TfmMain& w = Window();
    const QString hint = QStringLiteral("Датчик подключён. Нажмите «Подключение».");
    w.usb->WMDeviceChange(0x8000, 5);
    EXPECT_TRUE(w.StatusPanels[0]->text().isEmpty()) << "no experiment chosen";
    Choose(QStringLiteral("Без датчика"));
    w.usb->WMDeviceChange(0x8000, 5);
    EXPECT_TRUE(w.StatusPanels[0]->text().isEmpty()) << "an experiment without a sensor";
    tSimWorld::Instance().SetPlugged(false);
    Choose(QStringLiteral("Тепло"));
    EXPECT_FALSE(w.Device());
    tSimWorld::Instance().SetPlugged(true);
    w.usb->WMDeviceChange(0x8000, 5);
    EXPECT_EQ(w.StatusPanels[0]->text(), hint);
    EXPECT_FALSE(w.Device()) << "nothing connects by itself";
}

// A second Пуск on a one-line experiment clears the line, not the measurement: run 1 stays in the table and
// in its file, as drawn; the work opens again with its runs, labels and report, and markers work on it.
TEST_F(MainWindowTest, EveryRunIsKeptAndTheWorkOpensAgain) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    w.Frame->reReport->setPlainText(QStringLiteral("Вывод: вода нагревается."));
    w.Frame->reReport->document()->setModified(true);
    std::vector<std::vector<double>> drawn;
    std::vector<int> labelled;
    for (int run = 0; run < 2; ++run) {
        w.RunAction(w.acExperimentStart);
        TicksUntil(4);
        Lesson().BeginLabel();
        Lesson().EndLabel(QStringLiteral("метка %1").arg(run + 1));
        TicksUntil(12 + 3 * run);
        w.RunAction(w.acExperimentStop);
        tFastLine* line = w.Frame->chMain->Series(0);
        drawn.emplace_back();
        for (int i = 0; i < line->Count(); ++i) drawn.back().push_back(line->Y(i));
        labelled.push_back(int(line->Series()->Labels().begin()->first));
    }
    ASSERT_EQ(Lesson().RunCount(), 2);
    EXPECT_EQ(Lesson().Run(0).Points->Count(), int(drawn[0].size())) << "run 1 survives the second start";
    tRunsModel* model = w.Frame->tvTable->Model();
    model->SetShown(true); // as the page shows it
    EXPECT_EQ(model->columnCount(), 4);
    EXPECT_EQ(model->rowCount(), int(std::max(drawn[0].size(), drawn[1].size())));
    EXPECT_EQ(model->data(model->index(2, 1)).toString(), FormatFloat(QStringLiteral("0.0"), drawn[0][2]));
    EXPECT_TRUE(model->headerData(1, Qt::Horizontal).toString().startsWith(QStringLiteral("Опыт 1: T\n")));
    EXPECT_TRUE(model->headerData(2, Qt::Horizontal).toString().startsWith(QStringLiteral("Опыт 2: ")));
    ASSERT_TRUE(Lesson().Work());
    const QString path = Lesson().Work()->Path();
    // The file of run 1 holds exactly the values drawn.
    const QChar decimal = SystemDecimalSeparator();
    const QList<QStringList> rows = ParseCsv(
        QString::fromUtf8(ReadFile(path + QStringLiteral("/run-01.csv"))).mid(1), CsvSeparator(decimal));
    ASSERT_EQ(std::size_t(rows.size()), drawn[0].size() + 1);
    for (std::size_t i = 0; i < drawn[0].size(); ++i)
        EXPECT_EQ(rows[qsizetype(i) + 1][1], CsvNumber(drawn[0][i], decimal));
    EXPECT_EQ(rows[labelled[0] + 1][2], QStringLiteral("метка 1"));
    EXPECT_EQ(model->data(model->index(labelled[0], 1), tRunsModel::kLabelRole), QStringLiteral("метка 1"))
        << "the cleared run's label stays beside its point in the table";

    window.reset();
    Window().OpenWork(path);
    TfmMain& again = Window();
    EXPECT_EQ(again.windowTitle(), QStringLiteral("Зорбинка - Тепло"));
    EXPECT_FALSE(again.Device()) << "a saved work opens without a sensor";
    ASSERT_EQ(Lesson().RunCount(), 2);
    tFastLine* line = again.Frame->chMain->Series(0);
    ASSERT_EQ(std::size_t(line->Count()), drawn[1].size()) << "the last run is on the chart";
    for (int i = 0; i < line->Count(); ++i) EXPECT_EQ(line->Y(i), drawn[1][std::size_t(i)]);
    EXPECT_EQ(line->Label(labelled[1]), QStringLiteral("метка 2"));
    EXPECT_EQ(again.Frame->tvTable->Model()->columnCount(), 4);
    EXPECT_TRUE(again.Frame->reReport->toPlainText().contains(QStringLiteral("Вывод: вода нагревается.")));
    TChart* chart = again.Frame->chMain;
    chart->resize(600, 400);
    chart->replot();
    chart->OnMouseUp(Qt::LeftButton, chart->PlotRect().center(), false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(again.lb->text().startsWith(QStringLiteral("T="))) << again.lb->text().toStdString();

    // «Показать всё» brings back the experiment's axes after the user zoomed in.
    chart->SetBottomRange(1, 2);
    chart->SetLeftRange(20, 21);
    again.RunAction(Action("acViewShowAll"));
    EXPECT_EQ(chart->BottomRange(), QCPRange(0, 10));
    EXPECT_EQ(chart->LeftRange(), QCPRange(0, 100));
    // Export works without a sensor, on every page: the chart holds the runs.
    for (const auto page : {TfrExperiment::tPage::Table, TfrExperiment::tPage::Chart}) {
        again.Frame->ShowPage(page);
        EXPECT_TRUE(Enabled(again.acFileExport));
    }
    // Opening asks first, as choosing does; No keeps what is open.
    prompts.ButtonAnswers = {bbNo};
    again.OpenWork(path);
    EXPECT_EQ(prompts.Boxes.last().Text, LoadStr(sConfirmNewExperiment));
    EXPECT_EQ(Lesson().RunCount(), 2);
    // A third run goes on in the same folder.
    again.RunAction(again.acExperimentConnect);
    again.RunAction(again.acExperimentStart);
    TicksUntil(3);
    again.RunAction(again.acExperimentStop);
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral("/run-03.csv")));
    // Its list lost: the runs open from their files, the box says so, and the next run takes a new file.
    WriteFile(path + QStringLiteral("/work.txt"), "");
    window.reset();
    prompts.Boxes.clear();
    Window().OpenWork(path);
    EXPECT_EQ(Lesson().RunCount(), 3);
    ASSERT_FALSE(BoxTexts().isEmpty());
    EXPECT_TRUE(BoxTexts().last().startsWith(QStringLiteral("Список опытов работы (work.txt) отсутствовал")));
    const QByteArray first = ReadFile(path + QStringLiteral("/run-01.csv"));
    Window().RunAction(Window().acExperimentConnect);
    Window().RunAction(Window().acExperimentStart);
    TicksUntil(3);
    Window().RunAction(Window().acExperimentStop);
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral("/run-04.csv")));
    EXPECT_EQ(ReadFile(path + QStringLiteral("/run-01.csv")), first) << "nothing written over";
    // Cancelled while it is read: the window stays as it was.
    prompts.CancelAtStep = 0;
    EXPECT_THROW(Window().OpenWork(path), EAbort);
    EXPECT_EQ(Lesson().RunCount(), 4);
    prompts.CancelAtStep = -1;
}

// The report of an experiment without a sensor is kept too: it goes to that experiment's folder when
// another one is chosen, and export saves it.
TEST_F(MainWindowTest, AReportWithoutASensorIsSavedWithItsOwnExperiment) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Без датчика"));
    w.Frame->ShowPage(TfrExperiment::tPage::Report);
    EXPECT_TRUE(Enabled(w.acFileExport));
    w.Frame->reReport->setPlainText(QStringLiteral("Фасоль выросла на 3 см."));
    w.Frame->reReport->document()->setModified(true);
    prompts.ButtonAnswers = {bbYes};
    Choose(QStringLiteral("Тепло"));
    const QStringList folders = QDir(tWorkFolder::DataRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(folders.size(), 1) << folders.join(u'|').toStdString();
    EXPECT_TRUE(folders[0].endsWith(QStringLiteral(" Без датчика")));
    QTextDocument back;
    ReadRtf(ReadFile(tWorkFolder::DataRoot() + u'/' + folders[0] + QStringLiteral("/report.rtf")), back);
    EXPECT_EQ(back.toPlainText(), QStringLiteral("Фасоль выросла на 3 см."));

    // Typing is saved a few seconds after the last key, not a minute later; leaving the page saves at once.
    w.Frame->ShowPage(TfrExperiment::tPage::Report);
    QTextCursor(w.Frame->reReport->document()).insertText(QStringLiteral("Вода нагрелась. "));
    EXPECT_TRUE(Child<QTimer>("tmReportSave")->isActive());
    EXPECT_LE(Child<QTimer>("tmReportSave")->interval(), 5000);
    Child<QTimer>("tmReportSave")->start(0);
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return Lesson().Work() &&
               ReadFile(Lesson().Work()->Path() + QStringLiteral("/report.rtf")).contains("\\u1042");
    }));
    const QString file = Lesson().Work()->Path() + QStringLiteral("/report.rtf");
    QTextCursor(w.Frame->reReport->document()).insertText(QStringLiteral("Опыт окончен. "));
    w.Frame->ShowPage(TfrExperiment::tPage::Chart);
    ReadRtf(ReadFile(file), back);
    EXPECT_TRUE(back.toPlainText().startsWith(QStringLiteral("Опыт окончен. Вода нагрелась.")));
}

// Where an experiment has no report template, what is said in its place is shown and never saved as the
// report; a result sent to the report takes its place.
TEST_F(MainWindowTest, TheTextInPlaceOfAMissingTemplateIsNotTheReport) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    EXPECT_TRUE(w.Frame->reReport->toPlainText().contains(QStringLiteral("Шаблон отчета")));
    w.RunAction(w.acExperimentStart);
    TicksUntil(6);
    w.RunAction(w.acExperimentStop);
    w.Frame->ShowPage(TfrExperiment::tPage::Report);
    w.Frame->ShowPage(TfrExperiment::tPage::Chart);
    const QString file = Lesson().Work()->Path() + QStringLiteral("/report.rtf");
    EXPECT_FALSE(QFileInfo::exists(file));
    w.RunAction(Action("acAnalysisStatistics"));
    w.RunAction(Action("acAnalysisToReport"));
    w.Frame->ShowPage(TfrExperiment::tPage::Chart);
    QTextDocument back;
    ReadRtf(ReadFile(file), back);
    EXPECT_TRUE(back.toPlainText().contains(QStringLiteral("Статистика")))
        << back.toPlainText().toStdString();
    EXPECT_FALSE(back.toPlainText().contains(QStringLiteral("Шаблон отчета")));
}

// Log-off while a box is open: the box is answered as by Escape, nothing more is asked, the window closes.
TEST_F(MainWindowTest, TheSessionsEndClosesAnOpenBoxAndTheWindow) {
    TfmMain& w = Window();
    w.show();
    auto* session = w.findChild<tSessionEnd*>();
    ASSERT_TRUE(session);
    SetPrompts(&DialogPrompts());
    QTimer::singleShot(0, &w, [session] {
        emit session->endQueried();
        emit session->endRequested();
    });
    const int answer =
        Prompts().MessageBox(&w, QStringLiteral("Невозможно записать файл."), QStringLiteral("Зорбинка"),
                             tBoxIcon::Error, bbOk | bbCancel, bbOk);
    EXPECT_EQ(answer, bbCancel);
    EXPECT_FALSE(w.isVisible());
    // Asked again, nothing is shown: the answer comes at once.
    EXPECT_EQ(Prompts().MessageBox(&w, QStringLiteral("Сохранить?"), QStringLiteral("Зорбинка"),
                                   tBoxIcon::Question, bbYes | bbNo, bbYes),
              bbNo);
    EndPrompts(false);
    SetPrompts(&prompts);
}

// A box shows its text as it stands: markup another typed (a teacher's message) is not obeyed.
TEST_F(MainWindowTest, ABoxShowsMarkupAsItStands) {
    TfmMain& w = Window();
    w.show();
    SetPrompts(&DialogPrompts());
    Qt::TextFormat format = Qt::RichText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            box->done(QMessageBox::Ok);
        }
    });
    poll.start(10);
    Prompts().MessageBox(&w, QStringLiteral("Сообщение учителя: <b>жирный</b> <img src=x>"),
                         QStringLiteral("Урок в классе"), tBoxIcon::Information, bbOk, bbOk);
    poll.stop();
    EXPECT_EQ(format, Qt::PlainText);

    // The entry box is as wide as its title needs (the title bar cut «Сохранить точку» to «Сохра… точку»).
    int width = 0;
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
        if (auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            width = box->width();
            box->reject();
        }
    });
    poll.start(10);
    QString value;
    Prompts().InputQuery(&w, QStringLiteral("Сохранить точку"), QStringLiteral("Введите r, см:"), value);
    poll.stop();
    SetPrompts(&prompts);
    const QFontMetrics metrics(w.font());
    EXPECT_GE(width, metrics.horizontalAdvance(QStringLiteral("Сохранить точку")) + metrics.height() * 8);
}

// Открыть работу lists the works with their whole names, in a dialog of a good part of the screen.
TEST_F(MainWindowTest, TheOpenWorkDialogShowsWholeNames) {
    TfmMain& w = Window();
    w.show();
    const QString name = QStringLiteral("2026-12-08 14-15-36 Остывание воды в разных сосудах (2)");
    QDir(dir.path()).mkpath(QStringLiteral("works/") + name);
    SetPrompts(&DialogPrompts());
    int nameWidth = 0, columnWidth = 0;
    QSize size, room;
    QTimer::singleShot(200, &w, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        ASSERT_TRUE(view);
        QApplication::processEvents();
        nameWidth = view->fontMetrics().horizontalAdvance(name);
        columnWidth = view->columnWidth(0);
        size = dialog->size();
        room = dialog->screen()->availableGeometry().size();
        dialog->reject();
    });
    tFileDialogOptions options;
    options.Title = QStringLiteral("Открыть работу");
    options.Directory = dir.filePath(QStringLiteral("works"));
    EXPECT_TRUE(Prompts().OpenFileName(&w, options).isEmpty());
    SetPrompts(&prompts);
    EXPECT_GT(columnWidth, nameWidth) << "the whole name is shown";
    EXPECT_GE(size.width(), room.width() / 2);
    EXPECT_LE(size.width(), room.width());
}

// Without a sensor the points are typed into the table: x, Tab, y, Enter, and on in the next row; the chart
// draws them, the work keeps them, a bad number is refused at its cell with the reason.
TEST_F(MainWindowTest, PointsTypedIntoTheTableOfAnExperimentWithoutASensor) {
    TfmMain& w = Window();
    w.show();
    Choose(QStringLiteral("Без датчика"));
    w.Frame->ShowPage(TfrExperiment::tPage::Table);
    QApplication::processEvents();
    TTablePage* table = w.Frame->tvTable;
    tRunsModel* model = table->Model();
    ASSERT_TRUE(table->isVisible());
    ASSERT_TRUE(model->Typing());
    EXPECT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->rowCount(), 1) << "an empty row for the first point";
    const auto type = [&](const QString& text, int key) {
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        if (!editor) editor = table->viewport()->findChild<QLineEdit*>();
        ASSERT_TRUE(editor) << text.toStdString();
        editor->setText(text);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(editor, &press);
        QApplication::processEvents();
    };
    table->setCurrentIndex(model->index(0, 0));
    table->edit(model->index(0, 0));
    type(QStringLiteral("1,5"), Qt::Key_Tab);
    EXPECT_EQ(table->currentIndex(), model->index(0, 1));
    EXPECT_EQ(Lesson().TypedRun(), -1) << "a point is kept once both its numbers are in";
    type(QStringLiteral("2"), Qt::Key_Return);
    ASSERT_EQ(Lesson().TypedRun(), 0);
    EXPECT_EQ(table->currentIndex(), model->index(1, 0)) << "Enter moves on to the next row";
    type(QStringLiteral("0.5"), Qt::Key_Tab);
    type(QStringLiteral("1"), Qt::Key_Return);
    const tPointSeries& points = *Lesson().Run(0).Points;
    ASSERT_EQ(points.Count(), 2);
    EXPECT_EQ(points.X(0), 0.5);
    EXPECT_EQ(points.Y(1), 2);
    EXPECT_EQ(model->rowCount(), 3);
    // Typed into its cell, a bad number leaves the cell in editing, with the reason beside it.
    table->setCurrentIndex(model->index(2, 0));
    table->edit(model->index(2, 0));
    type(QStringLiteral("x"), Qt::Key_Return);
    EXPECT_EQ(table->currentIndex(), model->index(2, 0));
    const QList<QLineEdit*> editors = table->viewport()->findChildren<QLineEdit*>();
    EXPECT_TRUE(std::any_of(editors.begin(), editors.end(), [](QLineEdit* e) { return e->isVisible(); }))
        << "the cell is edited again";
    type(QStringLiteral("3"), Qt::Key_Escape);
    // A bad number is refused with the reason; the cell keeps its number.
    QString reason;
    QObject::connect(model, &tRunsModel::refused,
                     [&](const QModelIndex&, const QString& why) { reason = why; });
    EXPECT_FALSE(model->setData(model->index(0, 1), QStringLiteral("два")));
    EXPECT_TRUE(reason.contains(QStringLiteral("не число"))) << reason.toStdString();
    EXPECT_EQ(points.Y(0), 1);
    // Drawn on the chart (shown once there are points), kept in the work's file.
    EXPECT_EQ(w.Frame->chMain->Series(0)->Count(), 2);
    EXPECT_FALSE(w.Frame->chMain->isHidden());
    EXPECT_TRUE(
        reason.contains(QStringLiteral("например 2") + QLocale().decimalPoint() + QStringLiteral("35")));
    ASSERT_TRUE(Lesson().Work());
    EXPECT_EQ(ReadFile(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")).count('\n'), 3);
    // Delete takes the row typed away.
    table->setCurrentIndex(model->index(0, 1));
    QKeyEvent remove(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(table, &remove);
    ASSERT_EQ(Lesson().Run(0).Points->Count(), 1);
    EXPECT_EQ(Lesson().Run(0).Points->X(0), 1.5);
    EXPECT_EQ(ReadFile(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")).count('\n'), 2);

    // Typed fast: every key already waiting when the one before it is handled, each going to whatever has the
    // focus then (as keys typed at 3 ms a key come from the window system). Every row keeps its numbers.
    {
        struct tTypist : QObject {
            bool event(QEvent* event) override {
                if (event->type() != QEvent::User) return QObject::event(event);
                const auto* key = static_cast<tKey*>(event);
                QWidget* to = QApplication::focusWidget();
                if (!to) return true;
                QKeyEvent press(QEvent::KeyPress, key->Key, Qt::NoModifier, key->Text);
                QApplication::sendEvent(to, &press);
                QKeyEvent release(QEvent::KeyRelease, key->Key, Qt::NoModifier, key->Text);
                QApplication::sendEvent(to, &release);
                return true;
            }
            struct tKey : QEvent {
                tKey(int key, QString text) : QEvent(QEvent::User), Key(key), Text(std::move(text)) {}
                int Key;
                QString Text;
            };
        } typist;
        const int before = Lesson().Run(0).Points->Count();
        table->setFocus();
        table->setCurrentIndex(model->index(before, 0));
        for (int row = 0; row < 30; ++row) {
            const QString x = QString::number(100 + row), y = QStringLiteral("0,") + QString::number(100 + row);
            for (const QChar c : x) QCoreApplication::postEvent(&typist, new tTypist::tKey(c.unicode(), c));
            QCoreApplication::postEvent(&typist, new tTypist::tKey(Qt::Key_Tab, QStringLiteral("\t")));
            for (const QChar c : y) QCoreApplication::postEvent(&typist, new tTypist::tKey(c.unicode(), c));
            QCoreApplication::postEvent(&typist, new tTypist::tKey(Qt::Key_Return, QStringLiteral("\r")));
        }
        QApplication::processEvents();
        QApplication::processEvents();
        const tPointSeries& fast = *Lesson().Run(0).Points;
        ASSERT_EQ(fast.Count(), before + 30);
        for (int row = 0; row < 30; ++row) {
            EXPECT_EQ(fast.X(before + row), 100 + row);
            EXPECT_DOUBLE_EQ(fast.Y(before + row), (100 + row) / 1000.0) << row;
        }
        for (int row = 0; row < 30; ++row) Lesson().RemoveTypedRow(before);
    }

    // Ctrl+V of rows from a spreadsheet: each cell checked, all rows or none, in x order, on the disk.
    const auto paste = [&](const QString& text) {
        QApplication::clipboard()->setText(text);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
        QApplication::sendEvent(table, &press);
    };
    paste(QStringLiteral("x\ty\r\n3\t0,75\r\n2,5\t4\r\nдва\t1\r\n"));
    ASSERT_EQ(BoxTexts().size(), 1);
    EXPECT_TRUE(BoxTexts()[0].startsWith(QStringLiteral("Строка 4: «два» — не число"))) << BoxTexts()[0].toStdString();
    EXPECT_EQ(Lesson().Run(0).Points->Count(), 1) << "none of them";
    paste(QStringLiteral("t;T\n3;0,75\n2,5;4\n\n0;-1;\n"));
    const tPointSeries& pasted = *Lesson().Run(0).Points;
    ASSERT_EQ(pasted.Count(), 4);
    EXPECT_EQ(std::vector<double>({pasted.X(0), pasted.X(1), pasted.X(2), pasted.X(3)}),
              std::vector<double>({0, 1.5, 2.5, 3}));
    EXPECT_EQ(pasted.Y(3), 0.75);
    EXPECT_EQ(ReadFile(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")).count('\n'), 5);
    EXPECT_EQ(BoxTexts().size(), 1);
}

// Between runs a connected sensor's reading is in the tool bar, nothing of it recorded; its stream is ended
// (the stop byte) before Пуск starts the run's, and goes on after Стоп; Вид → Показания датчика turns it off.
// A sensor lost while idle is noticed at once: one box, Подключение released, Пуск disabled.
// Nothing on the chart outlives the lesson's removing it: a run deleted (the newest of its line, the work's
// only one, one with a fit), and the previous experiment's curve while the next one's sensor is searched for.
TEST_F(MainWindowTest, NothingTheLessonRemovedStaysOnTheChart) {
    ChooseCooling("SeriesCount=2\r\n");
    TfmMain& w = Window();
    TChart* chart = w.Frame->chMain;
    chart->resize(800, 500);
    // The pixels of a run's colour on the screen.
    const auto inked = [&](const QColor& colour) {
        const QImage image = chart->RenderImage();
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) pixels += image.pixelColor(x, y) == colour;
        return pixels;
    };
    const auto drawnPoints = [&] {
        int points = 0;
        for (int line = 0; line < chart->SeriesCount(); ++line)
            points += chart->Series(line)->visible() ? chart->Series(line)->Count() : 0;
        return points;
    };
    const auto run = [&](double seconds) {
        Lesson().SetCollection({seconds});
        w.RunAction(w.acExperimentStart);
        ASSERT_TRUE(WaitUntil([&] {
            w.tmMeasureTimer();
            return !w.tmMeasure->isActive();
        }));
    };
    const auto remove = [&](int i) {
        Lesson().ChooseRun(i);
        prompts.ButtonAnswers = {bbYes};
        Child<TRunsPanel>()->Tree()->setCurrentItem(Child<TRunsPanel>()->Tree()->topLevelItem(i));
        QCoreApplication::processEvents();
        Child<TRunsPanel>()->acDelete->trigger();
        QCoreApplication::processEvents();
    };
    w.RunAction(Action("acViewRuns"));
    const struct {
        const char* what;
        std::vector<double> runs; // their durations
        int fitted;               // the run fitted, -1 none
        int deleted;
    } rows[] = {
        {"the work's only run", {1}, -1, 0},
        {"the newest run of two, on the second line", {1, 0.5}, -1, 1},
        {"the first run of two, fitted", {1, 0.5}, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        while (Lesson().RunCount() > 0) remove(0);
        for (const double seconds : row.runs) run(seconds);
        if (row.fitted >= 0) {
            Lesson().ChooseRun(row.fitted);
            w.RunAction(Action("acAnalysisFitLine"));
            ASSERT_EQ(Lesson().ResultCount(), 1) << BoxTexts().join(u'|').toStdString();
        }
        const QColor colour = RunColour(Lesson(), row.deleted);
        const int kept = drawnPoints() - Lesson().Run(row.deleted).Points->Count();
        EXPECT_GT(inked(colour), 100);
        remove(row.deleted);
        ASSERT_EQ(Lesson().RunCount(), int(row.runs.size()) - 1);
        EXPECT_EQ(drawnPoints(), kept) << "the chart draws the runs there are";
        EXPECT_EQ(inked(colour), 0) << "its curve is gone";
        EXPECT_EQ(w.Frame->ScreenResultBoxes().size(), 0u);
    }
    // Another experiment: while its sensor is searched for, the chart shows nothing of the last one's runs,
    // and the tool bar no reading of a marker on them.
    run(1);
    ASSERT_GT(drawnPoints(), 0);
    Click(chart, QPoint(int(std::lround(chart->XToPixel(Lesson().Run(0).Points->X(1)))),
                        chart->PlotRect().center().y()));
    ASSERT_TRUE(ValueLabelVisible());
    int shownWhileSearching = -1;
    bool markerWhileSearching = true;
    const QMetaObject::Connection seen = QObject::connect(&Lesson(), &tLesson::opened, [&] {
        shownWhileSearching = drawnPoints();
        markerWhileSearching = ValueLabelVisible();
    });
    Choose(QStringLiteral("Тепло"));
    QObject::disconnect(seen);
    EXPECT_EQ(shownWhileSearching, 0);
    EXPECT_FALSE(markerWhileSearching) << w.lb->text().toStdString();
}

// A sensor pulled during a run shows no value afterwards: not in the tool bar, not in Крупные цифры.
TEST_F(MainWindowTest, ASensorPulledDuringARunShowsNoValue) {
    ChooseCooling("");
    TfmMain& w = Window();
    w.RunAction(Action("acViewBigDigits"));
    auto* digits = Child<TBigDigits>("BigDigits");
    w.RunAction(w.acExperimentStart);
    TicksUntil(20);
    EXPECT_TRUE(ValueLabelVisible());
    EXPECT_FALSE(digits->Value().isEmpty());
    tSimWorld::Instance().FindCom(QStringLiteral("/dev/ttyACM5"))->Unplug();
    ASSERT_TRUE(WaitUntil([&] {
        if (w.tmMeasure->isActive()) w.tmMeasureTimer();
        return !w.Device();
    }));
    EXPECT_EQ(BoxTexts(), QStringList{LoadStr(sReceiveError)});
    EXPECT_FALSE(ValueLabelVisible()) << w.lb->text().toStdString();
    EXPECT_TRUE(digits->Value().isEmpty()) << digits->Value().toStdString() << ": the big digits show «—»";
    EXPECT_FALSE(Lesson().NewestValue());
    EXPECT_GT(Lesson().Run(0).Points->Count(), 20) << "what was measured stays";
    // Closed and opened again, they still show no number.
    w.RunAction(Action("acViewBigDigits"));
    w.RunAction(Action("acViewBigDigits"));
    EXPECT_TRUE(digits->Value().isEmpty());
}

// A disk that fills during a run is said once, in a box that does not wait: the run and its clock go on, and
// what the disk could not take is written once it has room.
TEST_F(MainWindowTest, ADiskFullIsSaidWithoutStoppingTheRun) {
    ChooseCooling("");
    TfmMain& w = Window();
    w.RunAction(w.acExperimentStart);
    TicksUntil(10);
    tWorkFolder::SimulateDiskSpace(0);
    TicksUntil(40);
    TicksUntil(60);
    tWorkFolder::SimulateDiskSpace(-1);
    TicksUntil(80);
    w.RunAction(w.acExperimentStop);
    int notices = 0;
    for (const tRecordedBox& box : prompts.Boxes)
        if (box.Kind == QStringLiteral("notice") && box.Text.contains(QStringLiteral("не сохраняются на диск")))
            ++notices;
    EXPECT_EQ(notices, 1) << "once, and in no box that waits";
    EXPECT_TRUE(BoxTexts().filter(QStringLiteral("диск")).isEmpty()) << BoxTexts().join(u'|').toStdString();
    tRunStore kept;
    ReadWorkFolder(Lesson().Work()->Path(), kept);
    ASSERT_EQ(kept.Count(), 1);
    EXPECT_EQ(kept.Run(0).Points->Count(), Lesson().Run(0).Points->Count()) << "every point on the disk";
}

// A run of a set duration that ends while the point-label box is open: the label goes to the point asked for,
// on the chart and in the run's file; a run that ended before any point was measured says why there is none.
TEST_F(MainWindowTest, ALabelTypedAsItsRunEndsIsKept) {
    ChooseSimulated("Удар", "C103", "/dev/ttyACM7", ForkSignal, "MaxX=3\r\n");
    TfmMain& w = Window();
    const struct {
        bool byItself; // the run ends by itself, else Стоп comes while the box is open
    } rows[] = {{true}, {false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.byItself);
        // A run still measured when the box opens: on a busy machine one tick may take a whole short run,
        // which is then begun again.
        int run = -1;
        for (int attempt = 0; attempt < 20 && run < 0; ++attempt) {
            Lesson().SetCollection({1});
            w.RunAction(w.acExperimentStart);
            TicksUntil(30);
            run = Lesson().Measured();
        }
        ASSERT_GE(run, 0);
        int opened = -1;
        prompts.WhileShown = [&] {
            opened = MeasuredPoints();
            if (!row.byItself) return w.RunAction(w.acExperimentStop);
            ASSERT_TRUE(WaitUntil([&] {
                w.tmMeasureTimer();
                return !w.tmMeasure->isActive();
            }));
        };
        prompts.TextAnswers = {QStringLiteral("удар")};
        prompts.Boxes.clear();
        w.RunAction(w.acExperimentMarkPoint);
        prompts.WhileShown = nullptr;
        ASSERT_FALSE(w.tmMeasure->isActive());
        ASSERT_LT(run, Lesson().RunCount());
        const tPointSeries& points = *Lesson().Run(run).Points;
        // The first point measured after the box opened; its run's last when none came.
        const int at = points.Count() > opened ? opened : points.Count() - 1;
        EXPECT_EQ(points.Labels(), (std::map<int, QString>{{at, QStringLiteral("удар")}}));
        EXPECT_EQ(BoxTexts(), QStringList());
        // In the run's file, on its point's line.
        const QStringList lines =
            QString::fromUtf8(
                ReadFile(
                    Lesson().Work()->Path() +
                    QStringLiteral("/run-%1.csv").arg(Lesson().Run(run).Number, 2, 10, QLatin1Char('0'))))
                .split(QStringLiteral("\r\n"));
        ASSERT_GT(lines.size(), at + 1);
        EXPECT_TRUE(lines[at + 1].endsWith(QStringLiteral("удар"))) << lines[at + 1].toStdString();
        EXPECT_EQ(lines.filter(QStringLiteral("удар")).size(), 1);
    }
    // A run that measured nothing is no run: the label has no point to go to, and that is said.
    Lesson().SetCollection({});
    tSimFaults mute;
    mute.Mute = true;
    tSimWorld::Instance().FindCom(QStringLiteral("/dev/ttyACM7"))->SetFaults(mute);
    w.RunAction(w.acExperimentStart);
    prompts.WhileShown = [&] { w.RunAction(w.acExperimentStop); };
    prompts.TextAnswers = {QStringLiteral("пусто")};
    prompts.Boxes.clear();
    w.RunAction(w.acExperimentMarkPoint);
    prompts.WhileShown = nullptr;
    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral(
                              "Метка «пусто» не поставлена: опыт закончился, не записав ни одной точки.")});
}

// A sensor that shows no reading between runs, pulled while idle: Пуск finds it gone, says so and lets it go.
TEST_F(MainWindowTest, ASensorPulledWhileIdleIsLetGoAtPusk) {
    for (const char* name : {"Звук", "Пульс"}) {
        SCOPED_TRACE(name);
        window.reset();
        tSimWorld::Instance().SetPlugged(true);
        TfmMain& w = Window();
        Choose(QString::fromUtf8(name));
        ASSERT_TRUE(w.Device());
        tSimWorld::Instance().SetPlugged(false);
        prompts.Boxes.clear();
        w.RunAction(w.acExperimentStart);
        ASSERT_TRUE(WaitUntil([&] {
            if (w.tmMeasure->isActive()) w.tmMeasureTimer();
            return !w.Device();
        })) << BoxTexts().join(u'|').toStdString();
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(BoxTexts().size(), 1);
        EXPECT_FALSE(w.acExperimentConnect->isChecked());
        EXPECT_FALSE(Enabled(w.acExperimentStart));
        EXPECT_EQ(Lesson().SensorState(), tLesson::tSensorState::Lost);
        EXPECT_EQ(Lesson().RunCount(), 0) << "a start that measured nothing is no run";
        EXPECT_TRUE(w.StatusPanels[0]->text().contains(QStringLiteral("Подключение")));
    }
    tSimWorld::Instance().SetPlugged(true);
}

TEST_F(MainWindowTest, TheSensorIsReadBetweenRunsAndItsLossNoticedAtOnce) {
    tSimSensorConfig config;
    config.Name = "Z102";
    // Between 20 and 30 however long the sensor has streamed (on a busy machine the reading is looked at
    // seconds of the sensor's clock after it began).
    config.Signal = [](double t, int) { return 20 + std::fmod(t, 8.0); };
    const std::shared_ptr<tSimSensor> sensor = AddCom(QStringLiteral("/dev/ttyACM7"), config);
    Experiment("Чтение", "SensorName=Z102\r\nFreq=100000\r\nAverage=2\r\nCaptionY=T\r\nFormatY=0.0\r\n");
    TfmMain& w = Window();
    Choose(QStringLiteral("Чтение"));
    ASSERT_TRUE(w.Device());
    const auto reading = [&](bool on) {
        return WaitUntil([&] {
            QCoreApplication::processEvents();
            return ToolBarLabelVisible(ReadingLabel()) == on && sensor->Streaming() == on;
        });
    };
    ASSERT_TRUE(reading(true));
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return ReadingLabel()->text().startsWith(QStringLiteral("Датчик: T = 2"));
    })) << ReadingLabel()->text().toStdString();
    EXPECT_EQ(Lesson().RunCount(), 0);
    const QByteArray start("S\0", 2); // in rate mode
    const auto starts = [&] { return sensor->Written().count(start); };
    EXPECT_EQ(starts(), 1);
    w.RunAction(w.acExperimentStart);
    EXPECT_FALSE(ToolBarLabelVisible(ReadingLabel())) << "a run shows its own value";
    TicksUntil(3);
    QByteArray written = sensor->Written();
    ASSERT_EQ(starts(), 2);
    EXPECT_LT(written.indexOf('\xFF'), written.lastIndexOf(start))
        << "the reading ends before the run begins";
    EXPECT_EQ(Lesson().Run(0).Points->X(0), 0) << "the run counts from its own start";
    w.RunAction(w.acExperimentStop);
    ASSERT_TRUE(reading(true));
    EXPECT_EQ(starts(), 3);
    EXPECT_EQ(Lesson().RunCount(), 1);

    // A marker's reading and the sensor's are both there to be read, however long the reading goes on.
    TChart* chart = w.Frame->chMain;
    chart->resize(600, 400);
    const QRect plot = chart->PlotRect();
    Click(chart, QPoint(int(std::lround(chart->XToPixel(Lesson().Run(0).Points->X(1)))), plot.center().y()));
    const QString marker = w.lb->text();
    EXPECT_TRUE(marker.startsWith(QStringLiteral("T="))) << marker.toStdString();
    const QString before = ReadingLabel()->text();
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return ReadingLabel()->text() != before;
    })) << "the reading goes on";
    EXPECT_EQ(w.lb->text(), marker) << "the marker's reading stays";
    EXPECT_TRUE(ValueLabelVisible());
    EXPECT_TRUE(ToolBarLabelVisible(ReadingLabel()));

    Action("acViewSensorReading")->setChecked(false);
    EXPECT_TRUE(reading(false));
    Action("acViewSensorReading")->setChecked(true);
    ASSERT_TRUE(reading(true));
    prompts.Boxes.clear();
    sensor->Unplug();
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return !w.Device();
    }));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral(
                              "Датчик «Z102» отключён.\r\nПодключите его и нажмите «Подключение».")});
    EXPECT_FALSE(w.acExperimentConnect->isChecked());
    EXPECT_FALSE(Enabled(w.acExperimentStart));
    EXPECT_EQ(Lesson().SensorState(), tLesson::tSensorState::Lost);
    EXPECT_FALSE(ToolBarLabelVisible(ReadingLabel())) << "a sensor gone shows no number";
    EXPECT_FALSE(Lesson().NewestValue());
}

// An experiment of events: «Сохранить точку» (Enter), shown for it alone and enabled while its run records,
// keeps the reading at the value typed (a bad one asked again with the reason, the next one offered); the
// tool bar shows the live reading, the chart the points at the values typed.
TEST_F(MainWindowTest, PointsKeptAtTypedValuesInAnExperimentOfEvents) {
    TfmMain& w = Window();
    QAction* keep = Action("acExperimentKeepPoint");
    Choose(QStringLiteral("Тепло"));
    EXPECT_FALSE(keep->isVisible());
    ChooseSimulated(
        "Лампа", "L302", "/dev/ttyACM6", [](double t) { return t < 1 ? 100.0 : 400.0; },
        "Mode=Events\r\nEntryCaption=r, см\r\nEntryStep=10\r\nMaxX=100\r\nCaptionY=E, лк\r\n");
    EXPECT_TRUE(keep->isVisible());
    EXPECT_FALSE(keep->isEnabled());
    EXPECT_FALSE(Enabled(Action("acExperimentCollection"))) << "no duration, delay or trigger for events";
    EXPECT_EQ(keep->shortcut(), QKeySequence(Qt::Key_Return));
    prompts.Boxes.clear();
    w.RunAction(w.acExperimentStart);
    EXPECT_TRUE(keep->isEnabled());
    ASSERT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return Lesson().EventReading() == 400.0;
    }));
    EXPECT_TRUE(ValueLabelVisible());
    EXPECT_EQ(w.lb->text(), QStringLiteral("E, лк = 400"));
    prompts.TextAnswers = {QStringLiteral("abc"), QStringLiteral("20")};
    keep->trigger();
    ASSERT_EQ(prompts.Boxes.size(), 2);
    EXPECT_EQ(prompts.Boxes[0].Value, QString()) << "nothing offered before the first value";
    EXPECT_TRUE(prompts.Boxes[1].Text.contains(QStringLiteral("не число")))
        << prompts.Boxes[1].Text.toStdString();
    prompts.TextAnswers = {QStringLiteral("30,5")};
    keep->trigger();
    EXPECT_EQ(prompts.Boxes.last().Value, QStringLiteral("30"));
    const tPointSeries& points = *Lesson().Run(0).Points;
    ASSERT_EQ(points.Count(), 2);
    EXPECT_EQ(points.X(1), 30.5);
    EXPECT_EQ(points.Y(0), 400);
    EXPECT_EQ(w.Frame->chMain->Series(0)->Count(), 2);
    EXPECT_EQ(w.Frame->chMain->BottomTitle(), QStringLiteral("r, см"));
    EXPECT_EQ(w.lb->text(), QStringLiteral("E, лк = 400")) << "the live reading, not the point kept";
    w.RunAction(w.acExperimentStop);
    EXPECT_FALSE(keep->isEnabled());
    ASSERT_EQ(Lesson().RunCount(), 1);
    // The runs panel says where the points stand, not a time.
    QTreeWidgetItem* row = Child<TRunsPanel>()->Tree()->topLevelItem(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->text(1), QStringLiteral("20…") + QLocale().toString(30.5) + QStringLiteral(" см"));
    EXPECT_EQ(row->text(2), QStringLiteral("2"));
    EXPECT_EQ(ReadFile(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")).count('\n'), 3);
}

TEST_F(MainWindowTest, ClipboardTextAndCsvReadBackAsNumbers) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    w.RunAction(w.acExperimentStart);
    TicksUntil(3);
    const tPointSeries& points = *Lesson().Run(0).Points;
    TTablePage* table = w.Frame->tvTable;
    // Hidden, the page's view knows no row (a row costs it 8 bytes); shown, it knows them all.
    EXPECT_EQ(table->Model()->rowCount(), 0);
    table->Model()->SetShown(true);
    EXPECT_EQ(table->Model()->rowCount(), points.Count());
    // While the run goes on, the view is told of new rows once a second; what is copied has every point.
    TicksUntil(points.Count() + 3);
    EXPECT_EQ(ParseCsv(table->SelectionText(), u'\t').size(), points.Count() + 1);
    w.RunAction(w.acExperimentStop);
    EXPECT_EQ(table->Model()->rowCount(), points.Count());
    // Each head whole in its column: the run's name, its quantity and its start.
    for (int c = 0; c < table->Model()->columnCount(); ++c) {
        const QFontMetrics metrics(table->horizontalHeader()->font());
        for (const QString& line : table->Model()->headerData(c, Qt::Horizontal).toString().split(u'\n'))
            EXPECT_GT(table->horizontalHeader()->sectionSize(c), metrics.horizontalAdvance(line)) << line.toStdString();
    }
    for (const char16_t decimal : {u'.', u','}) {
        SCOPED_TRACE(char(decimal));
        SetSystemDecimalSeparator(QChar(decimal));
        table->clearSelection();
        const QList<QStringList> all = ParseCsv(table->SelectionText(), u'\t');
        ASSERT_EQ(all.size(), points.Count() + 1);
        EXPECT_EQ(all[0][0], table->Model()->headerData(0, Qt::Horizontal).toString().replace(u'\n', u' '));
        for (int i = 0; i < points.Count(); ++i) {
            double x = 0;
            double y = 0;
            ASSERT_TRUE(ParseFloat(all[i + 1][0], x) && ParseFloat(all[i + 1][1], y));
            EXPECT_EQ(x, points.X(i));
            EXPECT_EQ(y, points.Y(i));
        }
        table->selectionModel()->select(table->Model()->index(2, 1), QItemSelectionModel::Select);
        EXPECT_EQ(table->SelectionText(), CsvNumber(points.Y(2), QChar(decimal)) + u'\n');
        const QByteArray csv = table->CsvText();
        EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
        const QList<QStringList> records =
            ParseCsv(QString::fromUtf8(csv.mid(3)), decimal == u',' ? u';' : u',');
        ASSERT_EQ(records.size(), points.Count() + 1);
        double y = 0;
        ASSERT_TRUE(ParseFloat(records[3][1], y));
        EXPECT_EQ(y, points.Y(2));
    }
    ResetSystemDecimalSeparator();
}

// The chart follows the lesson: the values the acquisition gives are made points, the first placing the left
// axis when the experiment says so, a label waiting going to the next point.
TEST_F(MainWindowTest, LiveDisplayRules) {
    // A sensor that sends nothing: the values are the test's own.
    tSimSensorConfig quiet;
    quiet.Name = "T105";
    std::shared_ptr<tSimSensor> sensor = AddCom(QStringLiteral("/dev/ttyACM9"), quiet);
    tSimFaults faults;
    faults.Mute = true;
    sensor->SetFaults(faults);
    Experiment("Правила",
               "SensorName=T105\r\nFreq=1000\r\nAverage=10\r\nMinY=0\r\nMaxY=100\r\nYOffset=0.3\r\n");
    TfmMain& w = Window();
    Choose(QStringLiteral("Правила"));
    w.Frame->chMain->show();
    w.RunAction(w.acExperimentStart);
    tFastLine* line = w.Frame->chMain->Series(w.SeriesIndex);
    // Ten values draw nothing; the eleventh lets the mean of the first ten appear.
    std::vector<double> channel(10, 50);
    Lesson().TakeRunValues(channel, false);
    EXPECT_EQ(line->Count(), 0);
    channel.push_back(500);
    Lesson().TakeRunValues(channel, false);
    ASSERT_EQ(line->Count(), 1);
    EXPECT_DOUBLE_EQ(line->Y(0), 50);
    EXPECT_EQ(w.Frame->chMain->LeftRange(), QCPRange(20, 120)) << "YOffset places the first point";
    for (int i = 0; i < 20; ++i) channel.push_back(500);
    Lesson().TakeRunValues(channel, false);
    ASSERT_EQ(line->Count(), 3);
    EXPECT_DOUBLE_EQ(line->X(1), 0.01);
    EXPECT_DOUBLE_EQ(line->X(2), 0.02);
    EXPECT_EQ(w.Frame->chMain->LeftRange(), QCPRange(20, 120)) << "only the first point moves the axis";

    // A label waiting goes to the next point drawn.
    for (int i = 0; i < 30; ++i) channel.push_back(7);
    Lesson().BeginLabel();
    Lesson().EndLabel(QStringLiteral("метка"));
    Lesson().TakeRunValues(channel, false);
    EXPECT_EQ(line->Count(), 6);
    EXPECT_EQ(line->Label(3), QStringLiteral("метка"));
    EXPECT_TRUE(line->Label(4).isEmpty());
    w.RunAction(w.acExperimentStop);
}

TEST_F(MainWindowTest, ElapsedTimeTexts) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Без датчика"));
    const std::int64_t second = w.PerfFrequency;
    const struct {
        double seconds;
        const char* text;
    } rows[] = {
        {0.05, "00:00.0"}, {65.47, "01:05.4"}, {6000, "100:00.0"}, {59.99, "00:59.9"}, {60.0, "01:00.0"}};
    tPaintSpy paints;
    w.show();
    QApplication::processEvents();
    w.StatusPanels[1]->installEventFilter(&paints);
    for (const auto& row : rows) {
        w.MeasureStart = 1000;
        counter = 1000 + std::int64_t(row.seconds * double(second));
        // The new time is painted once, at the end of the tick with the rest of what it changed: the window
        // sends one picture a tick, and no paint request waits in the event queue after it.
        paints.Paints = 0;
        w.tmMeasureTimer();
        EXPECT_EQ(w.StatusPanels[1]->text(), QString::fromLatin1(row.text)) << row.seconds;
        EXPECT_EQ(paints.Paints, 1) << row.seconds;
        QApplication::processEvents();
        EXPECT_EQ(paints.Paints, 1) << row.seconds;
    }
    w.StatusPanels[1]->removeEventFilter(&paints);
    // Another experiment chosen: the last run's time is not its own.
    Choose(QStringLiteral("Тепло"));
    EXPECT_TRUE(w.StatusPanels[1]->text().isEmpty());
}

TEST_F(MainWindowTest, PulseOnTheDemoPulseSensor) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Пульс"));
    ASSERT_TRUE(w.Device());
    auto* pulse = dynamic_cast<TfrPulse*>(w.Frame);
    ASSERT_TRUE(pulse);
    w.RunAction(w.acExperimentStart);
    TicksUntil(2000);
    tFastLine* rates = pulse->chPulse->Series(w.SeriesIndex);
    ASSERT_GE(rates->Count(), 15);
    for (int i = 0; i < rates->Count(); ++i) EXPECT_NEAR(rates->Y(i), 70, 3) << i;
    w.tmMeasureTimer();
    EXPECT_TRUE(w.lb->text().contains(QStringLiteral("     Частота, уд/мин="))) << w.lb->text().toStdString();
    w.RunAction(w.acExperimentStop);
    // Статистика of a pulse run is the beat rate's: its mean and spread, under its own name.
    w.RunAction(Action("acAnalysisStatistics"));
    ASSERT_FALSE((Lesson().ResultCount() == 0)) << BoxTexts().join(u'|').toStdString();
    EXPECT_NEAR(Lesson().Result(Lesson().ResultCount() - 1).Values[1], 70, 2);
    EXPECT_LT(Lesson().Result(Lesson().ResultCount() - 1).Values[2], 3);
    const tAnalysisResult& rate = Lesson().Result(Lesson().ResultCount() - 1);
    EXPECT_EQ(ResultLines(rate, {}, Lesson().QuantityOf(rate)).first(),
              QStringLiteral("Статистика: Частота"));
    // Both charts are printed, one above the other, as the window shows them.
    w.resize(1280, 800);
    w.show();
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
        const QString file = dir.filePath(QStringLiteral("pulse.pdf"));
        prompts.OnPrinter = [&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
        };
        prompts.DialogAnswers = {true};
        w.RunAction(w.acFilePrint);
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
        text.waitForFinished(20000);
        const QString printed = QString::fromUtf8(text.readAllStandardOutput());
        // The rate chart keeps the upper chart's time axis when the user pans after the run.
        w.Frame->chMain->SetBottomRange(3, 13);
        EXPECT_EQ(pulse->chPulse->BottomRange(), QCPRange(3, 13));
        EXPECT_TRUE(printed.contains(QStringLiteral("Частота, уд/мин"))) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QStringLiteral("1000"))) << "the pulse chart's axis";
        EXPECT_LT(printed.indexOf(QStringLiteral("1000")), printed.indexOf(QStringLiteral("Частота")));
    }
    // A second run: the first one's wave and rate behind it, each rate in its run's colour.
    std::vector<std::pair<double, double>> measured;
    for (int i = 0; i < rates->Count(); ++i) measured.emplace_back(rates->X(i), rates->Y(i));
    w.RunAction(w.acExperimentStart);
    TicksUntil(800);
    w.RunAction(w.acExperimentStop);
    ASSERT_GT(Lesson().Run(1).Rates->Count(), 0);
    const auto coloured = [&](TfrPulse* frame) {
        ASSERT_EQ(frame->chPulse->SeriesCount(), frame->chMain->SeriesCount());
        for (int line = 0; line < frame->chMain->SeriesCount(); ++line) {
            EXPECT_EQ(frame->chPulse->Series(line)->pen().color(), frame->chMain->Series(line)->pen().color())
                << line;
            EXPECT_GT(frame->chPulse->Series(line)->Count(), 0) << line;
        }
    };
    coloured(pulse);
    const QColor colours[] = {RunColour(Lesson(), 0), RunColour(Lesson(), 1)};
    // The work opened again shows the rates too, made again from its wave, in the runs' own colours, on the
    // experiment's time axis; the table shows its 100 Hz times to the hundredth.
    const QString path = Lesson().Work()->Path();
    window.reset();
    Window().OpenWork(path);
    auto* again = dynamic_cast<TfrPulse*>(Window().Frame);
    ASSERT_TRUE(again);
    coloured(again);
    EXPECT_EQ(RunColour(Lesson(), 0), colours[0]);
    EXPECT_EQ(RunColour(Lesson(), 1), colours[1]);
    const tPointSeries& rebuilt = *Lesson().Run(0).Rates;
    ASSERT_EQ(std::size_t(rebuilt.Count()), measured.size());
    for (int i = 0; i < rebuilt.Count(); ++i) {
        EXPECT_NEAR(rebuilt.X(i), measured[std::size_t(i)].first, 0.011) << i;
        EXPECT_NEAR(rebuilt.Y(i), measured[std::size_t(i)].second, 1) << i;
    }
    EXPECT_EQ(again->chPulse->BottomRange(), QCPRange(0, 30));
    tRunsModel* model = again->tvTable->Model();
    model->SetShown(true);
    EXPECT_EQ(model->data(model->index(101, 0)).toString(), FormatFloat(QStringLiteral("0.00"), 1.01));
    // Destroying the window while it measures ends the thread first.
    Window().RunAction(Window().acExperimentConnect);
    Window().RunAction(Window().acExperimentStart);
    window.reset();
}

TEST_F(MainWindowTest, MarkPointAndPageSetup) {
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    EXPECT_FALSE(Enabled(w.acExperimentMarkPoint));
    w.RunAction(w.acExperimentStart);
    TicksUntil(3);
    // The chart goes on while the box is open; the label goes to the first point measured after it opened,
    // in the chart, the table and the run's file.
    int opened = -1;
    prompts.WhileShown = [&] {
        EXPECT_TRUE(w.acExperimentMarkPoint->isChecked());
        opened = w.Frame->chMain->Series(0)->Count();
        TicksUntil(opened + 5);
    };
    prompts.TextAnswers = {QStringLiteral("кипение"), QStringLiteral("после")};
    w.RunAction(w.acExperimentMarkPoint);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("input"));
    EXPECT_FALSE(w.acExperimentMarkPoint->isChecked()) << "unchecked when the box is closed";
    const tPointSeries& points = *w.Frame->chMain->Series(0)->Series();
    EXPECT_EQ(points.Labels(), (std::map<int, QString>{{opened, QStringLiteral("кипение")}}));
    w.Frame->tvTable->Model()->SetShown(true);
    EXPECT_EQ(
        w.Frame->tvTable->Model()->data(w.Frame->tvTable->Model()->index(opened, 1), tRunsModel::kLabelRole),
        QStringLiteral("кипение"));
    // Answered before a point came: the next point takes it.
    prompts.WhileShown = nullptr;
    w.RunAction(w.acExperimentMarkPoint);
    const int next = points.Count();
    TicksUntil(next + 1);
    EXPECT_EQ(points.Label(next), QStringLiteral("после"));
    w.RunAction(w.acExperimentStop);
    const QString csv = QString::fromUtf8(ReadFile(Lesson().Work()->Path() + QStringLiteral("/run-01.csv")));
    EXPECT_EQ(csv.count(QStringLiteral("кипение")), 1);
    EXPECT_EQ(csv.count(QStringLiteral("после")), 1);

    // Page set-up starts at A4 with 25 mm margins and keeps what the user set.
    QPageLayout layout;
    prompts.OnPrinter = [&](QPrinter& printer) {
        layout = printer.pageLayout();
        printer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    };
    w.RunAction(w.acFilePageSetup);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("pagesetup"));
    EXPECT_EQ(layout.pageSize().id(), QPageSize::A4);
    EXPECT_EQ(layout.margins(QPageLayout::Millimeter), QMarginsF(25, 25, 25, 25));
    w.RunAction(w.acFilePrintSetup);
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("printsetup"));
    EXPECT_EQ(layout.margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
}

TEST_F(MainWindowTest, ClosingAsksWithNoAsDefault) {
    TfmMain& w = Window();
    w.show();
    prompts.ButtonAnswers = {bbNo};
    EXPECT_FALSE(w.close());
    EXPECT_EQ(prompts.Boxes.last().Text, LoadStr(sConfirmExit));
    EXPECT_EQ(prompts.Boxes.last().DefaultButton, bbNo);
    // The session manager asks (log-off): no question; once the log-off was cancelled, closing asks again.
    emit Child<tSessionEnd>()->endQueried();
    prompts.Boxes.clear();
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(prompts.Boxes.isEmpty());
    w.show();
    ASSERT_TRUE(Child<QTimer>("tmCloseQueryBack")->isActive());
    emit Child<QTimer>("tmCloseQueryBack")->timeout({});
    prompts.ButtonAnswers = {bbNo};
    EXPECT_FALSE(w.close());
    EXPECT_EQ(prompts.Boxes.size(), 1);
    prompts.ButtonAnswers = {bbYes};
    EXPECT_TRUE(w.close());
}

TEST_F(MainWindowTest, StartScreenAndStatusBar) {
    TfmMain& w = Window();
    w.resize(900, 500);
    w.show();
    EXPECT_TRUE(Child<QLabel>("lbStart")->isVisible());
    EXPECT_TRUE(
        Child<QLabel>("lbStart")->text().contains(QStringLiteral("Эксперимент → Выбор эксперимента…")));
    // A hint goes to the first panel; the elapsed time and the clock stay in sight, and the hint goes when
    // the pointer leaves.
    QStatusTipEvent tip(QStringLiteral("Запустить измерения"));
    QApplication::sendEvent(&w, &tip);
    EXPECT_EQ(w.StatusPanels[0]->text(), QStringLiteral("Запустить измерения"));
    EXPECT_TRUE(w.StatusPanels[1]->isVisible());
    EXPECT_TRUE(w.StatusPanels[2]->isVisible());
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(&w, &none);
    EXPECT_TRUE(w.StatusPanels[0]->text().isEmpty());
    Choose(QStringLiteral("Тепло"));
    EXPECT_FALSE(Child<QLabel>("lbStart")->isVisible());
}

// A cooling run analysed between two markers: the experiment's own fit gives the demo sensor's τ, its box and
// curve are drawn on the chart and on paper, go into the report, and come back with the reopened work.
TEST_F(MainWindowTest, AFitBetweenTheMarkersIsDrawnPrintedReportedAndKept) {
    ChooseCooling("TwiceMarker=1\r\nFit=ExpApproach\r\n");
    TfmMain& w = Window();
    ASSERT_TRUE(w.Device());
    emit Child<QMenu>("mnAnalysisFit")->aboutToShow();
    EXPECT_EQ(Child<QMenu>("mnAnalysisFit")->actions().first(), Action("acAnalysisFitExpApproach"));
    w.RunAction(w.acExperimentStart);
    TicksUntil(500);
    w.RunAction(w.acExperimentStop);
    TChart* chart = w.Frame->chMain;
    w.RunAction(Action("acAnalysisSlope"));
    EXPECT_TRUE(BoxTexts().last().startsWith(QStringLiteral("Поставьте маркер")))
        << "a tangent needs its point";
    const tFastLine& line = *chart->Series(w.SeriesIndex);
    chart->Marker = TfrExperiment::NearestPoint(line, 0.2);
    chart->SecondMarker = TfrExperiment::NearestPoint(line, 4.8);
    const auto page = [&] { return Paper(chart, QSize(1600, 1000)); };
    const QImage screenBefore = chart->RenderImage();
    const QImage paperBefore = page();
    w.RunAction(Action("acAnalysisFitExpApproach"));
    ASSERT_EQ(std::size_t(Lesson().ResultCount()), 1u) << BoxTexts().join(u'|').toStdString();
    const tAnalysisResult fit = Lesson().Result(0);
    EXPECT_NEAR(fit.Values[1], 2.4, std::max(3 * fit.Values[4], 0.02)) << "τ of the demo vessel";
    EXPECT_NEAR(fit.Values[2], 22, 0.5) << "the room";
    // Drawn where its box stands (the right half, at the top), on the screen and on paper.
    const auto changed = [](const QImage& a, const QImage& b) {
        int count = 0;
        for (int y = 0; y < a.height() / 3; ++y)
            for (int x = a.width() / 2; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
        return count;
    };
    EXPECT_GT(changed(screenBefore, chart->RenderImage()), 2000);
    EXPECT_GT(changed(paperBefore, page()), 4000);
    // Into the report, and kept.
    w.RunAction(Action("acAnalysisToReport"));
    const QString report = w.Frame->reReport->toPlainText();
    EXPECT_TRUE(report.contains(QStringLiteral("Экспонента к пределу"))) << report.toStdString();
    EXPECT_TRUE(
        report.contains(QStringLiteral("опыт 1, t = 0.2…4.8 с").replace(u'.', QLocale().decimalPoint())))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("τ = "))) << report.toStdString();
    // The box dragged with the mouse stays where it was put, and its mark closes it.
    const auto mouse = [&](QEvent::Type type, const QPoint& at, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QMouseEvent event(type, at, chart->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, keys);
        QApplication::sendEvent(chart, &event);
    };
    const auto boxes = [&] { return w.Frame->ScreenResultBoxes(); };
    w.Frame->ShowPage(TfrExperiment::tPage::Chart);
    const QRect box = boxes().at(0).Rect;
    mouse(QEvent::MouseButtonPress, box.center());
    mouse(QEvent::MouseMove, box.center() + QPoint(-40, 60));
    mouse(QEvent::MouseButtonRelease, box.center() + QPoint(-40, 60));
    EXPECT_EQ(boxes().at(0).Rect.topLeft(), box.topLeft() + QPoint(-40, 60));
    EXPECT_EQ(chart->Marker, TfrExperiment::NearestPoint(line, 0.2)) << "a drag places no marker";
    const QPointF moved = Lesson().ResultBox(0);
    const QString work = Lesson().Work()->Path();
    w.OpenWork(work);
    chart = w.Frame->chMain; // the reopened work's frame
    ASSERT_EQ(std::size_t(Lesson().ResultCount()), 1u);
    EXPECT_EQ(Lesson().Result(0).Values, fit.Values);
    EXPECT_EQ(Lesson().ResultBox(0), moved);
    EXPECT_TRUE(w.Frame->reReport->toPlainText().contains(QStringLiteral("Экспонента к пределу")));
    const QPoint mark = TfrExperiment::CloseMark(boxes().at(0).Rect, w.Frame->ScreenResultMetrics()).center();
    mouse(QEvent::MouseButtonPress, mark);
    mouse(QEvent::MouseButtonRelease, mark);
    EXPECT_TRUE((Lesson().ResultCount() == 0));
    tWorkFolder::FinishLaterWrites(); // a result removed is written off the window's thread
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("/analysis.txt")));
    // Shift and a drag sweep the region analysed, before the markers; a plain click forgets it.
    const auto pixel = [&](double x) {
        return QPoint(int(std::lround(chart->XToPixel(x))), chart->PlotRect().center().y());
    };
    mouse(QEvent::MouseButtonPress, pixel(3), Qt::ShiftModifier);
    mouse(QEvent::MouseMove, pixel(2), Qt::ShiftModifier);
    mouse(QEvent::MouseButtonRelease, pixel(1), Qt::ShiftModifier);
    ASSERT_TRUE(w.Frame->Region);
    EXPECT_NEAR(w.Frame->Region->first, 1, 0.05);
    EXPECT_NEAR(w.Frame->Region->second, 3, 0.05);
    w.RunAction(Action("acAnalysisStatistics"));
    ASSERT_EQ(std::size_t(Lesson().ResultCount()), 1u);
    EXPECT_NEAR(Lesson().Result(0).From, w.Frame->Region->first, 0.011) << "the first point in it";
    mouse(QEvent::MouseButtonPress, pixel(4));
    mouse(QEvent::MouseButtonRelease, pixel(4));
    EXPECT_FALSE(w.Frame->Region);
    // The tangent at that marker: its box's bold title is not covered by the close mark.
    w.RunAction(Action("acAnalysisSlope"));
    ASSERT_EQ(Lesson().Result(Lesson().ResultCount() - 1).Kind, tAnalysisKind::Slope);
    QFont bold = TfrExperiment::ResultFont(chart->font());
    bold.setBold(true);
    const QString title =
        ResultLines(Lesson().Result(Lesson().ResultCount() - 1), chart->BottomTitle(), chart->LeftTitle())
            .first();
    const QRect slopeBox = boxes().back().Rect;
    EXPECT_LT(slopeBox.left() + QFontMetrics(bold, chart).horizontalAdvance(title),
              TfrExperiment::CloseMark(slopeBox, w.Frame->ScreenResultMetrics()).left());
}

// The spectrum of a sampled run opens as a chart of its own with the peak marked; it prints and exports.
TEST_F(MainWindowTest, TheSpectrumOfARunShowsItsPeakOnScreenAndOnPaper) {
    ChooseSimulated(
        "Камертон", "C102", "/dev/ttyACM6", [](double t) { return 0.5 + 0.4 * std::sin(2 * M_PI * 7.3 * t); },
        "MaxX=3\r\nMinY=0\r\nMaxY=1\r\nCaptionY=U, В\r\nFit=Sine\r\n");
    TfmMain& w = Window();
    ASSERT_TRUE(w.Device());
    w.RunAction(w.acExperimentStart);
    TicksUntil(300);
    w.RunAction(w.acExperimentStop);
    w.RunAction(Action("acAnalysisSpectrum"));
    ASSERT_TRUE(Child<TfmSpectrum>("fmSpectrum")) << BoxTexts().join(u'|').toStdString();
    EXPECT_TRUE(Child<TfmSpectrum>("fmSpectrum")->isVisible());
    const QRect room = Child<TfmSpectrum>("fmSpectrum")->screen()->availableGeometry();
    EXPECT_LE(Child<TfmSpectrum>("fmSpectrum")->frameGeometry().height(), room.height())
        << "its title bar stays on the screen";
    EXPECT_NEAR(Child<TfmSpectrum>("fmSpectrum")->Spectrum().Peak, 7.3, 0.05);
    EXPECT_NEAR(Child<TfmSpectrum>("fmSpectrum")->Spectrum().PeakAmplitude, 0.4, 0.05);
    // The peak's line and its frequency, red, stand where the axis puts the peak on the screen, and the same
    // fraction of the way along the time axis on the page (the axis' base line: the longest grey row).
    TChart* chart = Child<TfmSpectrum>("fmSpectrum")->Chart();
    const auto place = [](const QImage& image) {
        int red = -1, axisLeft = 0, axisRight = 0;
        for (int x = 0; x < image.width() && red < 0; ++x) {
            int count = 0;
            for (int y = 0; y < image.height(); ++y) count += image.pixel(x, y) == qRgb(200, 0, 0);
            if (count > image.height() / 4) red = x;
        }
        for (int y = 0; y < image.height(); ++y) {
            int left = -1, right = -1;
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == qRgb(90, 90, 90)) {
                    if (left < 0) left = x;
                    right = x;
                }
            if (right - left > axisRight - axisLeft) axisLeft = left, axisRight = right;
        }
        return std::tuple{red, axisLeft, axisRight};
    };
    const QImage screen = chart->RenderImage();
    const auto [red, left, right] = place(screen);
    ASSERT_GE(red, 0);
    EXPECT_NEAR(red * chart->width() / double(screen.width()), chart->XToPixel(7.3), 4);
    const auto [pageRed, pageLeft, pageRight] = place(Paper(chart, QSize(1200, 800)));
    ASSERT_GE(pageRed, 0);
    ASSERT_GT(pageRight - pageLeft, 600);
    EXPECT_NEAR(double(pageRed - pageLeft) / (pageRight - pageLeft), double(red - left) / (right - left),
                0.015);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("спектр.pdf"));
    prompts.TextAnswers = {pdf};
    Child<TfmSpectrum>("fmSpectrum")->acExport->trigger();
    EXPECT_TRUE(ReadFile(pdf).startsWith("%PDF"));
    EXPECT_TRUE(Lesson().Result(Lesson().ResultCount() - 1).Kind == tAnalysisKind::Spectrum)
        << "and its box on the main chart";
}

// Runs compared on one chart: two cooling runs of set lengths drawn together with their legend, each in a
// colour it keeps for good; the runs panel open while they are measured counts their points; one hidden and
// shown again from it, renamed, chosen, deleted with its results (its file and theirs kept in deleted/), the
// table and its CSV side by side, and a reopened work as it was left.
TEST_F(MainWindowTest, RunsComparedOnOneChart) {
    ChooseCooling("");
    TfmMain& w = Window();
    TChart* chart = w.Frame->chMain;
    chart->resize(800, 500);
    w.RunAction(Action("acViewRuns"));
    QTreeWidget* tree = Child<TRunsPanel>()->Tree();
    // The panel counts the points as they come: looked at whenever the lesson says points came.
    int counted = 0;
    const QMetaObject::Connection counting =
        QObject::connect(&Lesson(), &tLesson::pointsAppended, [&](int id) {
            const int i = Lesson().RunIndex(id);
            QTreeWidgetItem* item = i >= 0 ? tree->topLevelItem(i) : nullptr;
            ASSERT_TRUE(item) << "the run measured is listed";
            EXPECT_EQ(item->text(2), QLocale().toString(Lesson().Run(i).Points->Count()));
            ++counted;
        });
    // Each run stops by itself: its points are known whatever the machine's load.
    const auto run = [&](double seconds) {
        Lesson().SetCollection({seconds});
        w.RunAction(w.acExperimentStart);
        ASSERT_TRUE(WaitUntil([&] {
            w.tmMeasureTimer();
            return !w.tmMeasure->isActive();
        }));
    };
    run(3);
    const QColor firstColour = RunColour(Lesson(), 0);
    run(1);
    QObject::disconnect(counting);
    EXPECT_GE(counted, 2);
    ASSERT_EQ(Lesson().RunCount(), 2);
    const int first = Lesson().Run(0).Points->Count();
    EXPECT_EQ(first, 301);
    EXPECT_EQ(Lesson().Run(1).Points->Count(), 101);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(tree->topLevelItem(i)->text(2), QLocale().toString(Lesson().Run(i).Points->Count()))
            << "a run just ended shows all its points";
    const auto legend = [&] {
        QStringList names;
        for (const auto& [name, colour] : w.Frame->Legend()) names << name;
        return names.join(u'|');
    };
    const auto heads = [&] {
        QStringList names;
        const tRunsModel& model = *w.Frame->tvTable->Model();
        for (int c = 1; c < model.columnCount(); c += 2)
            names << model.headerData(c, Qt::Horizontal).toString().section(u'\n', 0, 0);
        return names.join(u'|');
    };
    // The line that draws run `i`, and its colour.
    const auto colourOf = [&](int i) {
        for (int line = 0; line < chart->SeriesCount(); ++line)
            if (chart->Series(line)->Series() == Lesson().Run(i).Points)
                return chart->Series(line)->pen().color();
        return QColor();
    };
    // The earlier run behind the newest, in the colour it was measured in, on the screen and on the page.
    EXPECT_EQ(chart->SeriesCount(), 2);
    EXPECT_EQ(legend(), QStringLiteral("Опыт 1|Опыт 2"));
    const QColor behind = colourOf(0);
    EXPECT_EQ(behind, firstColour) << "a run keeps its colour when another is added";
    EXPECT_NE(behind, colourOf(1));
    const QImage page = Paper(chart, QSize(1200, 800));
    for (const QImage& image : {chart->RenderImage(), page}) {
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) pixels += image.pixelColor(x, y) == behind;
        EXPECT_GT(pixels, 200) << image.width();
    }
    EXPECT_EQ(heads(), QStringLiteral("Опыт 1: T, °C|Опыт 2: T, °C"));

    // From the panel: hidden, shown again, renamed, chosen.
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    tree->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QCoreApplication::processEvents();
    EXPECT_EQ(chart->SeriesCount(), 1);
    EXPECT_EQ(legend(), QString()) << "no legend for one run";
    EXPECT_EQ(w.Frame->tvTable->Model()->columnCount(), 2);
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QCoreApplication::processEvents();
    EXPECT_EQ(chart->SeriesCount(), 2);
    EXPECT_EQ(colourOf(0), firstColour);
    tree->topLevelItem(1)->setText(0, QStringLiteral("Термос"));
    QCoreApplication::processEvents();
    EXPECT_EQ(legend(), QStringLiteral("Опыт 1|Термос"));
    EXPECT_EQ(heads(), QStringLiteral("Опыт 1: T, °C|Термос: T, °C"));
    const QString csv = QString::fromUtf8(w.Frame->tvTable->CsvText());
    EXPECT_EQ(csv.count(QStringLiteral("t, с")), 2) << csv.left(200).toStdString();
    EXPECT_TRUE(csv.section(u'\n', 0, 0).contains(QStringLiteral("Термос"))) << csv.left(200).toStdString();
    tree->setCurrentItem(tree->topLevelItem(0));
    QCoreApplication::processEvents();
    EXPECT_EQ(Lesson().Chosen(), 0);
    EXPECT_EQ(w.Frame->ActiveSeries, 1) << "the first run's line, behind the newest";
    w.RunAction(Action("acAnalysisStatistics"));
    ASSERT_EQ(Lesson().ResultCount(), 1) << BoxTexts().join(u'|').toStdString();
    EXPECT_EQ(Lesson().Result(0).Values[0], first) << "statistics of the chosen run";
    // With two runs shown, a box says whose it is.
    EXPECT_TRUE(w.Frame->ResultText(0).first().endsWith(QStringLiteral(" — Опыт 1")));

    // A third run: the others keep their colours.
    run(0.5);
    EXPECT_EQ(colourOf(0), firstColour);
    EXPECT_EQ(RunColour(Lesson(), 2), RunColour(3));
    // The second run analysed, hidden (its box goes with it) and shown again, then deleted after asking: its
    // file and its results go to deleted/, its box and curve leave the chart.
    tree->setCurrentItem(tree->topLevelItem(1));
    QCoreApplication::processEvents();
    w.RunAction(Action("acAnalysisFitLine"));
    ASSERT_EQ(Lesson().ResultCount(), 2);
    EXPECT_EQ(w.Frame->ScreenResultBoxes().size(), 2u);
    tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.Frame->ScreenResultBoxes().size(), 1u) << "a hidden run's box is not drawn";
    tree->topLevelItem(1)->setCheckState(0, Qt::Checked);
    QCoreApplication::processEvents();
    const QColor curve = RunColour(Lesson(), 1).darker(160);
    const auto curvePixels = [&] {
        const QImage image = chart->RenderImage();
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                pixels += std::abs(c.red() - curve.red()) + std::abs(c.green() - curve.green()) +
                              std::abs(c.blue() - curve.blue()) <
                          30;
            }
        return pixels;
    };
    EXPECT_GT(curvePixels(), 50) << "the fit's dashed curve in its run's colour";
    const QString work = Lesson().Work()->Path();
    prompts.ButtonAnswers = {bbNo};
    Child<TRunsPanel>()->acDelete->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(Lesson().RunCount(), 3) << "No keeps it";
    prompts.ButtonAnswers = {bbYes};
    Child<TRunsPanel>()->acDelete->trigger();
    QCoreApplication::processEvents();
    ASSERT_EQ(Lesson().RunCount(), 2);
    EXPECT_TRUE(prompts.Boxes.last().Text.contains(QStringLiteral("Термос")));
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("/run-02.csv")));
    EXPECT_TRUE(QFile::exists(work + QStringLiteral("/deleted/run-02.csv")));
    EXPECT_TRUE(ReadFile(work + QStringLiteral("/deleted/run-02.analysis.txt")).startsWith("Fit;Line;2;"));
    EXPECT_FALSE(ReadFile(work + QStringLiteral("/analysis.txt")).contains("Fit;"));
    EXPECT_EQ(w.Frame->ScreenResultBoxes().size(), 1u);
    EXPECT_EQ(curvePixels(), 0) << "its curve is gone with it";
    EXPECT_EQ(colourOf(0), firstColour);
    tree->topLevelItem(0)->setText(0, QStringLiteral("Стакан"));
    tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    tree->setCurrentItem(tree->topLevelItem(0));
    QCoreApplication::processEvents();

    // Reopened as it was left, each run in its own colour, the deleted run's results not with it.
    w.OpenWork(work);
    ASSERT_EQ(Lesson().RunCount(), 2);
    EXPECT_EQ(Lesson().RunName(0), QStringLiteral("Стакан"));
    EXPECT_EQ(Lesson().RunName(1), QStringLiteral("Опыт 3"));
    EXPECT_FALSE(Lesson().Run(1).Shown);
    EXPECT_EQ(Lesson().Chosen(), 0);
    EXPECT_EQ(Lesson().ResultCount(), 1);
    EXPECT_EQ(w.Frame->tvTable->Model()->columnCount(), 2);
    chart = w.Frame->chMain;
    EXPECT_EQ(chart->Series(w.Frame->ActiveSeries)->Count(), first);
    EXPECT_EQ(colourOf(0), firstColour);
}

// With one marker, and with none, Статистика and Площадь take the same region: the part of the run in view.
TEST_F(MainWindowTest, StatisticsAndAreaTakeTheSameRegion) {
    ChooseCooling("");
    TfmMain& w = Window();
    Lesson().SetCollection({3});
    w.RunAction(w.acExperimentStart);
    ASSERT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return !w.tmMeasure->isActive();
    }));
    TChart* chart = w.Frame->chMain;
    for (const int marker : {-1, 5}) {
        SCOPED_TRACE(marker);
        chart->Marker = marker;
        chart->SecondMarker = -1;
        const int before = Lesson().ResultCount();
        w.RunAction(Action("acAnalysisStatistics"));
        w.RunAction(Action("acAnalysisArea"));
        ASSERT_EQ(Lesson().ResultCount(), before + 2) << BoxTexts().join(u'|').toStdString();
        const tAnalysisResult& statistics = Lesson().Result(before);
        const tAnalysisResult& area = Lesson().Result(before + 1);
        EXPECT_EQ(statistics.From, area.From);
        EXPECT_EQ(statistics.To, area.To);
        EXPECT_EQ(statistics.From, chart->BottomRange().lower);
    }
}

// The boxes the screen keeps where they were placed are where placing them anew puts them, over random steps a
// user takes (results added and removed, a box moved, the window resized); a run measured beside them moves
// none.
TEST_F(MainWindowTest, TheBoxesKeptAreTheBoxesPlacedAnew) {
    TfmMain& w = MeasuredCooling(QSize(1400, 900));
    ASSERT_FALSE(HasFailure());
    std::mt19937 random(912);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const auto same = [&](const char* step) {
        QFont keptFont, placedFont;
        const auto kept = w.Frame->ScreenResultBoxes(&keptFont);
        const auto placed = w.Frame->PlacedResultBoxes(&placedFont);
        ASSERT_EQ(kept.size(), placed.size()) << step;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].Result, placed[i].Result) << step << " " << i;
            EXPECT_EQ(kept[i].Rect, placed[i].Rect) << step << " " << i;
        }
        EXPECT_EQ(keptFont, placedFont) << step;
    };
    for (int step = 0; step < 40; ++step) {
        switch (uniform(0, 4)) {
        case 0:
        case 1:
            Analyse(Lesson(), tAnalysisKind::Statistics, tFitModel::Line, uniform(0, 1) * 0.1, 0.2 + uniform(0, 2) * 0.1);
            break;
        case 2:
            if (Lesson().ResultCount() > 0) Lesson().RemoveResult(uniform(0, Lesson().ResultCount() - 1));
            break;
        case 3:
            if (Lesson().ResultCount() > 0)
                Lesson().SetResultBox(uniform(0, Lesson().ResultCount() - 1),
                                      QPointF(uniform(0, 90) / 100.0, uniform(0, 90) / 100.0));
            break;
        case 4:
            w.resize(uniform(900, 1800), uniform(600, 1000));
            break;
        }
        QApplication::processEvents();
        SCOPED_TRACE(step);
        same("step");
    }
    // A run measured beside them moves no box while their texts stay (they name their runs once it begins).
    Analyse(Lesson(), tAnalysisKind::Statistics, tFitModel::Line, 0, 0.2);
    w.RunAction(w.acExperimentStart);
    w.tmMeasureTimer();
    QApplication::processEvents();
    std::vector<QRect> before;
    for (const auto& box : w.Frame->ScreenResultBoxes()) before.push_back(box.Rect);
    for (int tick = 0; tick < 3; ++tick) w.tmMeasureTimer();
    QApplication::processEvents();
    std::vector<QRect> during;
    for (const auto& box : w.Frame->ScreenResultBoxes()) during.push_back(box.Rect);
    w.RunAction(w.acExperimentStop);
    EXPECT_EQ(before, during);
}

// Eight results on one chart: eight boxes inside the plot, none covering another, on the screen and on paper
// alike (looked at in the pixels of the page); a box put by hand stays where it was put.
TEST_F(MainWindowTest, EveryResultBoxIsOnTheChartAndOnPaper) {
    // As wide as a maximised window on a 1920 × 1080 screen: on an A4 page the chart is a third of it.
    TfmMain& w = MeasuredCooling(QSize(1900, 1000));
    ASSERT_FALSE(HasFailure());
    TChart* chart = w.Frame->chMain;
    for (const char* name :
         {"acAnalysisStatistics", "acAnalysisArea", "acAnalysisFitLine", "acAnalysisFitParabola",
          "acAnalysisFitExpApproach", "acAnalysisStatistics", "acAnalysisArea", "acAnalysisFitLine"})
        w.RunAction(Action(name));
    ASSERT_EQ(Lesson().ResultCount(), 8) << BoxTexts().join(u'|').toStdString();
    const auto apart = [](const std::vector<QRect>& boxes, const QRect& plot) {
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_TRUE(plot.contains(boxes[i])) << i;
            for (std::size_t k = 0; k < i; ++k) EXPECT_FALSE(boxes[i].intersects(boxes[k])) << i << " " << k;
        }
    };
    std::vector<QRect> screen;
    for (const auto& box : w.Frame->ScreenResultBoxes()) screen.push_back(box.Rect);
    ASSERT_EQ(screen.size(), 8u);
    apart(screen, chart->PlotRect());
    // On paper, and on an A4 page of a PDF where the chart is much smaller: the boxes' pale fill, in eight
    // places apart.
    const auto patches = [](const QImage& page) {
        const auto fill = [&](int x, int y) {
            const QColor c = page.pixelColor(x, y);
            return c.red() >= 253 && c.green() >= 253 && c.blue() >= 234 && c.blue() <= 246;
        };
        std::vector<std::uint8_t> seen(std::size_t(page.width() * page.height()));
        std::vector<QRect> boxes;
        for (int y0 = 0; y0 < page.height(); ++y0)
            for (int x0 = 0; x0 < page.width(); ++x0) {
                if (seen[std::size_t(y0 * page.width() + x0)] || !fill(x0, y0)) continue;
                int area = 0;
                QRect patch;
                std::vector<QPoint> todo{{x0, y0}};
                seen[std::size_t(y0 * page.width() + x0)] = 1;
                while (!todo.empty()) {
                    const QPoint p = todo.back();
                    todo.pop_back();
                    ++area;
                    patch |= QRect(p, QSize(1, 1));
                    for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                        const QPoint q = p + d;
                        if (q.x() < 0 || q.y() < 0 || q.x() >= page.width() || q.y() >= page.height())
                            continue;
                        std::uint8_t& mark = seen[std::size_t(q.y() * page.width() + q.x())];
                        if (mark || !fill(q.x(), q.y())) continue;
                        mark = 1;
                        todo.push_back(q);
                    }
                }
                if (area < 150) continue;
                for (auto box = boxes.begin(); box != boxes.end();)
                    if (box->intersects(patch.adjusted(-1, -1, 1, 1))) {
                        patch |= *box;
                        box = boxes.erase(box);
                    } else {
                        ++box;
                    }
                boxes.push_back(patch);
            }
        return int(boxes.size());
    };
    EXPECT_EQ(patches(Paper(chart, QSize(1600, 1000))), 8) << "every box on paper, none over another";
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) {
        const QString pdf = dir.filePath(QStringLiteral("boxes.pdf"));
        prompts.TextAnswers = {pdf};
        w.RunAction(w.acFileExport);
        const QImage page = PdfPage(pdf, 1, 150);
        EXPECT_EQ(patches(page), 8) << "every box on the PDF's page, none over another";
    }

    // A box dragged by hand stays there; the others keep clear of it.
    const QRect moved = screen[0];
    const auto mouse = [&](QEvent::Type type, const QPoint& at) {
        QMouseEvent event(type, at, chart->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &event);
    };
    const QPoint to = chart->PlotRect().center() - QPoint(0, moved.height());
    mouse(QEvent::MouseButtonPress, moved.center());
    mouse(QEvent::MouseMove, to);
    mouse(QEvent::MouseButtonRelease, to);
    screen.clear();
    for (const auto& box : w.Frame->ScreenResultBoxes()) screen.push_back(box.Rect);
    EXPECT_EQ(screen[0].center(), to);
    apart(screen, chart->PlotRect());
}

// The axes show every run whole after a run that measured nothing, after a sensor lost in a run, and when a
// work is opened again: a run longer than the experiment's axis is never cut off.
TEST_F(MainWindowTest, TheAxesShowEveryRunWhole) {
    ChooseSimulated("Удар", "C103", "/dev/ttyACM7", ForkSignal,
                    "MaxX=2\r\nMinY=-1\r\nMaxY=1\r\nCaptionY=U, В\r\nFormatY=0.000\r\nDuration=3.2\r\n"
                    "TriggerLevel=0.2\r\nPreTrigger=0.3\r\n");
    TfmMain& w = Window();
    TChart* chart = w.Frame->chMain;
    w.RunAction(w.acExperimentStart);
    ASSERT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return !w.tmMeasure->isActive();
    }));
    const auto whole = [&] {
        const tPointSeries& run = *Lesson().Run(0).Points;
        return chart->BottomRange().lower <= run.X(0) + 1e-9 &&
               chart->BottomRange().upper >= run.X(run.Count() - 1) - 1e-9;
    };
    ASSERT_NEAR(Lesson().Run(0).Points->X(Lesson().Run(0).Points->Count() - 1), 3.2, 1e-9);
    EXPECT_TRUE(whole()) << "a run that stops by itself is shown whole";
    // Пуск that records nothing: a trigger the values never reach, and Стоп.
    Lesson().SetCollection({0, 0, true, 5, true, 0});
    w.RunAction(w.acExperimentStart);
    ASSERT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return Lesson().NewestValue().has_value();
    }));
    w.RunAction(w.acExperimentStop);
    EXPECT_EQ(Lesson().RunCount(), 1);
    EXPECT_TRUE(whole()) << chart->BottomRange().lower << "…" << chart->BottomRange().upper;
    // A sensor lost in the middle of a run.
    Lesson().SetCollection({});
    w.RunAction(w.acExperimentStart);
    TicksUntil(20);
    ASSERT_EQ(Lesson().Measured(), 1);
    PostAppMessage(WM_SENSOR_LOST, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.tmMeasure->isActive());
    EXPECT_TRUE(BoxTexts().last().startsWith(QStringLiteral("Внимание! Измерения были остановлены.")));
    EXPECT_TRUE(whole()) << chart->BottomRange().lower << "…" << chart->BottomRange().upper;
    // The work opened again.
    w.OpenWork(Lesson().Work()->Path());
    chart = w.Frame->chMain;
    EXPECT_TRUE(whole()) << chart->BottomRange().lower << "…" << chart->BottomRange().upper;
}

// Параметры сбора on the struck fork: a countdown on the test's clock, a start on the strike keeping the
// moments before it (t = 0 at the crossing), a run that stops by itself; Стоп cancels a wait; a reopened work
// collects as it did.
TEST_F(MainWindowTest, AForkRunStartsOnItsStrikeAndStopsByItself) {
    ChooseSimulated("Удар", "C103", "/dev/ttyACM7", ForkSignal,
                    "MaxX=2\r\nMinY=-1\r\nMaxY=1\r\nCaptionY=U, В\r\nFormatY=0.000\r\nDuration=9\r\n");
    TfmMain& w = Window();
    ASSERT_TRUE(w.Device());
    EXPECT_EQ(Lesson().Collection(), (tCollection{9})) << "the definition's default";
    const tCollection set{2, 3, true, 0.2, true, 0.3};
    collecting = [&](TfmCollection& dialog) {
        EXPECT_EQ(dialog.Get(), (tCollection{9}));
        dialog.Set(set);
        return int(QDialog::Accepted);
    };
    w.RunAction(Action("acExperimentCollection"));
    EXPECT_EQ(Lesson().Collection(), set);

    counter = 0;
    w.RunAction(w.acExperimentStart);
    EXPECT_EQ(Lesson().Collecting(), tLesson::tCollecting::Countdown);
    EXPECT_TRUE(Enabled(w.acExperimentStop)) << "Стоп cancels a countdown";
    // While measuring, the tick turns the clock: its own timer rests until the run ends.
    w.tmTime->stop();
    EXPECT_TRUE(QMetaObject::invokeMethod(w.tmTime, "timeout"));
    EXPECT_FALSE(w.tmTime->isActive());
    w.tmMeasureTimer();
    EXPECT_EQ(w.StatusPanels[0]->text(),
              QStringLiteral("Пуск через 3.0 с").replace(u'.', QLocale().decimalPoint()));
    EXPECT_EQ(Lesson().RunCount(), 0);
    counter = 3 * w.PerfFrequency;
    w.tmMeasureTimer();
    EXPECT_NE(Lesson().Collecting(), tLesson::tCollecting::Countdown);
    ASSERT_EQ(Lesson().RunCount(), 1);
    EXPECT_NEAR(w.Frame->chMain->BottomRange().lower, -0.3, 1e-9) << "the kept moments are on the chart";
    ASSERT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return !w.tmMeasure->isActive();
    })) << "the run stops by itself";
    EXPECT_TRUE(w.tmTime->isActive()) << "the clock's timer goes on when the run ends";
    const tPointSeries& run = *Lesson().Run(0).Points;
    // The strike at 1 s: the 0.3 s before it kept, t = 0 at the first value above 0.2, two seconds after it.
    ASSERT_GT(run.Count(), 200);
    EXPECT_NEAR(run.X(0), -0.3, 1e-9);
    EXPECT_NEAR(run.X(run.Count() - 1), 2, 1e-9);
    EXPECT_EQ(run.Count(), 231);
    const int zero = run.UpperBound(-1e-9);
    EXPECT_NEAR(run.X(zero), 0, 1e-9);
    EXPECT_GE(run.Y(zero), 0.2);
    EXPECT_LT(run.Y(zero - 1), 0.2);
    for (int i = 0; i < zero - 1; ++i) EXPECT_LT(std::abs(run.Y(i)), 0.2) << "the quiet before the strike";
    EXPECT_LE(w.Frame->chMain->BottomRange().lower, -0.3) << "the whole run shown when it ends";
    EXPECT_GE(w.Frame->chMain->BottomRange().upper, 2);

    // Waiting for a level never reached: the values shown live, nothing recorded, Стоп ends the wait.
    collecting = [&](TfmCollection& dialog) {
        dialog.Set({0, 0, true, 5, true, 0});
        return int(QDialog::Accepted);
    };
    w.RunAction(Action("acExperimentCollection"));
    w.RunAction(w.acExperimentStart);
    EXPECT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return ValueLabelVisible();
    }));
    EXPECT_TRUE(w.StatusPanels[0]->text().contains(QStringLiteral(" (сейчас ")));
    EXPECT_TRUE(w.StatusPanels[0]->text().startsWith(QStringLiteral("Ожидание запуска")))
        << w.StatusPanels[0]->text().toStdString();
    EXPECT_TRUE(ValueLabelVisible());
    EXPECT_TRUE(w.lb->text().startsWith(QStringLiteral("U, В = ")));
    EXPECT_EQ(Lesson().Run(Lesson().RunCount() - 1).Points->Count(), 0);
    // The wait is said large over the chart, on the screen only: a box of dark text a third of the way down.
    EXPECT_EQ(w.Frame->Notice(), w.StatusPanels[0]->text());
    const auto noticeInk = [&] {
        w.Frame->chMain->replot();
        const QImage shown = w.Frame->chMain->grab().toImage();
        const QRect plot = w.Frame->chMain->PlotRect();
        int dark = 0;
        for (int x = plot.left() + 8; x <= plot.right() - 8; ++x) // clear of the axes' ticks
            for (int y = plot.top() + plot.height() / 4; y < plot.top() + plot.height() * 5 / 12; ++y)
                dark += std::max({qRed(shown.pixel(x, y)), qGreen(shown.pixel(x, y)),
                                  qBlue(shown.pixel(x, y))}) < 100;
        return dark;
    };
    EXPECT_GT(noticeInk(), 200);
    // Under it the signal is drawn live in grey: the last span of the time axis, nothing of it recorded.
    const std::size_t span = std::size_t(
        std::lround((w.Experiment->MaxX - w.Experiment->MinX) * 1e6 / double(w.Experiment->Period())));
    EXPECT_TRUE(WaitUntil([&] {
        w.tmMeasureTimer();
        return Lesson().Recording().Waiting().size() >= span;
    }));
    EXPECT_EQ(Lesson().Recording().Waiting().size(), span);
    const QImage live = w.Frame->chMain->grab().toImage();
    int grey = 0;
    for (int y = 0; y < live.height(); ++y)
        for (int x = 0; x < live.width(); ++x) grey += live.pixelColor(x, y) == QColor(150, 150, 150);
    EXPECT_GT(grey, 100);
    w.RunAction(w.acExperimentStop);
    EXPECT_TRUE(Lesson().Recording().Waiting().empty());
    EXPECT_EQ(Lesson().RunCount(), 1) << "a wait that was cancelled is no run";
    EXPECT_TRUE(w.Frame->Notice().isEmpty());
    EXPECT_LT(noticeInk(), 20);

    // The work keeps how its runs were collected.
    const QString work = Lesson().Work()->Path();
    prompts.ButtonAnswers = {bbYes};
    Choose(QStringLiteral("Тепло"));
    EXPECT_EQ(Lesson().Collection(), tCollection{});
    w.OpenWork(work);
    EXPECT_EQ(Lesson().Collection(), (tCollection{0, 0, true, 5, true, 0}));
}

// Крупные цифры: the live value fills most of the window; Esc returns.
TEST_F(MainWindowTest, BigDigitsFillTheWindow) {
    TfmMain& w = Window();
    w.resize(1000, 700);
    Choose(QStringLiteral("Тепло"));
    w.RunAction(w.acExperimentStart);
    TicksUntil(20);
    w.RunAction(Action("acViewBigDigits"));
    ASSERT_TRUE(Action("acViewBigDigits")->isChecked());
    TicksUntil(30);
    const tFastLine& line = *w.Frame->chMain->Series(w.SeriesIndex);
    EXPECT_EQ(Child<TBigDigits>("BigDigits")->Value(),
              FormatFloat(QStringLiteral("0.0"), line.Y(line.Count() - 1)));
    EXPECT_GT(Child<TBigDigits>("BigDigits")->width(), 900);
    EXPECT_GT(Child<TBigDigits>("BigDigits")->height(), 600);
    const QImage image = Child<TBigDigits>("BigDigits")->grab().toImage();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 60) ink |= QRect(x, y, 1, 1);
    EXPECT_GT(ink.width(), image.width() * 6 / 10) << "the digits across most of the window";
    EXPECT_GT(ink.height(), image.height() * 4 / 10);
    for (QShortcut* back : Child<TBigDigits>("BigDigits")->findChildren<QShortcut*>()) emit back->activated();
    EXPECT_FALSE(Action("acViewBigDigits")->isChecked());
    EXPECT_TRUE(Child<TBigDigits>("BigDigits")->isHidden());
    w.RunAction(w.acExperimentStop);
}

// Класс on one computer: the teacher begins a lesson (a real broker), the same window joins it as a station,
// and a run measured there reaches the teacher's side; ended, the station says it has no link and measures
// on.
TEST_F(MainWindowTest, ALessonInClassBegunJoinedAndEnded) {
    // What the sensors were sent and answered, told when the run after the lesson measures nothing.
    tLogCapture log;
    if (QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")})
            .isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty())
        GTEST_SKIP() << "mosquitto missing";
    TfmMain& w = Window();
    auto* menu = Child<TClassMenu>();
    ASSERT_TRUE(menu);
#ifdef CLASSPAGE_DIR
    // The class page beside the program.
    QFile::link(QStringLiteral(CLASSPAGE_DIR), dir.filePath(QStringLiteral("classpage")));
#endif
    // The browser the teacher's box opens the page in.
    tUrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "Open");
    QString begun;
    other = [&](QDialog& dialog) {
        if (auto* lesson = qobject_cast<TLessonDialog*>(&dialog)) {
            begun = lesson->Text();
            if (auto* open = lesson->findChild<QPushButton*>(QStringLiteral("btOpenPage"))) open->click();
        }
        return int(QDialog::Accepted);
    };
    Action("acClassBegin")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    ASSERT_TRUE(menu->Codes()) << BoxTexts().join(u'|').toStdString();
    const tLessonCodes codes = *menu->Codes();
    // The station code in groups of four, beginning with the lesson's name.
    EXPECT_TRUE(begun.contains(GroupedCode(codes.StationCode)) && begun.contains(codes.ViewerCode))
        << begun.toStdString();
    EXPECT_EQ(codes.StationCode.size(), 12);
    EXPECT_EQ(LessonOfCode(codes.StationCode), codes.Lesson);
    // The certificate's fingerprint follows its line on the teacher's box, and is the one the station shows.
    const QStringList lines = begun.split(QStringLiteral("\r\n"));
    const qsizetype said =
        lines.indexOf(QStringLiteral("Отпечаток сертификата учителя (станции показывают его же):"));
    ASSERT_GE(said, 0) << begun.toStdString();
    const QString fingerprint = lines.value(said + 1);
    EXPECT_EQ(fingerprint.count(u':'), 31) << fingerprint.toStdString();
    // The lesson's state stands in the status bar between the hints and the elapsed time.
    w.show();
    QApplication::processEvents();
    const QList<QLabel*> labels = w.statusBar()->findChildren<QLabel*>();
    const auto state = std::find_if(labels.begin(), labels.end(), [&](QLabel* label) {
        return label->text().contains(GroupedCode(codes.StationCode));
    });
    ASSERT_NE(state, labels.end());
    EXPECT_LT(w.StatusPanels[0]->geometry().right(), (*state)->geometry().left());
    EXPECT_LT((*state)->geometry().right(), w.StatusPanels[1]->geometry().left());
#ifdef CLASSPAGE_DIR
    // The box opens the page, with the viewer's code, from the lesson's own broker.
    ASSERT_EQ(browser.Opened.size(), 1);
    const QUrl page = browser.Opened[0];
    EXPECT_EQ(page.port(), menu->Port() + 1);
    EXPECT_EQ(page.fragment(), QStringLiteral("code=") + codes.ViewerCode);
    QNetworkAccessManager http;
    QNetworkReply* reply = http.get(QNetworkRequest(page.adjusted(QUrl::RemoveFragment)));
    ASSERT_TRUE(WaitUntil([&] { return reply->isFinished(); }));
    EXPECT_TRUE(reply->readAll().contains("class.js")) << reply->errorString().toStdString();
    delete reply;
#endif
    Choose(QStringLiteral("Тепло"));
    other = [&](QDialog& dialog) {
        auto* join = qobject_cast<TJoinDialog*>(&dialog);
        if (!join) return int(QDialog::Rejected);
        join->Address->setText(QStringLiteral("127.0.0.1:%1").arg(menu->Port()));
        // Typed as a student would: in small letters, with the dashes that group it.
        join->Code->setText(GroupedCode(codes.StationCode).toLower());
        join->Group->setText(QStringLiteral("Группа А"));
        return int(QDialog::Accepted);
    };
    // The first join asks before any link, with the fingerprint to compare: «Нет» makes no link and pins
    // nothing, so that the next join asks again.
    prompts.Boxes.clear();
    prompts.ButtonAnswers = {bbNo};
    Action("acClassJoin")->trigger();
    EXPECT_FALSE(menu->Link());
    ASSERT_EQ(BoxTexts().size(), 1);
    prompts.Boxes.clear();
    Action("acClassJoin")->trigger();
    ASSERT_TRUE(menu->Link());
    // Answered «Да», it pins the teacher's certificate.
    ASSERT_EQ(BoxTexts().size(), 1);
    EXPECT_TRUE(BoxTexts()[0].contains(QStringLiteral("Сверьте отпечаток"))) << BoxTexts()[0].toStdString();
    EXPECT_TRUE(BoxTexts()[0].contains(fingerprint));
    ASSERT_TRUE(WaitUntil([&] { return menu->Link()->State() == tStationLink::tState::Connected; }));
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
              {QStringLiteral("-p"), QString::number(menu->Port()), QStringLiteral("-u"),
               QString::fromLatin1(kTeacherUser), QStringLiteral("-P"), codes.TeacherPassword,
               QStringLiteral("-t"), QStringLiteral("zorbinka/%1/station/+/run/1").arg(codes.Lesson),
               QStringLiteral("-C"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("20"),
               QStringLiteral("--cafile"), UserStateFolder() + QStringLiteral("/teacher/teacher.crt"),
               QStringLiteral("--insecure")});
    ASSERT_TRUE(sub.waitForStarted());
    w.RunAction(w.acExperimentStart);
    TicksUntil(5);
    w.RunAction(w.acExperimentStop);
    ASSERT_TRUE(WaitUntil([&] { return sub.state() == QProcess::NotRunning; }, 20000));
    const QJsonObject run = QJsonDocument::fromJson(sub.readAllStandardOutput()).object();
    EXPECT_EQ(run.value(QStringLiteral("points")).toInt(), Lesson().Run(0).Points->Count());
    EXPECT_EQ(run.value(QStringLiteral("name")).toString(), QStringLiteral("Опыт 1"));
    // The teacher's word: a line shown, and the open experiment offered; the station asks before it opens it.
    prompts.Boxes.clear();
    prompts.TextAnswers = {QStringLiteral("Начинаем второй опыт")};
    Action("acClassMessage")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !BoxTexts().isEmpty(); }));
    EXPECT_EQ(BoxTexts().last(), QStringLiteral("Сообщение учителя: Начинаем второй опыт"));
    prompts.ButtonAnswers = {bbYes};
    Action("acClassOffer")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return BoxTexts().size() >= 2; }));
    EXPECT_EQ(BoxTexts().last(), QStringLiteral("Учитель предлагает эксперимент «Тепло»: открыть?"));
    ASSERT_TRUE(WaitUntil([&] { return Lesson().RunCount() == 0; })) << "opened anew";
    EXPECT_EQ(w.Experiment->Name, QStringLiteral("Тепло"));
    ASSERT_TRUE(w.Device());
    Action("acClassEnd")->trigger();
    EXPECT_FALSE(menu->Codes());
    // The station is told: it leaves the lesson by itself and says so.
    ASSERT_TRUE(WaitUntil([&] { return !menu->Link(); }));
    const QList<QLabel*> ended = w.statusBar()->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(ended.begin(), ended.end(), [](QLabel* label) {
        return label->text() == QStringLiteral("Класс: урок закончен учителем");
    }));
    w.RunAction(w.acExperimentStart);
    TicksUntil(3);
    if (HasFailure()) {
        QStringList said = log.Entries().filter(QRegularExpression(QStringLiteral("^(?!SEND: (HEX|BIN))")));
        ADD_FAILURE() << said.mid(std::max<qsizetype>(0, said.size() - 80)).join(u'|').toStdString();
    }
    w.RunAction(w.acExperimentStop);
    EXPECT_EQ(Lesson().RunCount(), 1) << "measuring goes on without the teacher";
    EXPECT_FALSE(Action("acClassLeave")->isEnabled());
    EXPECT_FALSE(Action("acClassRemove")->isEnabled());
    // The next lesson: the station joins it under a new identity, and the teacher removes it; it says why it
    // is out, and measures on.
    Action("acClassBegin")->trigger();
    ASSERT_TRUE(menu->Codes());
    const tLessonCodes next = *menu->Codes();
    other = [&](QDialog& dialog) {
        auto* join = qobject_cast<TJoinDialog*>(&dialog);
        if (!join) return int(QDialog::Accepted);
        join->Address->setText(QStringLiteral("127.0.0.1:%1").arg(menu->Port()));
        join->Code->setText(next.StationCode);
        join->Group->setText(QStringLiteral("Группа А"));
        return int(QDialog::Accepted);
    };
    Action("acClassJoin")->trigger();
    ASSERT_TRUE(menu->Link());
    ASSERT_TRUE(WaitUntil([&] { return menu->Link()->State() == tStationLink::tState::Connected; }));
    prompts.Boxes.clear();
    prompts.TextAnswers = {QStringLiteral("Группа А")};
    prompts.ButtonAnswers = {bbYes};
    Action("acClassRemove")->trigger();
    ASSERT_EQ(BoxTexts().size(), 1) << BoxTexts().join(u'|').toStdString();
    EXPECT_TRUE(BoxTexts()[0].contains(QStringLiteral("«Группа А»"))) << BoxTexts()[0].toStdString();
    ASSERT_TRUE(WaitUntil([&] {
        const QList<QLabel*> labels = w.statusBar()->findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
            return label->text().endsWith(
                QStringLiteral("Класс: станция не принята — учитель убрал эту станцию из урока"));
        });
    }));
    Action("acClassEnd")->trigger();
}

// Joining a teacher who is slow to answer: the window goes on meanwhile (its timers fire, a run measured goes
// on), and a teacher who never completes the handshake is said.
TEST_F(MainWindowTest, TheWindowGoesOnWhileTheTeacherIsAsked) {
    QTcpServer teacher;
    ASSERT_TRUE(teacher.listen(QHostAddress::LocalHost, 0));
    // It takes the connection and says nothing for a second and a half, then hangs up.
    QObject::connect(&teacher, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = teacher.nextPendingConnection();
        QTimer::singleShot(1500, socket, [socket] { socket->abort(); });
    });
    TfmMain& w = Window();
    Choose(QStringLiteral("Тепло"));
    w.RunAction(w.acExperimentStart);
    TicksUntil(3);
    w.tmMeasure->setInterval(20);
    const int before = MeasuredPoints();
    int fired = 0;
    QTimer counting;
    QObject::connect(&counting, &QTimer::timeout, [&] { ++fired; });
    counting.start(50);
    other = [&](QDialog& dialog) {
        auto* join = qobject_cast<TJoinDialog*>(&dialog);
        if (!join) return int(QDialog::Rejected);
        join->Address->setText(QStringLiteral("127.0.0.1:%1").arg(teacher.serverPort()));
        join->Code->setText(QStringLiteral("ABC123"));
        join->Group->setText(QStringLiteral("Группа Б"));
        return int(QDialog::Accepted);
    };
    prompts.Boxes.clear();
    Action("acClassJoin")->trigger();
    EXPECT_FALSE(Child<TClassMenu>()->Link());
    ASSERT_EQ(BoxTexts().size(), 1);
    EXPECT_TRUE(BoxTexts()[0].startsWith(QStringLiteral("Нет связи с учителем по адресу 127.0.0.1:")))
        << BoxTexts()[0].toStdString();
    EXPECT_GT(fired, 10) << "the window's own timers went on";
    EXPECT_GT(MeasuredPoints(), before) << "the run measured went on";
    w.tmMeasure->setInterval(24 * 3600 * 1000);
    w.RunAction(w.acExperimentStop);
}

// A fitted curve that shoots off the chart (a power near x = 0) is cut a plot's height beyond it: the
// exported page is drawn by a PDF reader at any resolution, the curve on it.
TEST_F(MainWindowTest, ACurveThatShootsOffTheChartStaysDrawableOnPaper) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "pdftoppm missing";
    TfmMain& w = Window();
    w.show();
    Choose(QStringLiteral("Без датчика"));
    // E against r as a run of the lamp kept them: E = 4.6·10⁶·r^−3.08, 3·10⁸ at r = 0.25.
    const double points[][2] = {{25, 226}, {35, 73}, {45, 44}};
    for (int i = 0; i < 3; ++i) Lesson().SetTypedRow(i, points[i][0], points[i][1]);
    const tAnalysisResult& fit = Analyse(Lesson(), tAnalysisKind::Fit, tFitModel::Power, 0, 100);
    ASSERT_TRUE(fit.Ok) << fit.Error.toStdString();
    QApplication::processEvents();
    const QString pdf = dir.filePath(QStringLiteral("power.pdf"));
    prompts.TextAnswers = {pdf};
    w.RunAction(w.acFileExport);
    const QImage page = PdfPage(pdf, 1, 200);
    ASSERT_FALSE(page.isNull()) << "the page cannot be drawn";
    int red = 0;
    for (int y = 0; y < page.height(); y += 2)
        for (int x = 0; x < page.width(); x += 2)
            if (const QColor c = page.pixelColor(x, y); c.red() > 120 && c.green() < 80 && c.blue() < 80)
                ++red;
    EXPECT_GT(red, 200) << "the points and the dashed curve on the page";
}

#include "test_mainfm.moc"
