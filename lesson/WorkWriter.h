// SPDX-License-Identifier: GPL-3.0-or-later
// The work folder of a lesson, written as the lesson announces what changed: a folder made when a run, a
// report or a result first needs one, each run's file begun, appended to at every tick and closed, the runs'
// names and visibility, how runs are collected, the results. A folder that cannot be written is said when
// writing begins to fail; measuring goes on and later writes try again.
#pragma once

#include "runs/WorkFolder.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class tLesson;

// A saved work as read from its folder, before it replaces what is open: read off the window's thread.
struct tSavedWork {
    QString Path;
    tOpenedWork Opened;
    tRunStore Runs;
};
// Reads the work folder `path`; raises Exception with the reason when it holds no work, EAbort when
// `progress` cancels.
tSavedWork ReadSavedWork(const QString& path, const tReadProgress& progress = {});

class tWorkWriter : public QObject {
    Q_OBJECT
public:
    // Follows `lesson` from now on.
    explicit tWorkWriter(tLesson& lesson);
    ~tWorkWriter() override;

    const tWorkFolder* Work() const { return FWork.get(); }
    // Another experiment: no folder until one is needed.
    void Reset();
    // A saved work opened: the next runs and every change go on in its folder `path`, which holds run files
    // up to `runFiles` and the list `list`; `analysisUnread`: its analysis.txt could not be read.
    void Adopt(const QString& path, int runFiles, const QStringList& list, bool analysisUnread);
    // `run`, kept in the folder before, takes its changes again (rows typed on); false when its file cannot.
    bool ContinueRun(const std::shared_ptr<tRun>& run);
    // False when it could not be written.
    bool SaveReport(const QByteArray& rtf);
    // Run `number`'s file and its results `gone` to deleted/, analysis.txt holding `remaining` (when given;
    // its results `results`): all of it or none. Raises Exception when the folder cannot take it; nothing to
    // do without a folder.
    void DeleteRun(int number, const QStringList& gone, const QByteArray* remaining, const QStringList& results);

signals:
    void failed(const QString& reason);

private:
    // Runs `write` on the work folder (made first when `make`); a failure is said when writing begins to fail
    // and later writes try again. False when nothing was written.
    bool Write(const std::function<void(tWorkFolder&)>& write, bool make = false);
    void RunStarted(int id);
    void PointsChanged(int id, int from);
    void SaveCollection();
    void SaveAnalysis();

    tLesson& FLesson;
    std::unique_ptr<tWorkFolder> FWork;
    bool FFailing = false;   // the last write failed
    bool FUnkept = false;    // a run began with no folder to keep it
    QStringList FCollection; // the collection as the folder's list holds it
    QStringList FAnalysis;   // the results as analysis.txt holds them
    bool FAnalysisKnown = true; // false: a write of it failed, it is written whole next time
};
