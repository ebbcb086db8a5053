// SPDX-License-Identifier: GPL-3.0-or-later
// The work folder following the lesson's notices.
#include "lesson/WorkWriter.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/TextCodec.h"
#include "lesson/Lesson.h"

tSavedWork ReadSavedWork(const QString& path, const tReadProgress& progress) {
    tSavedWork work;
    work.Path = path;
    work.Opened = ReadWorkFolder(path, work.Runs, progress);
    int damaged = 0;
    for (const QByteArray& raw : work.Opened.AnalysisLines)
        if (const QString line = DecodeTextFile(WithoutTerminator(raw)).trimmed();
            !line.isEmpty() && !DecodeResult(line))
            ++damaged;
    if (damaged > 0)
        work.Opened.Skipped
            << QString::fromLatin1(kAnalysisFile) +
                   QStringLiteral(": пропущено строк: %1 (они сохранены в файле как были)").arg(damaged);
    return work;
}

tWorkWriter::tWorkWriter(tLesson& lesson) : QObject(&lesson), FLesson(lesson) {
    connect(&lesson, &tLesson::runStarted, this, &tWorkWriter::RunStarted);
    connect(&lesson, &tLesson::pointsAppended, this, [this] {
        // While the label box is open the new points wait: the label may still go to one of them.
        if (!FLesson.LabelOpen()) Write([](tWorkFolder& work) { work.AppendPoints(); });
    });
    connect(&lesson, &tLesson::pointsChanged, this, &tWorkWriter::PointsChanged);
    connect(&lesson, &tLesson::runEnded, this, [this] { Write([](tWorkFolder& work) { work.EndRun(); }); });
    connect(&lesson, &tLesson::runRemoved, this, [this](int id) {
        // A run that measured nothing leaves no file; one deleted has gone to deleted/ already.
        if (FWork && FWork->CurrentRun() && FWork->CurrentRun()->Id == id)
            Write([](tWorkFolder& work) { work.DropRun(); });
        else
            Write([this](tWorkFolder& work) { work.SaveRunViews(FLesson.Runs()); });
    });
    const auto views = [this] { Write([this](tWorkFolder& work) { work.SaveRunViews(FLesson.Runs()); }); };
    connect(&lesson, &tLesson::runChanged, this, views);
    connect(&lesson, &tLesson::runChosen, this, views);
    connect(&lesson, &tLesson::collectingChanged, this, &tWorkWriter::SaveCollection);
    connect(&lesson, &tLesson::resultAdded, this, &tWorkWriter::SaveAnalysis);
    connect(&lesson, &tLesson::resultRemoved, this, &tWorkWriter::SaveAnalysis);
    connect(&lesson, &tLesson::resultsChanged, this, &tWorkWriter::SaveAnalysis);
}

tWorkWriter::~tWorkWriter() = default;

void tWorkWriter::Reset() {
    FWork.reset();
    FFailing = FUnkept = false;
    FCollection.clear();
    FAnalysis.clear();
    FAnalysisKnown = true;
}

void tWorkWriter::Adopt(const QString& path, int runFiles, const QStringList& list, bool analysisUnread) {
    Reset();
    FWork = std::make_unique<tWorkFolder>(path, runFiles, list);
    if (analysisUnread) FWork->KeepUnreadAnalysis();
    for (const QString& line : list)
        if (line.startsWith(QStringLiteral("Collection."), Qt::CaseInsensitive)) FCollection << line.mid(11);
    FAnalysis = FLesson.Results().Lines();
}

