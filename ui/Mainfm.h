// The main window: menus, tool bar, status bar, the experiment workflow and the live display of a
// measurement.
#pragma once

#include "analysis/Results.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "measure/Collection.h"
#include "measure/ValueStream.h"
#include "runs/Runs.h"
#include "runs/WorkFolder.h"
#include "ui/WindowState.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QTextDocument;
class QTimer;
class QToolBar;
class QPrinter;
class QWidget;
class tDevice;
class tExperiment;
class tSessionEnd;
class tStatusPanel;
class TChart;
class TComponentUSB;
class TfmExperiments;
class TfmSpectrum;
class TfmCollection;
class TRunsPanel;
class TBigDigits;
class TfrExperiment;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    // Loads the settings from the .cfg beside the executable; a missing file raises message 1004.
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    tSettings& Settings() { return *FSettings; }

    // Brings the window forward for a second copy of the program: a minimised window comes back in the
    // state it had, then it is raised and activated.
    void RestoreAndRaise();

    // The session asks whether the program may end (log-off): nothing is asked of the user until the question
    // comes back, which it does when the log-off was cancelled.
    void SessionEndQueried();

    // Runs an action as a click does: its enabling rule is evaluated first.
    void RunAction(QAction* action);
    // Runs a command; an error that escapes it is shown in the error box and the program goes on.
    void Guarded(const std::function<void()>& command);
    // The enabling and check rules, evaluated whenever the application is idle.
    void UpdateActions();
    // Where the lesson stands, and the action of each command.
    tWindowState State() const;
    QAction* Command(tCommand command) const;

    // One tick of the live display (the 100 ms timer).
    void tmMeasureTimer();
    // A tick; the last one of a run (`last`) draws what the ended thread left, the waiting block included.
    void Tick(bool last);
    // Decodes one packet's payload into the channels; a lost sensor posts WM_SENSOR_LOST.
    void DecodeValueStream(const std::vector<std::uint8_t>& payload);

    // Opens a saved work folder: its experiment without a sensor, its runs on the chart and in the table, its
    // report. Asks first when an experiment is open.
    void OpenWork(const QString& path);

    // The state the workflow works on.
    std::unique_ptr<tExperiment> Experiment;
    // Every run of the current experiment, and the folder they are written to as they are measured.
    tRunStore Runs;
    std::unique_ptr<tWorkFolder> Work;
    std::unique_ptr<tDevice> Device;
    TfrExperiment* Frame = nullptr;
    tChannels Channels;
    int CurrentChannel = 0;
    int SeriesIndex = 0;
    std::int64_t PerfFrequency = 0;
    std::int64_t MeasureStart = 0;

    QAction* acFileExit = nullptr;
    QAction* acFileOpenWork = nullptr;
    QAction* acHelpAbout = nullptr;
    QAction* acViewToolBar = nullptr;
    QAction* acViewStatusBar = nullptr;
    QAction* acViewShowAll = nullptr;
    QAction* acExperimentConnect = nullptr;
    QAction* acExperimentChoose = nullptr;
    QAction* acExperimentStart = nullptr;
    QAction* acExperimentStop = nullptr;
    QAction* acExperimentMarkPoint = nullptr;
    QAction* acFileExport = nullptr;
    QAction* acFilePrint = nullptr;
    QAction* acFilePrintSetup = nullptr;
    QAction* acFilePageSetup = nullptr;
    QAction* acFileAddImage = nullptr;
    // The Анализ menu (its menu action is the command that enables it) and its commands.
    QMenu* mnAnalysis = nullptr;
    QMenu* mnAnalysisFit = nullptr;
    QAction* acAnalysisStatistics = nullptr;
    QAction* acAnalysisSlope = nullptr;
    QAction* acAnalysisArea = nullptr;
    QAction* acAnalysisSpectrum = nullptr;
    QAction* acAnalysisToReport = nullptr;
    QAction* acAnalysisClear = nullptr;
    std::array<QAction*, 6> acAnalysisFit{};
    // The spectrum window, made the first time a spectrum is shown.
    TfmSpectrum* fmSpectrum = nullptr;
    // Runs compared (Вид → Опыты), how runs are collected (Параметры сбора), and the big digits (F11).
    QAction* acViewRuns = nullptr;
    QAction* acViewBigDigits = nullptr;
    QAction* acExperimentCollection = nullptr;
    TRunsPanel* dkRuns = nullptr;
    TBigDigits* BigDigits = nullptr;
    // How the next run is collected: the experiment's defaults, the user's own settings over them.
    tCollection Collection;
    // Tests answer the dialog.
    std::function<int(TfmCollection& dialog)> ShowCollectionDialog;
    // The run chosen in the runs panel, shown and hidden, renamed, deleted (asked first).
    void ChooseRun(int run);
    void ShowRun(int run, bool shown);
    void RenameRun(int run, const QString& name);
    void DeleteRun(int run);
    // While a countdown before the start runs.
    bool CountingDown() const { return FCountingDown; }

    QWidget* pnToolBar = nullptr;
    QToolBar* tlbMain = nullptr;
    QToolBar* tlbExit = nullptr;
    QLabel* lb = nullptr;
    tStatusPanel* StatusPanels[3] = {};
    QTimer* tmTime = nullptr;
    QTimer* tmMeasure = nullptr;
    QTimer* tmReportSave = nullptr;
    QTimer* tmCloseQueryBack = nullptr;
    QLabel* lbStart = nullptr;
    // The box shown while the searches run (null otherwise); no command runs meanwhile.
    QDialog* SearchBox = nullptr;
    TComponentUSB* usb = nullptr;

    // Tests replace these: how the chooser is shown, and the counter behind the elapsed time.
    std::function<int(TfmExperiments& chooser)> ShowChooser;
    std::function<std::int64_t()> Counter;
    // Whether the system has any printer; tests answer it.
    std::function<bool()> PrintersInstalled;

    // The value label in the tool bar, and its text (its fields, joined by tabs, shown with clear spacing).
    void ShowValueLabel(bool visible);
    void ShowLabelText(const QString& text);
    bool ValueLabelVisible() const;

    // The catalogue folder beside the executable, ending in "/".
    QString CatalogueRoot() const;
    // The printer the File commands use; its page settings are remembered between showings.
    QPrinter& Printer();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Hints go to the first panel of the status bar, never over the elapsed time and the clock.
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateAnalysisActions();
    // The region's analysis of the chosen kind on the current run's line: its box on the chart, kept in the
    // work.
    void Analyse(tAnalysisKind kind, tFitModel model = tFitModel::Line);
    // The newest result as a row of the report's table of results.
    void ResultToReport();
    void ClearResults();
    void SaveAnalysis();
    // The runs wiring: the panel's actions, the chart, the table and the panel following the store.
    void CreateRunActions();
    void RunsChanged();
    void SaveRunViews();
    // Параметры сбора: the dialog, the settings read for an experiment and kept for the user, the status bar.
    void CreateCollectionActions();
    void CollectionCommand();
    void LoadCollection();
    void SaveCollection();
    void ShowCollectionStatus();
    void ShowBigDigits(bool on);
    // The value just measured, in the tool bar and the big digits.
    void ShowLiveValue(double y);
    // The spectrum of the result's region of the points x, y in its window.
    void ShowSpectrum(const tAnalysisResult& result, std::span<const double> x, std::span<const double> y);
    void LoadAnalysis(const QString& folder);
    void CreateToolBar();
    void CreateStatusBar();
    void LayoutStatusPanels();

    // The close query: asks 5003 while installed; log-off removes it.
    bool FormCloseQuery();

    // The workflow's commands.
    void Choose();
    void Connect();
    void Disconnect();
    void Start();
    void Stop();
    void MarkPoint();
    void BuildFrame(const QTextDocument* description);
    // A notice that ends a run: Stop, then the box; `lost`: the sensor is gone and is let go.
    void StopNotice(const QString& text, bool lost = false);
    // The three searches, off the window's thread while a box shows that they work.
    struct tSearchResult {
        std::unique_ptr<tDevice> Device;
        QStringList Searched;
        bool FtdiMissing = false;
    };
    tSearchResult SearchSensor(const QString& wanted);

    // Before another experiment is opened: the run measured is stopped, the report saved, the runs let go.
    void CloseWork();
    // The work folder of the experiment, made on first need; raises when it cannot be.
    tWorkFolder& EnsureWork();
    // Writes the report into the work folder when it was changed or a work folder exists.
    void SaveReport();
    // A failure to write the work folder: said once per experiment; measuring goes on.
    void WorkFailed(const QString& reason);
    void OpenWorkCommand();
    // Reads a work folder off the window's thread, with a progress box that can cancel (EAbort then).
    tOpenedWork ReadWork(const QString& path, tRunStore& loaded);
    // The elapsed time in panel 1; the tick shows it when it is done with its points, together with the
    // clock and with everything else it changed.
    void ShowElapsed(bool paintNow);
    // The time of day in panel 2, when its second has changed.
    void ShowTime();

    // Export, print and pictures (the File commands).
    // The save dialog, started in the folder used last (else the documents folder) with a name made of the
    // experiment, `what` is saved and the day.
    // The file dialog over `parent` (the main window when none).
    QString AskSaveName(tFileDialogOptions options, const QString& what, QWidget* parent = nullptr);
    void Export();
    // The charts to a picture (the first of them) or a PDF page, the file named after `what`; its dialog over
    // `parent`.
    void ExportCharts(const std::vector<TChart*>& charts, const QString& what, QWidget* parent = nullptr);
    // The print dialog, after checking there is a printer to print on; false when nothing is to be printed.
    bool AskPrint(QWidget* parent);

    std::function<bool(int done, int pages)> TableProgress();
    void Print();
    void PrintSetup();
    void PageSetup();
    void AddImage();

    bool FCloseQueryInstalled = true;
    bool FInTick = false;
    // The second of the day that the clock panel shows (seconds since the epoch).
    qint64 FShownSecond = -1;
    bool FWorkFailed = false;
    bool FFtdiWarned = false;
    // The sensor searches or the reading of a work run off the window's thread: every command waits.
    bool FBusy = false;
    // The last run ended because the sensor stopped answering, and the sensor was let go.
    bool FSensorLost = false;
    // The experiment open is a saved work.
    bool FWorkOpened = false;
    // The run being measured, from Пуск to Стоп.
    std::shared_ptr<tRun> FMeasured;
    // What the run records of the points the sensor sends, the points sent so far, a countdown's end.
    std::optional<tCollector> FCollector;
    std::vector<tCollectedPoint> FCollected;
    std::int64_t FSamples = 0;
    std::optional<double> FLiveValue;
    bool FCountingDown = false;
    std::int64_t FCountdownEnd = 0;
    // While the point-label box is open: the index of the first point measured since it opened.
    int FMarkAt = -1;
    // The folders the File commands' dialogs used last in this program run.
    QString FLastFolder;
    QString FLastPictureFolder;
    std::array<QAction*, kCommandCount> FCommands{};
    std::unique_ptr<tSettings> FSettings;
    std::unique_ptr<QPrinter> FPrinter;
    QWidget* FClient = nullptr;
    QAction* FLabelAction = nullptr;
    tSessionEnd* FSessionEnd = nullptr;
    QMetaObject::Connection FIdle;
};

// The one main window while it exists.
extern TfmMain* fmMain;
