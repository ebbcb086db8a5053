// The experiment workflow: choose, build the frame, connect, start, stop, mark a point, open a saved work,
// and the stop notices.
#include "ui/Mainfm.h"

#include "acquisition/Acquisition.h"
#include "core/AppMessages.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Device.h"
#include "device/Searches.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "ui/AnalysisMenu.h"
#include "ui/CollectionDialog.h"
#include "ui/Experimentfr.h"
#include "ui/Experimentsfm.h"
#include "ui/OffThread.h"
#include "ui/Pulsefr.h"
#include "ui/SensorReading.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfWriter.h"
#include "widgets/StatusPanel.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <atomic>

void TfmMain::Choose() {
    TfmExperiments chooser(this);
    QString folder = ExecutablePath();
    folder = folder.left(folder.lastIndexOf(u'/') + 1) + QStringLiteral("data/");
    chooser.FillTree(QStringList{folder, UserCatalogueFolder()});
    if (Prompts().Exec(chooser) != QDialog::Accepted) return;
    if (Experiment && Prompts().MessageBox(this, LoadStr(sConfirmNewExperiment), LoadStr(sCaptionConfirm),
                                           tBoxIcon::Warning, bbYes | bbNo, bbYes) != bbYes) {
        setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
        return;
    }
    CloseWork();
    if (!Experiment) Experiment = std::make_unique<tExperiment>();
    chooser.LoadExperiment(Experiment.get());
    FLesson->Open(*Experiment);
    RunAction(acExperimentConnect);
    // A description still being read, or a large one, is read again by the frame (off the window's thread)
    // rather than copied here.
    const TRichEdit* description = chooser.Description();
    BuildFrame(description->Loading() || description->document()->characterCount() > 100000
                   ? nullptr
                   : description->document());
    setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
}

void TfmMain::OpenOffered(const QString& path) {
    const QString exe = ExecutablePath(), file = QString::fromLatin1(kExperimentFile);
    QString folder = exe.left(exe.lastIndexOf(u'/') + 1) + QStringLiteral("data/") + path + u'/';
    if (!QFileInfo::exists(folder + file)) folder = UserCatalogueFolder() + u'/' + path + u'/';
    if (!QFileInfo::exists(folder + file))
        throw Exception(QStringLiteral("В каталоге этого компьютера нет эксперимента «%1».").arg(path));
    CloseWork();
    if (!Experiment) Experiment = std::make_unique<tExperiment>();
    LoadExperimentFolder(*Experiment, path.section(u'/', -1), folder, this);
    FLesson->Open(*Experiment);
    RunAction(acExperimentConnect);
    BuildFrame(nullptr);
    setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
}

void TfmMain::CloseWork() {
    // The run measured ends as Stop ends it, and the report is saved.
    RunAction(acExperimentStop);
    SaveReport();
}

void TfmMain::BuildFrame(const QTextDocument* description) {
    if (Frame) {
        Frame->setParent(nullptr);
        delete Frame;
        Frame = nullptr;
    }
    const tExperiment& e = *Experiment;
    Frame = FLesson->Sensor().BeatRate ? new TfrPulse(this, e.TwiceMarker)
                                       : new TfrExperiment(this, e.TwiceMarker);
    ShowValueLabel(false);
    lbStart->hide();
    // The elapsed time of another experiment's run is not this one's.
    StatusPanels[1]->clear();
    Frame->SetUp(e, description);
    // The charts' context menu offers «Показать всё» and the copy of the chart page too.
    for (TChart* chart : Frame->Charts()) {
        chart->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(chart, &QWidget::customContextMenuRequested, chart, [this, chart](const QPoint& at) {
            QMenu menu;
            menu.addAction(acViewShowAll);
            menu.addAction(Frame->acCopyChart);
            if (chart == Frame->chMain) menu.addMenu(mnAnalysis);
            UpdateActions();
            menu.exec(chart->mapToGlobal(at));
        });
    }
    Frame->reReport->document()->setModified(false);
    // The edit's own signal: a large report read off the window's thread comes as another document.
    connect(Frame->reReport, &QTextEdit::textChanged, tmReportSave, qOverload<>(&QTimer::start));
    connect(Frame->pcMain, &QTabWidget::currentChanged, this, [this] { SaveReport(); });
    FClient->layout()->addWidget(Frame);
    SeriesIndex = 0;
    Frame->ActiveSeries = 0;
    Frame->SetLesson(FLesson);
    // A saved work is shown whole.
    if (FLesson->RunCount() > 0) Frame->ShowAll(e);
    ShowCollectionStatus();
}

