// Reading a teacher's documents: RTF of many small groups, paragraphs and table rows, up to the reader's
// 20 MiB limit.
#include "widgets/RichEdit.h"
#include "widgets/RtfReader.h"

#include "QtBenchmarkMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

// The shapes of document a hostile or merely large file takes.
enum tShape { kGroups, kAlternating, kParagraphs, kTableRows, kCyrillic };

QByteArray Document(tShape shape, int count) {
    static const char* const kPieces[] = {"{\\b x}", "{\\b x}y", "x\\par ",
                                          "\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row ",
                                          "\\'c7\\'ee\\'f0\\'e1\\'e8\\'ed\\'ea\\'e0 "};
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0 Arial;}}\n";
    rtf.reserve(rtf.size() + count * 64);
    for (int i = 0; i < count; ++i) rtf += kPieces[shape];
    rtf += '}';
    return rtf;
}

void BM_ReadRtf(benchmark::State& state) {
    const QByteArray rtf = Document(tShape(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        QTextDocument document;
        ReadRtf(rtf, document);
        benchmark::DoNotOptimize(document.characterCount());
    }
    state.counters["MB"] = double(rtf.size()) / 1e6;
}
BENCHMARK(BM_ReadRtf)
    ->ArgsProduct({{kGroups, kAlternating}, {25000, 100000}})
    // Each near the 20 MiB a document may have.
    ->Args({kGroups, 3400000})
    ->Args({kAlternating, 2900000})
    ->Args({kParagraphs, 3400000})
    ->Args({kTableRows, 400000})
    ->Args({kCyrillic, 600000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A description of one paragraph of many groups shown in the control, as the chooser shows it: the longest
// the window's thread is held ("longest_gap_ms", between two timer ticks 10 ms apart) from the load until the
// document shows and a second after. Time is the whole, until it shows.
void BM_ShowRtf(benchmark::State& state) {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("descr.rtf"));
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(Document(tShape(state.range(0)), int(state.range(1))));
    }
    TRichEdit edit;
    edit.setReadOnly(true);
    edit.resize(600, 400);
    edit.show();
    QCoreApplication::processEvents();
    qint64 longest = 0;
    for (auto _ : state) {
        bool shown = false;
        const QMetaObject::Connection done = QObject::connect(&edit, &TRichEdit::loaded, [&] { shown = true; });
        QElapsedTimer gap, after;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
        gap.start();
        tick.start(10);
        edit.LoadFromFile(file);
        if (!edit.Loading()) shown = true;
        while (!shown) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.PauseTiming();
        after.start();
        while (after.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        longest = std::max(longest, gap.restart());
        QObject::disconnect(done);
        state.ResumeTiming();
    }
    state.counters["longest_gap_ms"] = double(longest);
}
BENCHMARK(BM_ShowRtf)
    ->Args({kAlternating, 100000})
    ->Args({kAlternating, 400000})
    ->Args({kGroups, 3400000})
    ->Args({kAlternating, 2900000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
