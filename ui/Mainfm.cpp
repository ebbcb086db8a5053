// The main window's construction: actions with their images and rules, menus, tool bar, status bar, clock.
#include "ui/Mainfm.h"

#include "acquisition/Acquisition.h"
#include "core/AppMessages.h"
#include "core/CommandLine.h"
#include "core/LocaleFormats.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Componentusb.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "platform/SessionEnd.h"
#include "ui/AboutBox.h"
#include "ui/AnalysisMenu.h"
#include "ui/BigDigitsView.h"
#include "ui/ClassMenu.h"
#include "ui/DialogPrompts.h"
#include "ui/EventEntry.h"
#include "ui/Experimentfr.h"
#include "ui/PageOutput.h"
#include "ui/RunsPanel.h"
#include "ui/SensorReading.h"
#include "widgets/Icons.h"
#include "widgets/ReadingsPanel.h"
#include "widgets/StatusPanel.h"
#include "widgets/ValueLabel.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

TfmMain* fmMain = nullptr;

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent) {
    // Tahoma where it is installed, else the closest sans-serif face the system has.
    QFont face(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                           QStringLiteral("Liberation Sans")});
    face.setStyleHint(QFont::SansSerif);
    face.setPointSize(9);
    setFont(face);
    SetDefaultPrompts(&DialogPrompts());
    resize(650, 328);
    FLesson = new tLesson(this);
    FAcquisition = new tAcquisition(*FLesson, this);
    FOutput = std::make_unique<tPageOutput>();
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    // What the window shows of the lesson itself: how runs are collected, the newest value, a work that
    // cannot be written.
    connect(FLesson, &tLesson::collectingChanged, this, [this] { ShowCollectionStatus(); });
    connect(FLesson, &tLesson::valueMeasured, this, [this] { ShowNewestValue(); });
    // Another work: no reading of the last one's runs stays in the tool bar while the sensor is searched for.
    connect(FLesson, &tLesson::opened, this, [this] {
        ShowValueLabel(false);
        FLabelShows = tLabelShows::Nothing;
    });
    connect(FLesson, &tLesson::sensorStateChanged, this, [this] { ShowNewestValue(); });
    // Said while measuring goes on: the run, the clock and the chart do not wait for the box.
    connect(FLesson, &tLesson::workFailed, this, [this](const QString& reason) {
        Prompts().Notify(this,
                         QStringLiteral("Измерения и отчёт этого эксперимента не сохраняются на диск.\r\n") +
                             reason,
                         LoadStr(sCaptionWarning), tBoxIcon::Warning);
    });
    PerfFrequency = PerformanceFrequency();
    setWindowTitle(QString::fromUtf8(kApplicationTitle));

    FSessionEnd = new tSessionEnd(this);
    // Qt gives no notice when the session manager cancels a log-off: the close question comes back after a
    // while, long after a log-off that goes on would have ended the program.
    tmCloseQueryBack = new QTimer(this);
    tmCloseQueryBack->setObjectName(QStringLiteral("tmCloseQueryBack"));
    tmCloseQueryBack->setSingleShot(true);
    tmCloseQueryBack->setInterval(30000);
    connect(tmCloseQueryBack, &QTimer::timeout, this, [this] { FCloseQueryInstalled = true; });
    connect(FSessionEnd, &tSessionEnd::endQueried, this, &TfmMain::SessionEndQueried);
    connect(FSessionEnd, &tSessionEnd::endRequested, this, [this] { EndEveryPrompt(), close(); });

    // A lost sensor shows in its measurement; a device that arrives while the experiment's sensor is not
    // connected is only pointed out: connecting stays the user's choice.
    usb = new TComponentUSB(this);
    usb->OnUSBArrival = [this](QObject*) {
        if (Experiment && !Device() && FLesson->Sensor().Connects)
            StatusPanels[0]->setText(QStringLiteral("Датчик подключён. Нажмите «Подключение»."));
    };
    usb->OnUSBRemove = [](QObject*) {};

    // The clock turns with the second (just after it). While measuring, the tick shows it with its own paint
    // and the clock's timer rests (one wake a second less); Stop sets it going again.
    tmTime = new QTimer(this);
    tmTime->setSingleShot(true);
    tmTime->setTimerType(Qt::PreciseTimer);
    connect(tmTime, &QTimer::timeout, this, [this] {
        if (!tmMeasure->isActive()) TurnClock();
    });
    TurnClock();
    tmMeasure = new QTimer(this);
    tmMeasure->setInterval(100);
    connect(tmMeasure, &QTimer::timeout, this, [this] { Guarded([this] { tmMeasureTimer(); }); });
    // The report being typed reaches the disk a few seconds after the last key (and when the page is left, a
    // run ends, the window closes).
    tmReportSave = new QTimer(this);
    tmReportSave->setObjectName(QStringLiteral("tmReportSave"));
    tmReportSave->setSingleShot(true);
    tmReportSave->setInterval(3000);
    connect(tmReportSave, &QTimer::timeout, this, [this] { SaveReport(); });

    qApp->installEventFilter(this);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        FIdle = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfmMain::UpdateActions);
    UpdateActions();

    FSettings = std::make_unique<tSettings>(false);
    FSettings->Load(ChangeFileExt(ExecutablePath(), QStringLiteral(".cfg")));
    // The user's own settings, kept across upgrades of the program, override the shipped ones.
    const QString own = UserConfigFolder() + QStringLiteral("/zorbinka.cfg");
    if (const QStringList changed = OverlaySettings(*FSettings, own); !changed.isEmpty())
        WriteLog(QStringLiteral("Настройки пользователя из \"%1\": %2")
                     .arg(own, changed.join(QStringLiteral(", "))));
    fmMain = this;
}

