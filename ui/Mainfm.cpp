// The main window's construction: actions with their images and rules, menus, tool bar, status bar, clock.
#include "ui/Mainfm.h"

#include "core/AppMessages.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/LocaleFormats.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Componentusb.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "experiment/Experimentsfm.h"
#include "platform/Clock.h"
#include "platform/SessionEnd.h"
#include "runs/WorkFolder.h"
#include "ui/DialogPrompts.h"
#include "ui/Experimentfr.h"
#include "ui/TablePage.h"
#include "widgets/BigDigits.h"
#include "widgets/Chart.h"
#include "widgets/Icons.h"
#include "widgets/StatusPanel.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

TfmMain* fmMain = nullptr;

namespace {

QAction* MakeAction(QObject* owner, const char* icon, const QString& caption, const QString& hint) {
    auto* action = new QAction(caption, owner);
    if (icon) action->setIcon(ToolIcon(QString::fromLatin1(icon)));
    // A hint is plain text: an ampersand meant as a menu mnemonic would show as it is.
    QString plain = hint;
    plain.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
    action->setToolTip(plain);
    action->setStatusTip(plain);
    return action;
}

} // namespace

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent) {
    // Tahoma where it is installed, else the closest sans-serif face the system has.
    QFont face(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                           QStringLiteral("Liberation Sans")});
    face.setStyleHint(QFont::SansSerif);
    face.setPointSize(9);
    setFont(face);
    SetDefaultPrompts(&DialogPrompts());
    resize(650, 328);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    PerfFrequency = PerformanceFrequency();
    Counter = [] { return PerformanceCounter(); };
    PrintersInstalled = [] { return !QPrinterInfo::availablePrinterNames().isEmpty(); };
    ShowChooser = [](TfmExperiments& chooser) { return chooser.exec(); };

    setWindowTitle(QString::fromUtf8(kApplicationTitle));

    FSessionEnd = new tSessionEnd(this);
    // Qt gives no notice when the session manager cancels a log-off: the close question comes back after a
    // while, long after a log-off that goes on would have ended the program.
    tmCloseQueryBack = new QTimer(this);
    tmCloseQueryBack->setSingleShot(true);
    tmCloseQueryBack->setInterval(30000);
    connect(tmCloseQueryBack, &QTimer::timeout, this, [this] { FCloseQueryInstalled = true; });
    connect(FSessionEnd, &tSessionEnd::endQueried, this, &TfmMain::SessionEndQueried);
    connect(FSessionEnd, &tSessionEnd::endRequested, this, [this] { close(); });

    // A lost sensor shows in its measurement; a device that arrives while the experiment's sensor is not
    // connected is only pointed out: connecting stays the user's choice.
    usb = new TComponentUSB(this);
    usb->OnUSBArrival = [this](QObject*) {
        if (Experiment && !Device && !IsNoSensor(Experiment->SensorName))
            StatusPanels[0]->setText(QStringLiteral("Датчик подключён. Нажмите «Подключение»."));
    };
    usb->OnUSBRemove = [](QObject*) {};

    // The clock turns with the second (just after it); while measuring, the tick shows it with its own paint.
    tmTime = new QTimer(this);
    tmTime->setSingleShot(true);
    tmTime->setTimerType(Qt::PreciseTimer);
    const auto nextSecond = [this] {
        tmTime->start(1000 - int(QDateTime::currentMSecsSinceEpoch() % 1000) + 2);
    };
    connect(tmTime, &QTimer::timeout, this, [this, nextSecond] {
        if (!tmMeasure->isActive()) ShowTime();
        nextSecond();
    });
    ShowTime();
    nextSecond();
    tmMeasure = new QTimer(this);
    tmMeasure->setInterval(100);
    connect(tmMeasure, &QTimer::timeout, this, [this] { Guarded([this] { tmMeasureTimer(); }); });
    // The report being typed reaches the disk a few seconds after the last key (and when the page is left, a
    // run ends, the window closes).
    tmReportSave = new QTimer(this);
    tmReportSave->setSingleShot(true);
    tmReportSave->setInterval(3000);
    connect(tmReportSave, &QTimer::timeout, this, [this] { SaveReport(); });
    Runs.OnRunsChanged = [this] { RunsChanged(); };
    Runs.OnPointsAdded = [this] {
        if (Frame) Frame->tvTable->Model()->PointsAdded();
    };

    PrepareAppMessages();
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
        if (Device && Device->IsMeasuring()) Device->Stop();
    } catch (...) {
        // A destructor raises nothing: the sensor is released below all the same.
    }
    tmMeasure->stop();
    Device.reset();
    Work.reset();
    if (fmMain == this) fmMain = nullptr;
}

