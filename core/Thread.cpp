// Worker thread base on std::thread with the system's nice values for priorities.
#include "core/Thread.h"

#include "core/Exception.h"
#include "core/Logfile.h"

#include <cerrno>
#include <new>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int NiceOf(tThread::tPriority priority) {
    switch (priority) {
    case tThread::tPriority::Normal:
        return 0;
    case tThread::tPriority::Higher:
        return -5;
    case tThread::tPriority::Highest:
        return -10;
    case tThread::tPriority::TimeCritical:
        return -15;
    }
    return 0;
}

} // namespace

tThread::tThread() = default;

tThread::~tThread() {
    Terminate();
    WaitFor();
}

void tThread::Start() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Run(); });
}

void tThread::Terminate() {
    FTerminated.store(true);
}

void tThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

QString tThread::FatalMessage() const {
    return FFinished.load() ? FFatalMessage : QString();
}

void tThread::Run() {
    const int nice = NiceOf(FPriority.load());
    // An ordinary user may not raise a thread's priority; it then runs at normal priority, and the log says
    // so.
    if (nice != 0 && setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), nice) != 0)
        WriteLog(QStringLiteral("Thread priority not raised: ") + SystemErrorText(errno));
    try {
        Execute();
    } catch (const Exception& e) {
        FFatalMessage = e.Message();
    } catch (const std::bad_alloc&) {
        FFatalMessage = QStringLiteral("Недостаточно памяти.");
    } catch (const std::exception& e) {
        FFatalMessage = QString::fromLocal8Bit(e.what());
    } catch (...) {
        FFatalMessage = QStringLiteral("Unknown error");
    }
    if (!FFatalMessage.isEmpty()) {
        WriteLog(FFatalMessage);
        Failed(FFatalMessage);
    }
    FFinished.store(true);
}