TfmMain::~TfmMain() {
    disconnect(FIdle);
    qApp->removeEventFilter(this);
    // No thread outlives the window: a running measurement is stopped and the sensor released first.
    // A run still measured is ended as Stop ends it, so its last points reach the table and the disk.
    try {
        if (tmMeasure->isActive()) Stop();
        FAcquisition->EndReading();
    } catch (...) {
        // A destructor raises nothing: the sensor is released below all the same.
    }
    tmMeasure->stop();
    FAcquisition->Release();
    // The views go before the lesson they follow.
    delete Frame;
    Frame = nullptr;
    if (fmMain == this) fmMain = nullptr;
}

QAction* TfmMain::MakeAction(const char* name, const char* icon, const QString& caption,
                             const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (icon) action->setIcon(ToolIcon(QString::fromLatin1(icon)));
    // A hint is plain text: an ampersand meant as a menu mnemonic would show as it is.
    QString plain = hint;
    plain.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
    action->setToolTip(plain);
    action->setStatusTip(plain);
    // An action's hint reaches panel 0 through the status-tip events the window handles (event()).
    addAction(action);
    return action;
}

void TfmMain::CreateActions() {
    // The commands: their fields, pictures, captions, hints, shortcuts and what they do.
    const struct {
        QAction* TfmMain::*Field;
        const char* Name;
        const char* Icon;
        const char* Caption;
        const char* Hint;
        const char* Shortcut;
        void (TfmMain::*Command)();
    } commands[] = {
        {&TfmMain::acFileExit, "acFileExit", "exit", "&Выход...", "Выйти из программы", "Alt+X", nullptr},
        {&TfmMain::acFileOpenWork, "acFileOpenWork", nullptr, "&Открыть работу...",
         "Открыть сохранённые измерения и отчёт", "Ctrl+O", &TfmMain::OpenWorkCommand},
        {&TfmMain::acHelpAbout, "acHelpAbout", "about", "&О программе...",
         "Вывести информацию о программе, разработчике и авторских правах", nullptr, nullptr},
        {&TfmMain::acViewToolBar, "acViewToolBar", nullptr, "&Панель инструментов",
         "Показать/спрятать панель инструментов", nullptr, nullptr},
        {&TfmMain::acViewStatusBar, "acViewStatusBar", nullptr, "&Строка состояния",
         "Позазать/спрятать строку состояния", nullptr, nullptr},
        {&TfmMain::acViewShowAll, "acViewShowAll", nullptr, "Показать &всё",
         "Показать оси эксперимента и все измерения целиком", "Ctrl+0", nullptr},
        {&TfmMain::acViewBigDigits, "acViewBigDigits", nullptr, "&Крупные цифры",
         "Текущее значение крупными цифрами на всё окно (Esc — вернуться)", "F11", nullptr},
        {&TfmMain::acExperimentConnect, "acExperimentConnect", "connect", "&Подключение",
         "Найти датчики и подключиться к ним", nullptr, nullptr},
        {&TfmMain::acExperimentChoose, "acExperimentChoose", "choose", "&Выбор эксперимента...",
         "Выбрать сценарий для проведения эксперимента", nullptr, &TfmMain::Choose},
        {&TfmMain::acExperimentStart, "acExperimentStart", "start", "&Пуск", "Запустить измерения", nullptr,
         &TfmMain::Start},
        {&TfmMain::acExperimentStop, "acExperimentStop", "stop", "&Стоп", "Остановить измерения", nullptr,
         &TfmMain::Stop},
        {&TfmMain::acExperimentMarkPoint, "acExperimentMarkPoint", "mark", "&Отметить точку....",
         "Отметить точку на графике", nullptr, nullptr},
        {&TfmMain::acExperimentCollection, "acExperimentCollection", "collection", "Параметры &сбора...",
         "Длительность опыта, задержка пуска и запуск по уровню сигнала", nullptr,
         &TfmMain::CollectionCommand},
        {&TfmMain::acFileExport, "acFileExport", "export", "&Экспорт...",
         "Экспортировать данные во внешний файл", nullptr, &TfmMain::Export},
        {&TfmMain::acFilePrint, "acFilePrint", "print", "&Печать...", "Напечатать содержимое текущей вкладки",
         "Ctrl+P", &TfmMain::Print},
        {&TfmMain::acFilePrintSetup, "acFilePrintSetup", nullptr, "Параметры печати...",
         "Изменить настройки печати", nullptr, &TfmMain::PrintSetup},
        {&TfmMain::acFilePageSetup, "acFilePageSetup", nullptr, "Параметры страницы...",
         "Изменить настройки страницы", nullptr, &TfmMain::PageSetup},
        {&TfmMain::acFileAddImage, "acFileAddImage", "addimage", "&Добавить изображение...",
         "&Добавить изображение из файла", nullptr, &TfmMain::AddImage},
    };
    for (const auto& c : commands) {
        QAction* action = MakeAction(c.Name, c.Icon, QString::fromUtf8(c.Caption), QString::fromUtf8(c.Hint));
        if (c.Shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(c.Shortcut)));
        if (const auto handler = c.Command)
            connect(action, &QAction::triggered, this,
                    [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        this->*c.Field = action;
    }
    connect(acHelpAbout, &QAction::triggered, this, [this] { ShowAbout(this); });
    acFileExit->setShortcuts({QKeySequence(QStringLiteral("Alt+X")), QKeySequence(QStringLiteral("Alt+Ч"))});
    mnAnalysis = new TAnalysisMenu(
        this, *FLesson, [this] { return Frame; }, *FOutput);
    dkRuns = new TRunsPanel(this, *FLesson);
    addDockWidget(Qt::RightDockWidgetArea, dkRuns);
    dkRuns->hide();
    acViewRuns = dkRuns->toggleViewAction();
    acViewRuns->setObjectName(QStringLiteral("acViewRuns"));
    acViewRuns->setText(QStringLiteral("&Опыты"));
    acViewRuns->setStatusTip(QStringLiteral("Показать/спрятать список опытов работы"));
    BigDigits = new TBigDigitsView(this, *FLesson, acViewBigDigits);
    FEventEntry = new TEventEntry(this, *FLesson);
    FReading = new TSensorReading(this, *FLesson, *FAcquisition);
    connect(FReading, &TSensorReading::lost, this, [this] {
        StopNotice(QStringLiteral("Датчик «%1» отключён.\r\nПодключите его и нажмите «Подключение».")
                       .arg(Experiment ? Experiment->SensorName : QString()),
                   true);
    });

    FCommands = {acFileExit,          acFileOpenWork,           acHelpAbout,
                 acViewToolBar,       acViewStatusBar,          acViewShowAll,
                 acExperimentConnect, acExperimentChoose,       acExperimentStart,
                 acExperimentStop,    acExperimentMarkPoint,    acFileExport,
                 acFilePrint,         acFilePrintSetup,         acFilePageSetup,
                 acFileAddImage,      mnAnalysis->menuAction(), acExperimentCollection,
                 acViewRuns,          acViewBigDigits};
    for (QAction* checkable :
         {acViewToolBar, acViewStatusBar, acExperimentConnect, acExperimentMarkPoint, acViewBigDigits})
        checkable->setCheckable(true);
    acViewToolBar->setChecked(true);
    acViewStatusBar->setChecked(true);

    connect(acFileExit, &QAction::triggered, this, &QWidget::close);
    connect(acViewToolBar, &QAction::triggered, this, [this](bool on) { pnToolBar->setVisible(on); });
    connect(acViewStatusBar, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(acViewShowAll, &QAction::triggered, this, [this] {
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
    });
    // The Connect button shows the state, not the click: the command decides whether it stays pressed.
    connect(acExperimentConnect, &QAction::triggered, this, [this] {
        acExperimentConnect->setChecked(Device() != nullptr);
        Guarded([this] { Connect(); });
    });
    connect(acExperimentMarkPoint, &QAction::triggered, this, [this] {
        acExperimentMarkPoint->setChecked(false);
        Guarded([this] { MarkPoint(); });
    });
}

void TfmMain::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addActions({acFileOpenWork, acFileExport});
    file->addSeparator();
    file->addAction(acFileAddImage);
    file->addSeparator();
    file->addActions({acFilePrintSetup, acFilePageSetup, acFilePrint});
    file->addSeparator();
    file->addAction(acFileExit);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
    view->addActions({acViewToolBar, acViewStatusBar});
    view->addSeparator();
    view->addActions({acViewShowAll, acViewRuns, acViewBigDigits, FReading->Action()});
    QMenu* experiment = menuBar()->addMenu(QStringLiteral("&Эксперимент"));
    experiment->addAction(acExperimentConnect);
    experiment->addSeparator();
    experiment->addAction(acExperimentChoose);
    experiment->addSeparator();
    experiment->addActions(
        {acExperimentStart, acExperimentStop, FEventEntry->Action(), acExperimentMarkPoint});
    experiment->addSeparator();
    experiment->addAction(acExperimentCollection);
    menuBar()->addMenu(mnAnalysis);
    menuBar()->addMenu(new TClassMenu(this, *FLesson, [this](const QString& path) { OpenOffered(path); }));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
    help->addAction(acHelpAbout);
}

void TfmMain::CreateToolBar() {
    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    pnToolBar = panel;
    pnToolBar->setFixedHeight(36);
    auto* layout = new QHBoxLayout(pnToolBar);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    tlbMain = new QToolBar;
    tlbExit = new QToolBar;
    for (QToolBar* bar : {tlbMain, tlbExit}) {
        bar->setIconSize(QSize(24, 24));
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    tlbMain->addAction(acExperimentChoose);
    tlbMain->addSeparator();
    tlbMain->addAction(acExperimentConnect);
    tlbMain->addSeparator();
    tlbMain->addAction(acHelpAbout);
    tlbMain->addSeparator();
    tlbMain->addActions({acExperimentStart, acExperimentStop, FEventEntry->Action(), acExperimentMarkPoint,
                         acExperimentCollection});
    tlbMain->addSeparator();
    tlbMain->addActions({acFileExport, acFilePrint});
    tlbMain->addSeparator();
    tlbMain->addAction(acFileAddImage);
    // The value label (a run's value, a marker's reading) and the sensor's reading between runs beside it, as
    // one item, so that both can be read at once even when the tool bar is short of room.
    QFont bold(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    bold.setPixelSize(17);
    bold.setBold(true);
    FReadings = new tReadingsPanel(bold);
    lb = new tValueLabel;
    for (tValueLabel* label : {lb, FReading->Label()}) {
        label->setContentsMargins(12, 0, 0, 0);
        FReadings->Add(label);
    }
    FReadings->SetAction(tlbMain->addWidget(FReadings));
    FReading->ShowIn(FReadings);
    tlbExit->addAction(acFileExit);
    for (QToolBar* bar : {tlbMain, tlbExit})
        for (QAction* action : bar->actions())
            if (QWidget* button = bar->widgetForAction(action); qobject_cast<QToolButton*>(button))
                button->setFixedSize(31, 30);
    layout->addWidget(tlbMain, 1);
    layout->addWidget(tlbExit, 0, Qt::AlignRight);
    // The tool bar panel across the top, the frame below it filling the rest.
    auto* central = new QWidget;
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);
    centralLayout->addWidget(pnToolBar);
    FClient = new QWidget;
    auto* clientLayout = new QVBoxLayout(FClient);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    // Before an experiment is chosen, the empty field says how to begin.
    lbStart = new QLabel(
        QStringLiteral("Чтобы начать, выберите эксперимент:\n"
                       "Эксперимент → Выбор эксперимента… или первая кнопка панели инструментов."));
    lbStart->setObjectName(QStringLiteral("lbStart"));
    lbStart->setAlignment(Qt::AlignCenter);
    QFont hint = lbStart->font();
    hint.setPointSizeF(hint.pointSizeF() * 1.3);
    lbStart->setFont(hint);
    lbStart->setStyleSheet(QStringLiteral("color: #505050"));
    clientLayout->addWidget(lbStart);
    centralLayout->addWidget(FClient, 1);
    setCentralWidget(central);
}

void TfmMain::ShowValueLabel(bool visible) {
    FReadings->SetShown(lb, visible);
}

void TfmMain::ShowLabelText(const QString& text) {
    lb->SetValue(text);
}

void TfmMain::CreateStatusBar() {
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new tStatusPanel(i > 0);
        // The hints first, before anything a menu put there (the lesson's state); the times last.
        if (i == 0)
            statusBar()->insertWidget(0, StatusPanels[i], 1);
        else
            statusBar()->addWidget(StatusPanels[i]);
    }
    statusBar()->setSizeGripEnabled(true);
    LayoutStatusPanels();
}

void TfmMain::TurnClock() {
    ShowTime();
    tmTime->start(1000 - int(QDateTime::currentMSecsSinceEpoch() % 1000) + 2);
}

void TfmMain::ShowTime() {
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second == FShownSecond) return;
    FShownSecond = second;
    StatusPanels[2]->setText(QDateTime::fromSecsSinceEpoch(second).time().toString(LongTimeFormat()));
}

