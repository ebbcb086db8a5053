// The experiment workflow: choose, build the frame, connect, start, stop, mark a point, and the stop notices.
#include "ui/Mainfm.h"

#include "core/AppMessages.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Device.h"
#include "device/Ftdilibrary.h"
#include "device/Searches.h"
#include "experiment/Experiment.h"
#include "experiment/Experimentsfm.h"
#include "runs/WorkFolder.h"
#include "ui/Experimentfr.h"
#include "ui/Pulsefr.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"
#include "widgets/RtfWriter.h"
#include "widgets/StatusPanel.h"

#include <QDir>
#include <QFileInfo>
#include <QTextDocument>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

namespace {

// Runs the window's events until a worker thread says it is done. The worker only sets the flag: a call it
// queued into the window's loop would be ordered by the toolkit's own locks, which a thread sanitizer cannot
// see, and a look every 10 ms costs nothing beside the work waited for.
void RunUntil(const std::atomic<bool>& finished, QEventLoop::ProcessEventsFlags flags) {
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (finished) loop.quit();
    });
    watch.start(10);
    if (!finished) loop.exec(flags);
}

} // namespace

void TfmMain::Choose() {
    TfmExperiments chooser(this);
    chooser.FillTree(QStringList{CatalogueRoot(), UserCatalogueFolder()});
    if (ShowChooser(chooser) != QDialog::Accepted) return;
    if (!Experiment) {
        Experiment = std::make_unique<tExperiment>();
        chooser.LoadExperiment(Experiment.get());
        RunAction(acExperimentConnect);
        BuildFrame(chooser.Description()->document());
    } else if (Prompts().MessageBox(this, LoadStr(sConfirmNewExperiment), LoadStr(sCaptionConfirm),
                                    tBoxIcon::Warning, bbYes | bbNo, bbYes) == bbYes) {
        CloseWork();
        FSensorLost = false;
        FWorkOpened = false;
        chooser.LoadExperiment(Experiment.get());
        RunAction(acExperimentConnect);
        BuildFrame(chooser.Description()->document());
    }
    setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
}

void TfmMain::CloseWork() {
    // The run measured ends as Stop ends it, the report is saved, and the runs leave the table.
    RunAction(acExperimentStop);
    SaveReport();
    Work.reset();
    FWorkFailed = false;
    Runs.Clear();
}

void TfmMain::BuildFrame(const QTextDocument* description) {
    if (Frame) {
        Frame->setParent(nullptr);
        delete Frame;
        Frame = nullptr;
    }
    const tExperiment& e = *Experiment;
    Frame = IsPulseSensor(e.SensorName) ? new TfrPulse(this, e.TwiceMarker)
                                        : new TfrExperiment(this, e.TwiceMarker);
    ShowValueLabel(false);
    lbStart->hide();
    // The elapsed time of another experiment's run is not this one's.
    StatusPanels[1]->clear();
    Frame->SetUp(e, description);
    Frame->OnResultsChanged = [this] { Guarded([this] { SaveAnalysis(); }); };
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
    connect(Frame->reReport->document(), &QTextDocument::contentsChanged, tmReportSave,
            qOverload<>(&QTimer::start));
    connect(Frame->pcMain, &QTabWidget::currentChanged, this, [this] { SaveReport(); });
    Frame->tvTable->Model()->SetRuns(&Runs);
    FClient->layout()->addWidget(Frame);
    SeriesIndex = 0;
    Frame->ActiveSeries = 0;
    LoadCollection();
    ShowCollectionStatus();
}

void TfmMain::Connect() {
    if (Device) Disconnect();
    if (!Experiment) {
        acExperimentConnect->setChecked(false);
        ShowWarningBox(this, LoadStr(sChooseExperimentFirst));
        return;
    }
    if (IsNoSensor(Experiment->SensorName)) {
        acExperimentConnect->setChecked(false);
        return;
    }
    const QString wanted = Experiment->SensorName;
    tSearchResult result = SearchSensor(wanted);
    Device = std::move(result.Device);
    const QStringList& searched = result.Searched;
    const bool ftdiMissing = result.FtdiMissing;
    acExperimentConnect->setChecked(Device != nullptr);
    if (Device) FSensorLost = false;
    if (Device) StatusPanels[0]->clear();
    if (Device) {
        Device->SetFreq(0, Experiment->Freq);
        return;
    }
    // On Linux FTDI sensors usually work as serial ports without the D2XX library: its absence matters only
    // when no link found the sensor, and is said once a program run.
    if (ftdiMissing && !FFtdiWarned) {
        FFtdiWarned = true;
        ShowWarningBox(
            this, QStringLiteral("Была предпринята попытка работы с датчиками через интерфейс FTDI, при этом "
                                 "драйверы установлены не были.\r\nПодключите датчик к ПК, дождитесь "
                                 "установки драйвера и повторите попытку."));
    }
    ShowWarningBox(
        this, QStringLiteral("Не найден датчик для проведения эксперимента.\r\nДатчик «%1» не найден (%2).")
                  .arg(wanted, searched.isEmpty()
                                   ? QStringLiteral("все способы подключения выключены")
                                   : QStringLiteral("искали: ") + searched.join(QStringLiteral(", "))));
}