void TfmMain::CreateActions() {
    acFileExit = MakeAction(this, "exit", QStringLiteral("&Выход..."), QStringLiteral("Выйти из программы"));
    acFileExit->setShortcuts({QKeySequence(QStringLiteral("Alt+X")), QKeySequence(QStringLiteral("Alt+Ч"))});
    acFileOpenWork = MakeAction(this, nullptr, QStringLiteral("&Открыть работу..."),
                                QStringLiteral("Открыть сохранённые измерения и отчёт"));
    acFileOpenWork->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    acHelpAbout =
        MakeAction(this, "about", QStringLiteral("&О программе..."),
                   QStringLiteral("Вывести информацию о программе, разработчике и авторских правах"));
    acViewToolBar = MakeAction(this, nullptr, QStringLiteral("&Панель инструментов"),
                               QStringLiteral("Показать/спрятать панель инструментов"));
    acViewStatusBar = MakeAction(this, nullptr, QStringLiteral("&Строка состояния"),
                                 QStringLiteral("Позазать/спрятать строку состояния"));
    acViewShowAll = MakeAction(this, nullptr, QStringLiteral("Показать &всё"),
                               QStringLiteral("Показать оси эксперимента и все измерения целиком"));
    acViewShowAll->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));
    acExperimentConnect = MakeAction(this, "connect", QStringLiteral("&Подключение"),
                                     QStringLiteral("Найти датчики и подключиться к ним"));
    acExperimentChoose = MakeAction(this, "choose", QStringLiteral("&Выбор эксперимента..."),
                                    QStringLiteral("Выбрать сценарий для проведения эксперимента"));
    acExperimentStart =
        MakeAction(this, "start", QStringLiteral("&Пуск"), QStringLiteral("Запустить измерения"));
    acExperimentStop =
        MakeAction(this, "stop", QStringLiteral("&Стоп"), QStringLiteral("Остановить измерения"));
    acExperimentMarkPoint = MakeAction(this, "mark", QStringLiteral("&Отметить точку...."),
                                       QStringLiteral("Отметить точку на графике"));
    acFileExport = MakeAction(this, "export", QStringLiteral("&Экспорт..."),
                              QStringLiteral("Экспортировать данные во внешний файл"));
    acFilePrint = MakeAction(this, "print", QStringLiteral("&Печать..."),
                             QStringLiteral("Напечатать содержимое текущей вкладки"));
    acFilePrint->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    acFilePrintSetup = MakeAction(this, nullptr, QStringLiteral("Параметры печати..."),
                                  QStringLiteral("Изменить настройки печати"));
    acFilePageSetup = MakeAction(this, nullptr, QStringLiteral("Параметры страницы..."),
                                 QStringLiteral("Изменить настройки страницы"));
    acFileAddImage = MakeAction(this, "addimage", QStringLiteral("&Добавить изображение..."),
                                QStringLiteral("&Добавить изображение из файла"));

    CreateAnalysisActions();
    CreateRunActions();
    CreateCollectionActions();
    FCommands = {acFileExit,          acFileOpenWork,           acHelpAbout,
                 acViewToolBar,       acViewStatusBar,          acViewShowAll,
                 acExperimentConnect, acExperimentChoose,       acExperimentStart,
                 acExperimentStop,    acExperimentMarkPoint,    acFileExport,
                 acFilePrint,         acFilePrintSetup,         acFilePageSetup,
                 acFileAddImage,      mnAnalysis->menuAction(), acExperimentCollection,
                 acViewRuns,          acViewBigDigits};
    for (QAction* checkable : {acViewToolBar, acViewStatusBar, acExperimentConnect, acExperimentMarkPoint})
        checkable->setCheckable(true);
    acViewToolBar->setChecked(true);
    acViewStatusBar->setChecked(true);

    connect(acFileExit, &QAction::triggered, this, &QWidget::close);
    const auto command = [this](QAction* action, void (TfmMain::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    connect(acViewToolBar, &QAction::triggered, this, [this](bool on) { pnToolBar->setVisible(on); });
    connect(acViewStatusBar, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(acViewShowAll, &QAction::triggered, this, [this] {
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
    });
    // The Connect button shows the state, not the click: the command decides whether it stays pressed.
    connect(acExperimentConnect, &QAction::triggered, this, [this] {
        acExperimentConnect->setChecked(Device != nullptr);
        Guarded([this] { Connect(); });
    });
    command(acExperimentChoose, &TfmMain::Choose);
    command(acExperimentStart, &TfmMain::Start);
    command(acExperimentStop, &TfmMain::Stop);
    connect(acExperimentMarkPoint, &QAction::triggered, this, [this] {
        acExperimentMarkPoint->setChecked(false);
        Guarded([this] { MarkPoint(); });
    });
    command(acFileExport, &TfmMain::Export);
    command(acFileOpenWork, &TfmMain::OpenWorkCommand);
    command(acFilePrint, &TfmMain::Print);
    command(acFilePrintSetup, &TfmMain::PrintSetup);
    command(acFilePageSetup, &TfmMain::PageSetup);
    command(acFileAddImage, &TfmMain::AddImage);
    // An action's hint reaches panel 0 through the status-tip events the window handles (event()).
    for (QAction* action :
         {acFileExit, acFileOpenWork, acHelpAbout, acViewToolBar, acViewStatusBar, acViewShowAll,
          acExperimentConnect, acExperimentChoose, acExperimentStart, acExperimentStop, acExperimentMarkPoint,
          acFileExport, acFilePrint, acFilePrintSetup, acFilePageSetup, acFileAddImage})
        addAction(action);
}

void TfmMain::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    file->addAction(acFileOpenWork);
    file->addAction(acFileExport);
    file->addSeparator();
    file->addAction(acFileAddImage);
    file->addSeparator();
    file->addAction(acFilePrintSetup);
    file->addAction(acFilePageSetup);
    file->addAction(acFilePrint);
    file->addSeparator();
    file->addAction(acFileExit);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
    view->addAction(acViewToolBar);
    view->addAction(acViewStatusBar);
    view->addSeparator();
    view->addAction(acViewShowAll);
    view->addAction(acViewRuns);
    view->addAction(acViewBigDigits);
    QMenu* experiment = menuBar()->addMenu(QStringLiteral("&Эксперимент"));
    experiment->addAction(acExperimentConnect);
    experiment->addSeparator();
    experiment->addAction(acExperimentChoose);
    experiment->addSeparator();
    experiment->addAction(acExperimentStart);
    experiment->addAction(acExperimentStop);
    experiment->addAction(acExperimentMarkPoint);
    experiment->addSeparator();
    experiment->addAction(acExperimentCollection);
    menuBar()->addMenu(mnAnalysis);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
    help->addAction(acHelpAbout);
}

void TfmMain::CreateToolBar() {
    pnToolBar = new QFrame;
    static_cast<QFrame*>(pnToolBar)->setFrameShape(QFrame::StyledPanel);
    static_cast<QFrame*>(pnToolBar)->setFrameShadow(QFrame::Raised);
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
    tlbMain->addAction(acExperimentStart);
    tlbMain->addAction(acExperimentStop);
    tlbMain->addAction(acExperimentMarkPoint);
    tlbMain->addAction(acExperimentCollection);
    tlbMain->addSeparator();
    tlbMain->addAction(acFileExport);
    tlbMain->addAction(acFilePrint);
    tlbMain->addSeparator();
    tlbMain->addAction(acFileAddImage);
    lb = new QLabel;
    QFont bold(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    bold.setPixelSize(17);
    bold.setBold(true);
    lb->setFont(bold);
    lb->setContentsMargins(12, 0, 0, 0);
    FLabelAction = tlbMain->addWidget(lb);
    FLabelAction->setVisible(false);
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
    FLabelAction->setVisible(visible);
}

void TfmMain::ShowLabelText(const QString& text) {
    // A tool-bar label draws a tab as nothing.
    lb->setText(QString(text).replace(u'\t', QStringLiteral("     ")));
    // The label keeps a fixed size while its text fits (a new value ten times a second then does not lay
    // out the tool bar again, nor make it jump); it is sized anew when the text outgrows it or shrinks well
    // below it (a marker's text replaced by a value).
    const QSize wanted = lb->sizeHint();
    if (wanted.width() > lb->maximumWidth() || wanted.width() < lb->maximumWidth() * 2 / 3 ||
        wanted.height() != lb->maximumHeight())
        lb->setFixedSize(wanted.width() + lb->fontMetrics().horizontalAdvance(u'0'), wanted.height());
}

bool TfmMain::ValueLabelVisible() const {
    return FLabelAction->isVisible();
}

void TfmMain::CreateStatusBar() {
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new tStatusPanel(i > 0);
        statusBar()->addWidget(StatusPanels[i], i == 0 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(true);
    LayoutStatusPanels();
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
    // The big digits keep covering the window.
    if (BigDigits && !BigDigits->isHidden()) ShowBigDigits(true);
    LayoutStatusPanels();
}

QString TfmMain::CatalogueRoot() const {
    QString folder = ExecutablePath();
    folder = folder.left(folder.lastIndexOf(u'/') + 1);
    return folder + QStringLiteral("data/");
}

tWindowState TfmMain::State() const {
    if (!Experiment || !Frame) return tWindowState::NoExperiment;
    if (tmMeasure->isActive()) return tWindowState::Measuring;
    if (Device) return tWindowState::Connected;
    if (FSensorLost) return tWindowState::SensorLost;
    if (FWorkOpened) return tWindowState::WorkOpened;
    return tWindowState::Chosen;
}

QAction* TfmMain::Command(tCommand command) const {
    return FCommands[std::size_t(command)];
}

void TfmMain::UpdateActions() {
    tWindowFacts facts;
    facts.State = State();
    facts.Busy = FBusy;
    if (Frame) {
        static constexpr tShownPage kPages[] = {tShownPage::Chart, tShownPage::Table, tShownPage::Description,
                                                tShownPage::Report};
        facts.Page = kPages[std::clamp(int(Frame->CurrentPage()), 0, 3)];
        for (TChart* chart : Frame->Charts())
            for (int i = 0; i < chart->SeriesCount(); ++i)
                facts.ChartHasPoints |= chart->Series(i)->Count() > 0;
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

QPrinter& TfmMain::Printer() {
    if (!FPrinter) {
        FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        FPrinter->setPageSize(QPageSize(QPageSize::A4));
        FPrinter->setPageMargins(QMarginsF(25, 25, 25, 25), QPageLayout::Millimeter);
    }
    return *FPrinter;
}
