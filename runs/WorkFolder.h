// The work folder of a chosen experiment under the user's data folder: a copy of the experiment's
// definition and description, one CSV file per run written as it is measured, and the report. A crash, a
// kill or a power cut loses at most the last tick of a run and the last minute of typing.
#pragma once

#include "runs/Runs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <sys/types.h>

class tWorkFolder {
public:
    // Where work folders go: $XDG_DATA_HOME/zorbinka (~/.local/share/zorbinka).
    static QString DataRoot();
    // A new folder under DataRoot named by the date, the time and the experiment, holding copies of the
    // experiment's files from `experimentFolder` (ending in "/"). Raises Exception when it cannot be made.
    static std::unique_ptr<tWorkFolder> Create(const QString& experimentName,
                                               const QString& experimentFolder);
    // An existing folder, to go on writing to after it was opened: the highest run number it holds and its
    // list as the reader gave it.
    explicit tWorkFolder(const QString& path, int runsWritten = 0, const QStringList& list = {});
    ~tWorkFolder();

    const QString& Path() const { return FPath; }

    // Starts the CSV file of `run` (its header row) and records it in the folder's list.
    void BeginRun(const std::shared_ptr<tRun>& run);
    // Appends the points added to the current run since the last call and hands them to the disk.
    void AppendPoints();
    // Run `run`, kept in this folder before (a work opened again), is the current one again: its next change
    // is written by RewritePoints, in the separator its file was begun with.
    void ContinueRun(const std::shared_ptr<tRun>& run);
    // The current run's points changed anywhere (a row typed by hand): its file holds them anew, all of them.
    void RewritePoints();
    // The current run is complete.
    void EndRun();
    // The run whose file is open (null: none), and how many of its points the file holds.
    const std::shared_ptr<tRun>& CurrentRun() const { return FRun; }
    int Written() const { return FWritten; }
    // The current run measured nothing: its file and its lines in the list go.
    void DropRun();
    // Keeps the runs' names and visibility and the chosen run in the folder's list.
    void SaveRunViews(const tRunStore& runs);
    // Replaces the list's lines named `prefix`… with `lines` (name=value each), as `prefix`name=value.
    void SetListKeys(const QString& prefix, const QStringList& lines);
    // Moves run `number`'s file to the folder's deleted/ (never over a file there) and takes it off the list;
    // the run's analysis results (`results`, lines of analysis.txt) go beside it and analysis.txt keeps the
    // `remaining` ones (when given). All or nothing of it is done.
    void DeleteRun(int number, const QStringList& results = {}, const QByteArray* remaining = nullptr);
    // The folder's list as it is now.
    const QStringList& List() const { return FList; }
    // Tests make the disk full: the work folders' writes take `bytes` more bytes in all, then fail as on a
    // full disk (negative: no limit).
    static void SimulateDiskSpace(qint64 bytes);
    // Replaces the saved report with `rtf`, so that a reader never sees half a file.
    void SaveReport(const QByteArray& rtf);
    // Replaces the kept analysis results (one line each) and the lines `kept` as they came (bytes, each line
    // with its end) in the same way, off the calling thread (the lines kept may be many megabytes); none
    // removes the file. A file that could not be read when the work was opened (KeepUnreadAnalysis) is first
    // kept as analysis.txt.unread-N.
    void SaveAnalysis(const QStringList& results, const QByteArray& kept);
    // Adds one result at the end of the file, after any rewrite still under way.
    void AppendAnalysis(const QString& result);
    // Why a write done off the calling thread failed since the last call (empty: none did).
    QString TakeLaterError();
    // Waits until every write off the calling thread is done (a folder read back finds them all).
    static void FinishLaterWrites();
    // `later`: analysis.txt could not be read when the work was opened; else, when it could not, it is kept
    // as analysis.txt.unread-N now.
    void KeepUnreadAnalysis(bool later = true);

private:
    void WriteList();

    QString FPath;
    int FRuns = 0;
    QStringList FList;
    std::shared_ptr<tRun> FRun;
    QString FFileName;
    int FWritten = 0;
    off_t FHeaderBytes = 0;
    int FFd = -1;
    QChar FDecimal;
    bool FAnalysisUnread = false;
};

// What a work folder gives back.
struct tOpenedWork {
    QString ExperimentName;
    // The highest run number the folder holds: the next run takes a higher one.
    int RunFiles = 0;
    // Files and lines that could not be read, for the message to the user.
    QStringList Skipped;
    // Run files the folder's list did not name (the list missing or damaged), opened all the same.
    QStringList Rebuilt;
    // The folder's list as the work goes on with it: the one read, with the runs made again from their files.
    QStringList ListLines;
    // The lines of the kept analysis results (analysis.txt) as they stand, bytes, each with its end.
    QList<QByteArray> AnalysisLines;
    // Why analysis.txt could not be read (empty when it was, or there is none): it is never written over.
    QString AnalysisUnread;
    // What the user is told of the reading: the runs made again from their files, what could not be read;
    // empty when all was read.
    QString Notes() const;
};

// Told how many of the bytes to read are read; false cancels (the reading then raises EAbort).
using tReadProgress = std::function<bool(qint64 done, qint64 total)>;

// Reads the runs of the work folder `path` into `runs` (the experiment's definition is read by the caller
// from the folder's copy): the runs its list names, and the run files it holds that the list does not (a list
// missing or damaged). Only files with data are read, each up to 2 GB, record by record. Raises Exception
// with the reason when the folder cannot be read or holds no work at all.
tOpenedWork ReadWorkFolder(const QString& path, tRunStore& runs, const tReadProgress& progress = {});

// What analysis.txt holds: the results a line each, then the lines `kept` as they came (each with its end).
QByteArray AnalysisBytes(const QStringList& results, const QByteArray& kept);

// The names of the files in a work folder.
extern const char kWorkListFile[];
extern const char kReportFile[];
extern const char kAnalysisFile[];
extern const char kDeletedFolder[];

// Runs are numbered up to this: every number written into a file's name or a key of the list is read back.
inline constexpr int kMaxRunNumber = 999999999;
// A run's number in a file name or a key, as a pattern: nine digits at most.
#define ZORBINKA_RUN_NUMBER "(\\d{1,9})"
