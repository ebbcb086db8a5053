// Test runner with a Qt application object (offscreen unless a display is asked for), in the C locale or in
// the locale that ZORBINKA_TEST_LANG names (the suite runs a second time as on a Russian desktop).
#include "core/AppMessages.h"

#include <QApplication>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// glibc's time-zone cache is not instrumented, nor is the toolkit, whose own threads (its thread pool,
// started with QThread) hand their work over with locks the checker cannot see. The program's threads are
// std::threads and its hand-offs through the toolkit are annotated (app messages) or joined: races on them
// are reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:tzset_internal\nrace:QWaitCondition::~QWaitCondition\n";
}
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
extern "C" void __tsan_acquire(void*);
extern "C" void __tsan_release(void*);

// The toolkit's thread pool runs only the toolkit's own work (the conversions of large pictures), handed over
// with locks the checker cannot see and in functions Debian's libraries leave unnamed. Its threads are
// started once, kept for the whole run and not watched; the program's own threads are std::threads and stay
// watched. `watched` false leaves them unwatched, true watches them again (before they end with the process).
static void WatchToolkitThreads(bool watched) {
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    // The pool hands the task over under its own lock, which the checker cannot see: said by hand. Static, so
    // that no thread is still leaving a semaphore when this returns.
    static char handOff;
    static QSemaphore started;
    static QSemaphore go;
    static QSemaphore done;
    static bool watch;
    watch = watched;
    const int threads = pool->maxThreadCount();
    for (int i = 0; i < threads; ++i) {
        QRunnable* task = QRunnable::create([] {
            __tsan_acquire(&handOff);
            if (watch)
                __tsan_ignore_thread_end();
            else
                __tsan_ignore_thread_begin();
            __tsan_release(&handOff);
            started.release();
            go.acquire();
            __tsan_release(&handOff);
            done.release();
        });
        __tsan_release(&handOff);
        pool->start(task);
    }
    started.acquire(threads);
    __tsan_acquire(&handOff);
    __tsan_release(&handOff);
    go.release(threads);
    // Not waitForDone(): that would end the threads.
    done.acquire(threads);
    __tsan_acquire(&handOff);
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
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
#if defined(__SANITIZE_THREAD__)
    WatchToolkitThreads(false);
#endif
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_THREAD__)
    WatchToolkitThreads(true);
    // Joined here, while the program is whole. A thread's object learns that its thread finished under the
    // toolkit's own lock and its wait condition goes away unwaited: the one suppression besides time zones.
    QThreadPool::globalInstance()->waitForDone();
#endif
    return result;
}