bool tWorkWriter::Write(const std::function<void(tWorkFolder&)>& write, bool make) {
    // A folder is made for a run, or for what comes before any: never a second one for runs that have
    // theirs, nor one without the runs that could not be kept.
    if (!FLesson.IsOpen() || (!FWork && (!make || FUnkept))) return false;
    try {
        if (!FWork) FWork = tWorkFolder::Create(FLesson.Experiment().Name, FLesson.Experiment().Path);
        // A write done off the window's thread that failed is said like any other; the results are written
        // whole at their next change.
        if (const QString later = FWork->TakeLaterError(); !later.isEmpty()) {
            FAnalysisKnown = false;
            throw Exception(later);
        }
        write(*FWork);
        FFailing = false;
        return true;
    } catch (const Exception& e) {
        // Said when writing begins to fail: again after writes that succeeded (a disk that filled anew, a run
        // that found no number left), never at every write of one failure. The folder stays the work's, and
        // the next writes try again (the disk may have room by then).
        if (!FFailing) {
            WriteLog(e.Message());
            emit failed(e.Message());
        }
        FFailing = true;
        return false;
    }
}

void tWorkWriter::RunStarted(int id) {
    const int index = FLesson.RunIndex(id);
    if (index < 0) return;
    const std::shared_ptr<tRun> run = FLesson.Runs().Shared(index);
    const bool measured = index == FLesson.Measured();
    Write(
        [&](tWorkFolder& work) {
            work.BeginRun(run);
            // How a measured run is collected, kept with the work.
            if (measured) {
                FCollection = CollectionLines(FLesson.Collection());
                work.SetListKeys(QStringLiteral("Collection."), FCollection);
            }
        },
        true);
    if (!FWork) FUnkept = true;
}

void tWorkWriter::PointsChanged(int id, int from) {
    const int index = FLesson.RunIndex(id);
    if (index < 0 || FLesson.LabelOpen()) return;
    const std::shared_ptr<tRun> run = FLesson.Runs().Shared(index);
    if (FWork && FWork->CurrentRun() == run) {
        // Only what is new since the last write, unless a point the file holds changed.
        Write([&](tWorkFolder& work) {
            if (from >= work.Written())
                work.AppendPoints();
            else
                work.RewritePoints();
        });
        return;
    }
    // A run whose file was closed (a label given after its end): its file is written anew.
    if (run->Number <= 0) return;
    Write([&](tWorkFolder& work) {
        work.ContinueRun(run);
        work.RewritePoints();
        work.EndRun();
    });
}

bool tWorkWriter::ContinueRun(const std::shared_ptr<tRun>& run) {
    return Write([&](tWorkFolder& work) { work.ContinueRun(run); });
}

bool tWorkWriter::SaveReport(const QByteArray& rtf) {
    return Write([&](tWorkFolder& work) { work.SaveReport(rtf); }, true);
}

void tWorkWriter::DeleteRun(int number, const QStringList& gone, const QByteArray* remaining,
                            const QStringList& results) {
    if (number <= 0 || !FWork) return;
    FWork->DeleteRun(number, gone, remaining);
    if (remaining) {
        FAnalysis = results;
        FAnalysisKnown = true;
    }
}

void tWorkWriter::SaveCollection() {
    const QStringList lines = CollectionLines(FLesson.Collection());
    if (lines == FCollection) return;
    if (Write([&](tWorkFolder& work) { work.SetListKeys(QStringLiteral("Collection."), lines); }))
        FCollection = lines;
}

void tWorkWriter::SaveAnalysis() {
    const tResultList& results = FLesson.Results();
    const QStringList lines = results.Lines();
    if (FAnalysisKnown && lines == FAnalysis) return;
    // A result found is added at the end of the file; anything else writes the file anew, off this thread.
    const auto write = [&](tWorkFolder& work) {
        if (FAnalysisKnown && lines.size() == FAnalysis.size() + 1 &&
            std::equal(FAnalysis.begin(), FAnalysis.end(), lines.begin()))
            work.AppendAnalysis(lines.last());
        else
            work.SaveAnalysis(lines, results.Kept());
    };
    if (Write(write, !lines.isEmpty())) {
        FAnalysis = lines;
        FAnalysisKnown = true;
    } else {
        FAnalysisKnown = false;
    }
}
