// Helper programs run as child processes with limits: a program that hangs is killed when its time is up, one
// that takes too much memory fails inside its own limit, and one that crashes crashes alone.
#pragma once

#include <QString>
#include <QStringList>

struct tChildLimits {
    int Milliseconds = 2000;                // then the child and whatever it started are killed
    qint64 MemoryBytes = qint64(256) << 20; // its address space
};

enum class tChildEnd { Finished, Failed, Crashed, TimedOut, NotStarted };

struct tChildResult {
    tChildEnd End = tChildEnd::NotStarted;
    int Status = 0; // the exit status, the signal or the errno of the start, by End
};

// Runs `program` (looked up in PATH unless it names a path) with `arguments`, in the C locale, with no input
// and its output discarded, and waits for it within the limits. Safe from any thread.
tChildResult RunChild(const QString& program, const QStringList& arguments, const tChildLimits& limits = {});