void TfmMain::LayoutStatusPanels() {
    const QFontMetrics metrics(statusBar()->font());
    StatusPanels[2]->setFixedWidth(int(1.5 * metrics.horizontalAdvance(QStringLiteral(" 88:88:88 "))));
    StatusPanels[1]->setFixedWidth(int(1.5 * metrics.horizontalAdvance(QStringLiteral(" 888:88.88 "))));
    // Fixed both ways, the clock and the elapsed time change their text ten times a second without laying
    // out the status bar again.
    for (int i = 1; i <= 2; ++i) StatusPanels[i]->setFixedHeight(StatusPanels[i]->sizeHint().height());
}

void TfmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    LayoutStatusPanels();
}

tWindowState TfmMain::State() const {
    if (!Experiment || !Frame) return tWindowState::NoExperiment;
    if (tmMeasure->isActive()) return tWindowState::Measuring;
    if (Device()) return tWindowState::Connected;
    if (FLesson->SensorState() == tLesson::tSensorState::Lost) return tWindowState::SensorLost;
    if (FLesson->WorkOpened()) return tWindowState::WorkOpened;
    return tWindowState::Chosen;
}

void TfmMain::UpdateActions() {
    tWindowFacts facts;
    facts.State = State();
    facts.Busy = FBusy;
    if (Frame) {
        static constexpr tShownPage kPages[] = {tShownPage::Chart, tShownPage::Table, tShownPage::Description,
                                                tShownPage::Report};
        facts.Page = kPages[std::clamp(int(Frame->CurrentPage()), 0, 3)];
        facts.ChartHasPoints = FLesson->RunCount() > 0;
        facts.Events = Experiment && Experiment->Events;
    }
    const tCommandStates states = CommandStates(facts);
    for (std::size_t i = 0; i < kCommandCount; ++i) FCommands[i]->setEnabled(states.Enabled[i]);
    acExperimentConnect->setChecked(states.ConnectChecked);
}

void TfmMain::Guarded(const std::function<void()>& command) {
    RunCommand(this, command);
}

void TfmMain::RunAction(QAction* action) {
    if (FBusy) return;
    UpdateActions();
    if (action->isEnabled()) action->trigger();
}

tDevice* TfmMain::Device() const {
    return FAcquisition->Device();
}

void TfmMain::RestoreAndRaise() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfmMain::SessionEndQueried() {
    FCloseQueryInstalled = false;
    tmCloseQueryBack->start();
}

bool TfmMain::FormCloseQuery() {
    if (!FCloseQueryInstalled) return true;
    return AskYesNo(this, LoadStr(sConfirmExit), tBoxIcon::Question, bbNo);
}

bool TfmMain::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        StatusPanels[0]->setText(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        SaveReport();
        event->accept();
    } else {
        event->ignore();
    }
}