TfmMain::tSearchResult TfmMain::SearchSensor(const QString& wanted) {
    // The searches run in the order FTDI, COM, HID on a thread of their own, while the window shows that it
    // works: a small modal box with the link being searched, the clock going on, nothing else running.
    tSettings* settings = FSettings.get();
    const bool useFtdi = settings->GetBool(QStringLiteral("UseFTDI"), true);
    const bool useCom = settings->GetBool(QStringLiteral("UseCDC"), false);
    const bool useHid = settings->GetBool(QStringLiteral("UseHID"), true);
    tSearchResult result;
    std::atomic<int> link{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            if (useFtdi) {
                link = 1;
                result.Searched << QStringLiteral("FTDI");
                result.Device = FindFTDISensor(wanted, settings);
                result.FtdiMissing = !result.Device && !GetFTDILibrary().IsLoaded();
            }
            if (!result.Device && useCom) {
                link = 2;
                result.Searched << QStringLiteral("COM");
                result.Device = FindCOMSensor(wanted, settings);
            }
            if (!result.Device && useHid) {
                link = 3;
                result.Searched << QStringLiteral("HID");
                result.Device = FindHIDSensor(wanted, settings);
            }
        } catch (const Exception& e) {
            WriteLog(e.Message());
        } catch (const std::exception& e) {
            WriteLog(ErrorText(e));
        }
        finished = true;
    });
    FBusy = true;
    UpdateActions();
    QDialog box(this);
    box.setWindowTitle(QString::fromUtf8(kApplicationTitle));
    box.setWindowModality(Qt::WindowModal);
    box.setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto* layout = new QVBoxLayout(&box);
    auto* title = new QLabel(QStringLiteral("Поиск датчика «%1»…").arg(wanted));
    auto* where = new QLabel;
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    layout->addWidget(title);
    layout->addWidget(busy);
    layout->addWidget(where);
    SearchBox = &box;
    static const char* const kLinks[] = {"", "FTDI", "COM", "HID"};
    QTimer poll;
    const auto show = [&] {
        where->setText(QStringLiteral("Подключение: %1").arg(QString::fromLatin1(kLinks[link.load()])));
    };
    connect(&poll, &QTimer::timeout, &box, show);
    show();
    poll.start(100);
    box.show();
    RunUntil(finished, QEventLoop::ExcludeUserInputEvents);
    worker.join();
    SearchBox = nullptr;
    FBusy = false;
    return result;
}

void TfmMain::Disconnect() {
    RunAction(acExperimentStop);
    Device.reset();
    acExperimentConnect->setChecked(false);
}

void TfmMain::Start() {
    // A start delay counts down first; Стоп cancels it.
    if (Collection.StartDelay > 0 && !FCountingDown) {
        FCountingDown = true;
        FCountdownEnd = Counter() + std::int64_t(Collection.StartDelay * double(PerfFrequency));
        tmMeasure->start();
        ShowCollectionStatus();
        return;
    }
    FCountingDown = false;
    SeriesIndex = Frame->BeginMeasurement(*Experiment);
    // A run of its own: the line just cleared draws it, the table shows it, the work folder keeps it.
    auto run = std::make_shared<tRun>();
    run->Experiment = Experiment->Name;
    run->Sensor = Experiment->SensorName;
    run->Start = QDateTime::currentDateTime();
    run->CaptionX = Experiment->CaptionX;
    run->CaptionY = Experiment->CaptionY;
    run->FormatX = Experiment->FormatX;
    run->FormatY = Experiment->FormatY;
    run->Period = Experiment->Period();
    run->Line = SeriesIndex;
    run->Points = Frame->chMain->Series(SeriesIndex)->Series();
    // The new run is the chosen one while it is measured.
    Runs.Choose(-1);
    Runs.Add(run);
    FSamples = 0;
    FLiveValue.reset();
    FCollector.emplace(Collection, double(Experiment->Period()) / 1e6);
    // The moments kept before a trigger are drawn left of t = 0.
    if (Collection.Trigger && Collection.PreTrigger > 0)
        Frame->chMain->SetBottomRange(Experiment->MinX - Collection.PreTrigger,
                                      Experiment->MaxX - Collection.PreTrigger);
    FMeasured = run;
    if (!FWorkFailed) {
        try {
            EnsureWork().BeginRun(run);
            // How it is collected, kept with the work.
            Work->SetListKeys(QStringLiteral("Collection."), CollectionLines(Collection));
        } catch (const Exception& e) {
            WorkFailed(e.Message());
        }
    }
    ShowValueLabel(false);
    for (auto& channel : Channels) std::vector<double>().swap(channel);
    if (Device) Device->StartMeasure(0);
    CurrentChannel = 0;
    MeasureStart = Counter();
    tmMeasure->start();
}

