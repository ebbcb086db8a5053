// Start-up and shutdown in their fixed order, with every error shown in one box at the end.
#include "app/Startup.h"

#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Componentusb.h"
#include "lesson/Lesson.h"
#include "measure/Measurethread.h"
#include "platform/SingleInstance.h"
#include "sim/DemoCable.h"
#include "sim/DemoWorld.h"
#include "ui/DialogPrompts.h"
#include "ui/Mainfm.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <new>
#include <optional>

namespace {

// A work named on the command line (`zorbinka DEMO ~/.local/share/zorbinka/...`): the first argument that is
// a folder or a file. A file of a work (its list or a run, as a file manager hands it over) names its folder;
// any other file is handed on as it is, and opening it says that it is no work. Switches are never files.
QString WorkFolderArgument() {
    const QStringList arguments = QCoreApplication::arguments();
    static const QRegularExpression runFile(QStringLiteral("^run-\\d+\\.csv$"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QFileInfo given(arguments[i]);
        if (given.isDir()) return given.absoluteFilePath();
        if (!given.exists()) continue;
        if (given.fileName() == QStringLiteral("work.txt") || runFile.match(given.fileName()).hasMatch())
            return given.absolutePath();
        return given.absoluteFilePath();
    }
    return QString();
}

// The standard buttons and dialogs speak Russian like the rest of the program.
void InstallTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;
}

// The log beside the executable; where the program's folder cannot be written (an installed program), the
// log goes to the user's state folder, and its first entry says so.
tLogFile* OpenLog() {
    const QString beside = ChangeFileExt(ExecutablePath(), QStringLiteral(".log"));
    if (!FindCmdLineSwitch(QStringLiteral("LOG"))) return new tLogFile(beside);
    // A folder that can be written keeps the log, and a log that still cannot be opened there is the error
    // start-up shows.
    const QFileInfo file(beside);
    if (QFileInfo(file.absolutePath()).isWritable()) return new tLogFile(beside);
    const QString folder = UserStateFolder();
    QDir().mkpath(folder);
    const QString own = folder + QStringLiteral("/zorbinka.log");
    auto* log = new tLogFile(own);
    // The program's folder is found through the executable's real path; its catalogue is named too.
    const QString catalogue = file.absolutePath() + QStringLiteral("/data/");
    log->Write(QStringLiteral("Журнал ведётся в \"%1\": в папку программы \"%2\" записать нельзя. "
                              "Каталог опытов: %3 (групп: %4).")
                   .arg(own, file.absolutePath(), catalogue)
                   .arg(QDir(catalogue).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()));
    return log;
}

// A work handed over by a second copy opens once no box of the window is open: a box (the point label, a
// question) belongs to the experiment that opening would replace.
void OpenWhenFree(TfmMain* window, const QString& path) {
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(250, window, [window, path] { OpenWhenFree(window, path); });
        return;
    }
    window->Guarded([window, path] { window->OpenWork(path); });
}

// Runs from the log's creation to the end of the message loop.
void RunWithLog(QApplication& app, tSingleInstance& instance) {
    LogFile = OpenLog();
    LogFile->Write(LoadStr(sProgramStart));
    try {
        InstallTranslations(app);
        UseMeasureThreads();
        // The demo sensors stand in for the system's links; their cables can be pulled with SIGUSR1.
        const bool demo = FindCmdLineSwitch(QStringLiteral("DEMO"));
        if (demo) InstallDemoWorld();
        auto window = std::make_unique<TfmMain>();

        if (demo) {
            auto* cable = new tDemoCable(window.get());
            QObject::connect(cable, &tDemoCable::deviceChange, window->usb, &TComponentUSB::Dispatch);
            // The demo lamp is moved as a student would: 20 cm at Пуск, then on to the distance offered next.
            tLesson& lesson = window->Lesson();
            QObject::connect(&lesson, &tLesson::runStarted, &lesson, [] { SetDemoLampDistance(20); });
            QObject::connect(&lesson, &tLesson::runChanged, &lesson, [&lesson](int run) {
                if (const std::optional<double> next = lesson.OfferedEntry();
                    next && lesson.Experiment().Events && run == lesson.Measured())
                    SetDemoLampDistance(*next);
            });
        }
        QObject::connect(&instance, &tSingleInstance::activateRequested, window.get(),
                         &TfmMain::RestoreAndRaise);
        TfmMain* shown = window.get();
        QObject::connect(&instance, &tSingleInstance::openRequested, shown,
                         [shown](const QString& path) { OpenWhenFree(shown, path); });
        instance.Listen();
        window->showMaximized();
        if (const QString work = WorkFolderArgument(); !work.isEmpty())
            QTimer::singleShot(0, shown,
                               [shown, work] { shown->Guarded([shown, work] { shown->OpenWork(work); }); });
        app.exec();
        LogFile->Write(LoadStr(sProgramStop) + QStringLiteral("\r\n"));
    } catch (const EAbort&) {
        throw;
    } catch (const Exception& e) {
        LogFile->Write(e.Message() + QStringLiteral("\r\n"));
        throw;
    }
}

} // namespace

// A live run repaints a few small areas ten times a second: the elapsed time's tenths, a new point. Through
// shared memory the toolkit makes a round trip to the X server before each repaint of pixels it sent the time
// before, which is most of such a repaint's cost; a few kilobytes through the socket cost less, for the X
// server too. Whole-window repaints cost a little more that way (about a sixth).
void PreferSocketWindowPixels() {
    if (qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM") || qEnvironmentVariableIsSet("ZORBINKA_XCB_SHM"))
        return;
    qputenv("QT_XCB_NO_MITSHM", "1");
}

int RunProgram(QApplication& app) {
    app.setApplicationName(QStringLiteral("zorbinka"));
    // Docks and task bars find the menu entry (and its icon) by this name: the Wayland app id, the X11 class.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zorbinka.Zorbinka"));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/zorbinka.svg")));
    SetDefaultPrompts(&DialogPrompts());

    std::optional<QString> error;
    tSingleInstance instance;
    try {
        if (!instance.TryTake()) {
            // Another copy runs: bring it forward and end without a window, a box or a log line.
            instance.ActivateRunningCopy(2000, WorkFolderArgument());
            return 0;
        }
        RunWithLog(app, instance);
    } catch (const EAbort&) {
    } catch (const Exception& e) {
        error = e.Message();
    } catch (const std::bad_alloc&) {
        error = QStringLiteral("Недостаточно памяти.");
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
    } catch (...) {
        error = QStringLiteral("Non-VCL Exception");
    }
    delete LogFile;
    LogFile = nullptr;
    instance.Release();
    if (error) ShowErrorBox(nullptr, *error);
    return 0;
}