void TfmMain::Connect() {
    if (Device()) Disconnect();
    if (!Experiment) {
        acExperimentConnect->setChecked(false);
        ShowWarningBox(this, LoadStr(sChooseExperimentFirst));
        return;
    }
    if (!FLesson->Sensor().Connects) {
        acExperimentConnect->setChecked(false);
        return;
    }
    // The searches run on a thread of their own; a small modal box shows the link being searched.
    const QString wanted = Experiment->SensorName;
    std::atomic<int> link{0};
    tSensorSearch found;
    static const char* const kLinks[] = {"", "FTDI", "COM", "HID"};
    TSearchBox box(this, wanted);
    box.show();
    // With the user's input: Отмена in the box (the window itself waits behind the box).
    RunBusy([&] { found = FindSensor(wanted, FSettings.get(), &link, box.Cancel()); },
            [&] { box.ShowLink(QString::fromLatin1(kLinks[link.load()])); }, true);
    box.hide();
    const bool connected = found.Device != nullptr;
    if (connected) found.Device->SetFreq(0, Experiment->Freq);
    FAcquisition->Attach(std::move(found.Device));
    acExperimentConnect->setChecked(connected);
    if (connected) {
        StatusPanels[0]->clear();
        FLesson->SetSensorState(tLesson::tSensorState::Connected);
        return;
    }
    if (found.Cancelled) return;
    // On Linux FTDI sensors usually work as serial ports without the D2XX library: its absence matters only
    // when no link found the sensor, and is said once a program run.
    if (found.FtdiMissing && !FFtdiWarned) {
        FFtdiWarned = true;
        ShowWarningBox(
            this, QStringLiteral("Была предпринята попытка работы с датчиками через интерфейс FTDI, при этом "
                                 "драйверы установлены не были.\r\nПодключите датчик к ПК, дождитесь "
                                 "установки драйвера и повторите попытку."));
    }
    ShowWarningBox(
        this, QStringLiteral("Не найден датчик для проведения эксперимента.\r\nДатчик «%1» не найден (%2).")
                  .arg(wanted, found.Searched.isEmpty()
                                   ? QStringLiteral("все способы подключения выключены")
                                   : QStringLiteral("искали: ") + found.Searched.join(QStringLiteral(", "))));
}

void TfmMain::RunBusy(const std::function<void()>& work, const std::function<void()>& poll, bool input) {
    FBusy = true;
    UpdateActions();
    const struct tIdle {
        bool& Busy;
        ~tIdle() { Busy = false; }
    } idle{FBusy};
    RunOffThread(work, poll, input);
}

void TfmMain::Disconnect() {
    RunAction(acExperimentStop);
    FReading->End();
    FAcquisition->Release();
    acExperimentConnect->setChecked(false);
    FLesson->SetSensorState(tLesson::tSensorState::None);
}

void TfmMain::Start() {
    // A start delay counts down first; Стоп cancels it.
    if (FLesson->BeginCountdown(Now())) {
        tmMeasure->start();
        return;
    }
    FReading->End();
    SeriesIndex = Frame->BeginMeasurement(*Experiment);
    // A run of its own: the lesson keeps it and its file, the line just cleared draws it.
    FLesson->BeginRun(SeriesIndex);
    // The moments kept before a trigger are drawn left of t = 0.
    const tCollection& collection = FLesson->Collection();
    if (collection.Trigger && collection.PreTrigger > 0)
        Frame->chMain->SetBottomRange(Experiment->MinX - collection.PreTrigger,
                                      Experiment->MaxX - collection.PreTrigger);
    ShowValueLabel(false);
    FLabelShows = tLabelShows::Nothing;
    FAcquisition->BeginRun();
    MeasureStart = ElapsedCounter();
    tmMeasure->start();
}

void TfmMain::Stop() {
    tmMeasure->stop();
    TurnClock();
    // A countdown is cancelled: no run was started.
    if (FLesson->Collecting() == tLesson::tCollecting::Countdown) {
        FLesson->EndRun();
        return;
    }
    // What the sensor sent up to the stop or the loss is drawn before the thread goes. A broken packet stops
    // the run from inside a tick: what is queued behind it is dropped.
    FAcquisition->EndRun(!FInTick);
    if (!FInTick) {
        ShowTime();
        ShowElapsed(true);
    }
    if (Frame) Frame->EndMeasurement();
    // A run that measured nothing is no run; the chart then shows the runs there are, whole.
    if (!FLesson->EndRun() && Frame && Experiment) Frame->ShowAll(*Experiment);
    SaveReport();
}

void TfmMain::SaveReport() {
    if (!Frame || !Experiment || FBusy) return;
    QTextDocument* report = Frame->reReport->document(); // a placeholder is shown, not kept
    if ((!FLesson->Work() && !report->isModified()) || Frame->reReport->ShowsPlaceholder()) return;
    if (FLesson->SaveReport(WriteRtf(*report))) report->setModified(false);
}

