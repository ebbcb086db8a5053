// The main window's construction, closing question and log-off handling.
#include "ui/Mainfm.h"

#include "core/CommandLine.h"
#include "core/Strings.h"
#include "core/Thread.h"
#include "platform/Clock.h"
#include "platform/SessionEnd.h"
#include "ui/Prompts.h"

#include <QCloseEvent>

const char kApplicationTitle[] = "Зорбинка";

TfmMain* fmMain = nullptr;

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent) {
    // Tahoma where it is installed, else the closest sans-serif face the system has.
    QFont face(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                           QStringLiteral("Liberation Sans")});
    face.setStyleHint(QFont::SansSerif);
    face.setPointSize(9);
    setFont(face);
    resize(650, 328);

    // The main thread reads the elapsed-time counter; keeping it on one processor keeps the readings steady.
    BindThreadToFirstProcessor();
    PerfFrequency = PerformanceFrequency();

    setWindowTitle(QString::fromUtf8(kApplicationTitle));

    FSessionEnd = new tSessionEnd(this);
    connect(FSessionEnd, &tSessionEnd::endQueried, this, [this] { FCloseQueryInstalled = false; });
    connect(FSessionEnd, &tSessionEnd::endRequested, this, [this] { close(); });

    FSettings = std::make_unique<tSettings>(false);
    FSettings->Load(ChangeFileExt(ExecutablePath(), QStringLiteral(".cfg")));
    fmMain = this;
}

TfmMain::~TfmMain() {
    if (fmMain == this) fmMain = nullptr;
}

void TfmMain::RestoreAndRaise() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

bool TfmMain::FormCloseQuery() {
    if (!FCloseQueryInstalled) return true;
    return AskYesNo(this, LoadStr(sConfirmExit), tBoxIcon::Question, bbNo);
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}
