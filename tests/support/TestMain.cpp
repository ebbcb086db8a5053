// Test runner with a Qt application object (offscreen unless a display is asked for), in the C locale or in
// the locale that ZORBINKA_TEST_LANG names (the suite runs a second time as on a Russian desktop).
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// glibc's time-zone cache and Qt's own locking are not instrumented: their internal locks look like no locks.
// An event posted by a worker thread is handed to the main thread under the lock of Qt's posted-event queue,
// so accesses to it on the delivery path (the posted-event loop and the application-wide event filters that
// see it first) are ordered; nothing else of Qt is exempted.
extern "C" const char* __tsan_default_suppressions() {
    return "race:tzset_internal\ncalled_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
           "race:QCoreApplicationPrivate::sendPostedEvents\n"
           "race:QCoreApplicationPrivate::sendThroughApplicationEventFilters\n";
}
// Tests start helper programs (pdftotext, copies of the program) from threaded processes.
extern "C" const char* __tsan_default_options() {
    return "die_after_fork=0";
}
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Texts of the system (error messages, date formats) as the tests expect them, or a user's own locale.
    const QByteArray lang = qgetenv("ZORBINKA_TEST_LANG");
    qputenv("LANG", lang.isEmpty() ? QByteArray("C.UTF-8") : lang);
    qunsetenv("LC_ALL");
    qunsetenv("LC_NUMERIC");
    qunsetenv("LC_MESSAGES");
    // The program writes measurements under the user's data folder: a test writes into a folder of its own.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
