// Tests that read the log: a process-wide log in a temporary folder, read back as entries.
#pragma once

#include "core/CommandLine.h"
#include "core/Logfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

class tLogCapture {
public:
    explicit tLogCapture(const QStringList& switches = {QStringLiteral("/log")}) {
        SetCommandLine(QStringList{QStringLiteral("zorbinka")} + switches);
        FPath = FDir.filePath(QStringLiteral("zorbinka.log"));
        LogFile = new tLogFile(FPath);
    }
    ~tLogCapture() {
        delete LogFile;
        LogFile = nullptr;
        SetCommandLine({QStringLiteral("zorbinka")});
    }

    QString Text() const {
        QFile file(FPath);
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll());
    }

    // Each entry's message without its time stamp; an entry may span several lines.
    QStringList Entries() const {
        static const QRegularExpression stamp(
            QStringLiteral(R"((?:^|\r\n)\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d )"));
        QString text = Text();
        if (text.endsWith(QStringLiteral("\r\n"))) text.chop(2);
        QStringList entries = text.split(stamp);
        if (!entries.isEmpty() && entries.first().isEmpty()) entries.removeFirst();
        return entries;
    }

    void Clear() { QFile(FPath).resize(0); }

private:
    QTemporaryDir FDir;
    QString FPath;
};