void TfmMain::OpenWorkCommand() {
    tFileDialogOptions options;
    options.Title = QStringLiteral("Открыть работу");
    options.Filter = QStringLiteral("Сохранённые работы (work.txt);;Все файлы (*)");
    options.Directory = tWorkFolder::DataRoot();
    const QString fileName = Prompts().OpenFileName(this, options);
    if (fileName.isEmpty()) return;
    const QFileInfo chosen(fileName);
    OpenWork(chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
}

void TfmMain::OpenWork(const QString& path) {
    if (Experiment && Prompts().MessageBox(this, LoadStr(sConfirmNewExperiment), LoadStr(sCaptionConfirm),
                                           tBoxIcon::Warning, bbYes | bbNo, bbYes) != bbYes)
        return;
    // Everything is read before anything is replaced, off the window's thread while the window shows how far
    // it got and can cancel: a folder that cannot be read leaves the window as it was.
    tProgress progress(this, QStringLiteral("Открытие работы «%1»…").arg(QDir(path).dirName()));
    tSavedWork work;
    RunBusy(
        [&] {
            work = ReadSavedWork(path, [&](qint64 done, qint64 total) { return progress.Told(done, total); });
        },
        [&] { progress.Show(); }, true);
    progress.Finish();
    WriteLog(QStringLiteral("Open work: ") + path);
    CloseWork();
    if (Device()) Disconnect();
    auto experiment = std::make_unique<tExperiment>();
    const QString name =
        work.Opened.ExperimentName.isEmpty() ? QDir(path).dirName() : work.Opened.ExperimentName;
    LoadExperimentFolder(*experiment, name, path + u'/', this);
    Experiment = std::move(experiment);
    const QString said = work.Opened.Notes();
    FLesson->Open(*Experiment, std::move(work));
    BuildFrame(nullptr);
    SeriesIndex = Frame->ActiveSeries;
    setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
    if (!said.isEmpty()) ShowWarningBox(this, said);
}

void TfmMain::CollectionCommand() {
    if (!Experiment) return;
    TfmCollection dialog(this, Experiment->CaptionY);
    dialog.Set(FLesson->Collection());
    if (Prompts().Exec(dialog) == QDialog::Accepted) FLesson->SetCollection(dialog.Get());
}

void TfmMain::MarkPoint() {
    if (!Frame) return;
    // The label belongs to the moment the teacher asked for it: the first point measured after the box
    // opened, although the chart goes on while the box is open (and the run may end meanwhile).
    FLesson->BeginLabel();
    acExperimentMarkPoint->setChecked(true);
    const std::optional<QString> label = Frame->AskPointLabel();
    acExperimentMarkPoint->setChecked(false);
    if (!FLesson->EndLabel(label.value_or(QString())) && label && !label->isEmpty())
        ShowWarningBox(this, QStringLiteral("Метка «%1» не поставлена: опыт закончился, не записав ни одной "
                                            "точки.")
                                 .arg(*label));
}

void TfmMain::StopNotice(const QString& text, bool lost) {
    RunAction(acExperimentStop);
    // A sensor that is gone is let go: Подключение is released and Пуск waits until it is found again (a
    // start on the gone sensor would only fail and leave an empty run). The chart shows every run whole.
    if (lost && Device()) {
        FAcquisition->Release();
        FLesson->SetSensorState(tLesson::tSensorState::Lost);
        acExperimentConnect->setChecked(false);
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
        StatusPanels[0]->setText(
            QStringLiteral("Датчик «%1» отключён. Подключите его и нажмите «Подключение».")
                .arg(Experiment ? Experiment->SensorName : QString()));
    }
    ShowWarningBox(this, text);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
    ReceiveAppMessage(event);
    const int type = int(event->type());
    // A notice that arrives after its run has stopped (by the user, or by an earlier notice of the same
    // loss) has nothing left to stop: one box per run at most.
    if ((type == WM_MEASURE_SEND_ERROR || type == WM_MEASURE_RECV_ERROR || type == WM_SENSOR_LOST) &&
        !tmMeasure->isActive())
        return FReading->Lose(), true;
    // A first parameter of 2: the sensor's link is gone (the cable pulled), not only its answer.
    if (type == WM_MEASURE_SEND_ERROR || type == WM_MEASURE_RECV_ERROR) {
        const auto* message = dynamic_cast<tAppMessage*>(event);
        StopNotice(LoadStr(type == WM_MEASURE_SEND_ERROR ? sSendError : sReceiveError),
                   message && message->WParam == 2);
        return true;
    }
    if (type == WM_SENSOR_LOST) {
        StopNotice(QStringLiteral(
                       "Внимание! Измерения были остановлены.\r\nДатчик , был отключен в процессе проведения "
                       "измерений."),
                   true);
        return true;
    }
    if (type == WM_MARKER_MOVED) {
        if (auto* message = dynamic_cast<tAppMessage*>(event); message && Frame && Experiment) {
            const QString text = Frame->GetMarkerText(Experiment->FormatX, Experiment->FormatY,
                                                      reinterpret_cast<TChart*>(message->WParam));
            ShowLabelText(text);
            // The sound sensor hides the value label while measuring; a marker's reading is shown all the
            // same.
            if (!text.isEmpty()) ShowValueLabel(true);
            FLabelShows = text.isEmpty() ? tLabelShows::Nothing : tLabelShows::Marker;
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
