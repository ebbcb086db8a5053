// The main window: menus, tool bar, status bar, the experiment workflow and the live display of a
// measurement. The lesson below it holds the runs, the results and how runs are collected; the window asks it
// to act and shows what it announces.
#pragma once

#include "core/Settings.h"
#include "ui/WindowState.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QTextDocument;
class QTimer;
class QToolBar;
class QWidget;
class tAcquisition;
class tDevice;
class tExperiment;
class tLesson;
class tPageOutput;
class tSessionEnd;
class tStatusPanel;
class tReadingsPanel;
class tValueLabel;
class TAnalysisMenu;
class TBigDigitsView;
class TComponentUSB;
class TEventEntry;
class TSensorReading;
class TfrExperiment;
class TRunsPanel;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    // Loads the settings from the .cfg beside the executable; a missing file raises message 1004.
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    tSettings& Settings() { return *FSettings; }
    // The lesson the window shows: its runs, results and collection.
    tLesson& Lesson() { return *FLesson; }
    // The sensor connected and its stream, feeding the lesson.
    tAcquisition& Acquisition() { return *FAcquisition; }
    // The sensor connected; null when none is.
    tDevice* Device() const;

    // Brings the window forward for a second copy of the program: a minimised window comes back in the
    // state it had, then it is raised and activated.
    void RestoreAndRaise();
    // Runs an action as a click does: its enabling rule is evaluated first.
    void RunAction(QAction* action);
    // Runs a command; an error that escapes it is shown in the error box and the program goes on.
    void Guarded(const std::function<void()>& command);
    // The enabling and check rules, evaluated whenever the application is idle.
    void UpdateActions();

    // One tick of the live display (the 100 ms timer).
    void tmMeasureTimer();

    // Opens a saved work folder: its experiment without a sensor, its runs, results and report. Asks first
    // when an experiment is open.
    void OpenWork(const QString& path);

    // The state the workflow works on.
    std::unique_ptr<tExperiment> Experiment;
    TfrExperiment* Frame = nullptr;
    int SeriesIndex = 0;
    std::int64_t PerfFrequency = 0;
    std::int64_t MeasureStart = 0;

    QAction* acFileExit = nullptr;
    QAction* acHelpAbout = nullptr;
    QAction* acViewToolBar = nullptr;
    QAction* acViewStatusBar = nullptr;
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

    QWidget* pnToolBar = nullptr;
    QToolBar* tlbMain = nullptr;
    QToolBar* tlbExit = nullptr;
    tValueLabel* lb = nullptr;
    // The status bar's three panels: hints, the elapsed time, the clock.
    tStatusPanel* StatusPanels[3] = {};
    QTimer* tmTime = nullptr;
    QTimer* tmMeasure = nullptr;
    TComponentUSB* usb = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Hints go to the first panel of the status bar, never over the elapsed time and the clock.
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QAction* MakeAction(const char* name, const char* icon, const QString& caption, const QString& hint);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void LayoutStatusPanels();
    tWindowState State() const;

    // The session asks whether the program may end (log-off): nothing is asked of the user until the question
    // comes back, which it does when the log-off was cancelled.
    void SessionEndQueried();
    // The close query: asks 5003 while installed; log-off removes it.
    bool FormCloseQuery();

    // The workflow's commands.
    void Choose();
    // An experiment of the catalogue by its path there ("Физика/Оптика/…"), as a teacher offers it.
    void OpenOffered(const QString& path);
    void Connect();
    void Disconnect();
    void Start();
    void Stop();
    void MarkPoint();
    void BuildFrame(const QTextDocument* description);
    // A notice that ends a run: Stop, then the box; `lost`: the sensor is gone and is let go.
    void StopNotice(const QString& text, bool lost = false);
    // Runs `work` off the window's thread while the window waits (with the user's input when `input`), every
    // command with it; `poll` every 100 ms meanwhile.
    void RunBusy(const std::function<void()>& work, const std::function<void()>& poll, bool input = false);
    // Before another experiment is opened: the run measured is stopped, the report saved.
    void CloseWork();
    // Writes the report into the work folder when it was changed or a work folder exists.
    void SaveReport();
    void OpenWorkCommand();
    // A tick: the sensor's values into the lesson, which the views follow, then the times; the last one of a
    // run (`last`) takes what the ended thread left, the waiting block included.
    void Tick(bool last);
    // The elapsed time in panel 1; the tick shows it when it is done with its points, together with the
    // clock and with everything else it changed.
    void ShowElapsed(bool paintNow);
    void ShowTime();  // the time of day in panel 2, when its second has changed
    void TurnClock(); // shows the time and sets the clock's timer for the next second
    // The value label in the tool bar, and its text (fields joined by tabs, shown with clear spacing).
    void ShowValueLabel(bool visible);
    void ShowLabelText(const QString& text);
    // What the value label shows: a run's newest value, a marker's reading, or nothing of either.
    enum class tLabelShows { Nothing, Value, Marker };
    // The newest value of a run in the value label, as the lesson announces it; a sensor gone shows none.
    void ShowNewestValue();
    void CollectionCommand(); // Параметры сбора, and the status bar's word on it
    void ShowCollectionStatus();
    double Now() const; // seconds on the counter behind elapsed times

    // Export, print and pictures (the File commands).
    void Export();
    void Print();
    void PrintSetup();
    void PageSetup();
    void AddImage();

    std::unique_ptr<tSettings> FSettings;
    tLesson* FLesson = nullptr;
    tAcquisition* FAcquisition = nullptr;
    std::unique_ptr<tPageOutput> FOutput;
    // Commands beyond the first program's: a saved work, Показать всё, the runs panel, big digits,
    // collection.
    QAction* acFileOpenWork = nullptr;
    QAction* acViewShowAll = nullptr;
    QAction* acViewRuns = nullptr;
    QAction* acViewBigDigits = nullptr;
    QAction* acExperimentCollection = nullptr;
    TAnalysisMenu* mnAnalysis = nullptr;
    TRunsPanel* dkRuns = nullptr;
    TBigDigitsView* BigDigits = nullptr;
    TEventEntry* FEventEntry = nullptr;
    TSensorReading* FReading = nullptr;
    QTimer* tmReportSave = nullptr;
    QTimer* tmCloseQueryBack = nullptr;
    QLabel* lbStart = nullptr;
    tLabelShows FLabelShows = tLabelShows::Nothing;
    std::array<QAction*, kCommandCount> FCommands{};
    bool FCloseQueryInstalled = true;
    bool FInTick = false;
    // The sensor searches or the reading of a work run off the window's thread: every command waits.
    bool FBusy = false;
    bool FFtdiWarned = false;
    // The second of the day that the clock panel shows (seconds since the epoch).
    qint64 FShownSecond = -1;
    QWidget* FClient = nullptr;
    tReadingsPanel* FReadings = nullptr;
    tSessionEnd* FSessionEnd = nullptr;
    QMetaObject::Connection FIdle;
};

// The one main window while it exists.
extern TfmMain* fmMain;