void TfmMain::Stop() {
    tmMeasure->stop();
    if (FCountingDown) {
        // The countdown is cancelled: no run was started.
        FCountingDown = false;
        ShowCollectionStatus();
        return;
    }
    if (Device) {
        // What the sensor sent up to the stop or the loss is drawn before the thread goes. A broken packet
        // stops the run from inside a tick: what is queued behind it is dropped.
        if (!FInTick) {
            Device->EndMeasureThread();
            Tick(true);
        }
        Device->Stop();
    }
    if (Frame) Frame->EndMeasurement();
    // A run that measured nothing (a start that failed, a stop at once) is no run: not in the table, not on
    // the disk.
    const bool empty = FMeasured && FMeasured->Points->Count() == 0;
    if (empty && Runs.Count() > 0 && Runs.Shared(Runs.Count() - 1) == FMeasured) Runs.RemoveLast();
    FMeasured.reset();
    FCollector.reset();
    ShowCollectionStatus();
    if (Work) {
        try {
            if (empty)
                Work->DropRun();
            else
                Work->EndRun();
        } catch (const Exception& e) {
            WorkFailed(e.Message());
        }
    }
    SaveReport();
}

tWorkFolder& TfmMain::EnsureWork() {
    if (!Work) Work = tWorkFolder::Create(Experiment->Name, Experiment->Path);
    return *Work;
}

void TfmMain::SaveReport() {
    if (!Frame || !Experiment || FWorkFailed || FBusy) return;
    QTextDocument* report = Frame->reReport->document();
    if (!Work && !report->isModified()) return;
    try {
        EnsureWork().SaveReport(WriteRtf(*report));
        report->setModified(false);
    } catch (const Exception& e) {
        WorkFailed(e.Message());
    }
}

void TfmMain::WorkFailed(const QString& reason) {
    WriteLog(reason);
    Work.reset();
    if (FWorkFailed) return;
    FWorkFailed = true;
    ShowWarningBox(this, QStringLiteral("Измерения и отчёт этого эксперимента не сохраняются на диск.\r\n") +
                             reason);
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
    // Everything is read before anything is replaced: a folder that cannot be read leaves the window as it
    // was.
    tRunStore loaded;
    const tOpenedWork opened = ReadWork(path, loaded);
    WriteLog(QStringLiteral("Open work: ") + path);
    CloseWork();
    if (Device) Disconnect();
    auto experiment = std::make_unique<tExperiment>();
    const QString name = opened.ExperimentName.isEmpty() ? QDir(path).dirName() : opened.ExperimentName;
    LoadExperimentFolder(*experiment, name, path + u'/', this);
    Experiment = std::move(experiment);
    BuildFrame(nullptr);
    int last = -1;
    std::vector<std::shared_ptr<tRun>> runs;
    for (int i = 0; i < loaded.Count(); ++i) {
        std::shared_ptr<tRun> run = loaded.Shared(i);
        run->FormatX = Experiment->FormatX;
        run->FormatY = Experiment->FormatY;
        run->Period = Experiment->Period();
        run->Line = std::min(run->Line, Frame->chMain->SeriesCount() - 1);
        runs.push_back(run);
        // The newest run of each line is drawn, as after Стоп.
        Frame->chMain->Series(run->Line)->SetSeries(run->Points);
        last = run->Line;
    }
    // All at once: the table lays itself out once, not once a run.
    Runs.Add(std::move(runs));
    if (last >= 0) SeriesIndex = Frame->ActiveSeries = last;
    // The run chosen and how runs were collected, as the work was left.
    tSettings list(false);
    list.SetLines(opened.ListLines);
    const int chosen = list.GetInt(QStringLiteral("Chosen"), 0);
    for (int i = 0; i < Runs.Count(); ++i)
        if (chosen > 0 && Runs.Run(i).Number == chosen) Runs.Choose(i);
    QStringList kept;
    for (const QString& line : opened.ListLines)
        if (line.startsWith(QStringLiteral("Collection."), Qt::CaseInsensitive)) kept << line.mid(11);
    if (!kept.isEmpty()) {
        tSettings collection(false);
        collection.SetLines(kept);
        Collection = ReadCollection(collection, Collection);
    }
    RunsChanged();
    // The pulse work's rates are made again from its wave, as they were made while it was measured.
    if (auto* pulse = dynamic_cast<TfrPulse*>(Frame)) {
        const std::int64_t period = Experiment->Period();
        pulse->RebuildRates(*Experiment, period > 0 ? int(std::max<std::int64_t>(1, 100000 / period)) : 1);
    }
    Work = std::make_unique<tWorkFolder>(path, opened.RunFiles, opened.ListLines);
    FSensorLost = false;
    FWorkOpened = true;
    setWindowTitle(QString::fromUtf8(kApplicationTitle) + QStringLiteral(" - ") + Experiment->Name);
    Frame->Redraw();
    LoadAnalysis(path);
    QStringList said;
    if (!opened.Rebuilt.isEmpty())
        said << QStringLiteral("Список опытов работы (work.txt) отсутствовал или был повреждён; опыты "
                               "восстановлены по файлам измерений: ") +
                    opened.Rebuilt.join(QStringLiteral(", ")) + u'.';
    if (!opened.Skipped.isEmpty())
        said << QStringLiteral("Не всё удалось прочитать из сохранённой работы:\r\n") +
                    opened.Skipped.join(QStringLiteral("\r\n"));
    if (!said.isEmpty()) ShowWarningBox(this, said.join(QStringLiteral("\r\n\r\n")));
}

tOpenedWork TfmMain::ReadWork(const QString& path, tRunStore& loaded) {
    // The folder is read on a thread of its own while the window shows how far it got and can cancel; nothing
    // else runs meanwhile.
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{1};
    std::atomic<bool> cancelled{false};
    tOpenedWork opened;
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    const QString text = QStringLiteral("Открытие работы «%1»…").arg(QDir(path).dirName());
    if (!Prompts().Progress(this, text, 0, 1000)) cancelled = true;
    std::thread worker([&] {
        try {
            opened = ReadWorkFolder(path, loaded, [&](qint64 now, qint64 all) {
                done = now;
                total = std::max<qint64>(1, all);
                return !cancelled.load();
            });
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    FBusy = true;
    UpdateActions();
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!cancelled && !Prompts().Progress(this, text, int(done * 1000 / total), 1000)) cancelled = true;
    });
    poll.start(100);
    RunUntil(finished, QEventLoop::AllEvents);
    worker.join();
    poll.stop();
    if (!cancelled) Prompts().Progress(this, text, 1000, 1000);
    FBusy = false;
    if (failure) std::rethrow_exception(failure);
    return opened;
}

void TfmMain::MarkPoint() {
    if (!Frame || SeriesIndex >= Frame->chMain->SeriesCount()) return;
    // The label belongs to the moment the teacher asked for it: the first point measured after the box
    // opened, although the chart goes on while the box is open.
    const std::shared_ptr<tPointSeries> run = Frame->chMain->Series(SeriesIndex)->Series();
    FMarkAt = run->Count();
    acExperimentMarkPoint->setChecked(true);
    Frame->AskPointLabel();
    acExperimentMarkPoint->setChecked(false);
    const int at = std::exchange(FMarkAt, -1);
    const bool sameRun = tmMeasure->isActive() && Frame->chMain->Series(SeriesIndex)->Series() == run;
    if (sameRun && run->Count() > at && !Frame->PointLabel.isEmpty()) {
        run->SetLabel(at, Frame->TakePointLabel());
        Frame->chMain->replot();
        Runs.Changed();
    }
    // The points held back from the disk while the box was open.
    if (Work && sameRun) {
        try {
            Work->AppendPoints();
        } catch (const Exception& e) {
            WorkFailed(e.Message());
        }
    }
}

void TfmMain::StopNotice(const QString& text, bool lost) {
    RunAction(acExperimentStop);
    // A sensor that is gone is let go: Подключение is released and Пуск waits until it is found again (a
    // start on the gone sensor would only fail and leave an empty run).
    if (lost && Device) {
        Device.reset();
        FSensorLost = true;
        acExperimentConnect->setChecked(false);
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
        return true;
    if (type == WM_MEASURE_SEND_ERROR) {
        StopNotice(LoadStr(sSendError));
        return true;
    }
    if (type == WM_MEASURE_RECV_ERROR) {
        const auto* message = dynamic_cast<tAppMessage*>(event);
        StopNotice(LoadStr(sReceiveError), message && message->WParam == 2);
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
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
