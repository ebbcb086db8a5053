// Reading experiment.txt with the settings store's line rules and the key table's defaults.
#include "experiment/Experiment.h"

#include "core/Exception.h"
#include "core/Functions.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/TextCodec.h"

#include <cmath>

const char kExperimentFile[] = "experiment.txt";

namespace {

// The value a key takes when it is missing or cannot work, written once: the reader and its checks take them
// from here.
constexpr int kFreq = 100000;
constexpr int kAverage = 1;
constexpr double kMinX = 0, kMaxX = 100, kIncX = 10;
constexpr double kMinY = 0, kMaxY = 100, kIncY = 10;
// What a definition that cannot be read is shown with: a 10 ms period and captions that say nothing was read.
constexpr int kUnreadFreq = 10000;

double Real(const tSettings& file, const char* key, double fallback) {
    double value = 0;
    return ParseFloat(file.GetSettingByName(QString::fromLatin1(key)), value) ? value : fallback;
}

int Integer(const tSettings& file, const char* key, int fallback) {
    return file.GetInt(QString::fromLatin1(key), fallback);
}

QString Text(const tSettings& file, const char* key) {
    return file.GetSettingByName(QString::fromLatin1(key));
}

} // namespace

void tExperiment::SetDefaults() {
    SensorName.clear();
    Freq = kUnreadFreq;
    Average = kAverage;
    MinX = kMinX;
    MaxX = kMaxX;
    IncX = kIncX;
    CaptionX = QStringLiteral("Значение");
    MinY = kMinY;
    MaxY = kMaxY;
    IncY = kIncY;
    CaptionY = QStringLiteral("t, c");
    AutoSize = false;
    YOffset = 0;
    SuggestedFit.reset();
    Collection = {};
    Events = false;
    EntryCaption.clear();
    EntryFormat.clear();
    EntryStep = 0;
}

void tExperiment::ReadFile() {
    // A definition is a few lines; anything far larger is not one.
    ReadText(ReadFileBytes(Path + QString::fromLatin1(kExperimentFile), 1024 * 1024));
}

void tExperiment::ReadText(const QByteArray& bytes) {
    tSettings file(false);
    file.SetLines(SplitTextLines(DecodeTextFile(bytes)));
    if (file.IndexOfName(QStringLiteral("SensorName")) < 0)
        throw Exception(QStringLiteral("Не указан датчик используемый в экперименте."));
    SensorName = Text(file, "SensorName");
    Freq = Integer(file, "Freq", kFreq);
    Average = Integer(file, "Average", kAverage);
    FormatY = Text(file, "FormatY");
    FormatX = Text(file, "FormatX");
    CaptionX = Text(file, "CaptionX");
    MinX = Real(file, "MinX", kMinX);
    MaxX = Real(file, "MaxX", kMaxX);
    IncX = Real(file, "IncX", kIncX);
    CaptionY = Text(file, "CaptionY");
    MinY = Real(file, "MinY", kMinY);
    MaxY = Real(file, "MaxY", kMaxY);
    IncY = Real(file, "IncY", kIncY);
    AutoSize = file.GetBool(QStringLiteral("AutoSize"), false);
    TwiceMarker = file.GetBool(QStringLiteral("TwiceMarker"), false);
    YOffset = Real(file, "YOffset", 0);
    SeriesCount = Integer(file, "SeriesCount", 1);
    if (SeriesCount < 1 || SeriesCount > 2) SeriesCount = 1;
    SuggestedFit = FitModelFromKey(Text(file, "Fit"));
    Collection = ReadCollection(file);
    Events = Text(file, "Mode").trimmed().compare(QStringLiteral("Events"), Qt::CaseInsensitive) == 0;
    EntryCaption = Text(file, "EntryCaption");
    EntryFormat = Text(file, "EntryFormat");
    EntryStep = Real(file, "EntryStep", 0);
    if (Events) {
        // The points stand at the typed values: what is collected over time does not apply.
        Collection = {};
        if (!EntryCaption.isEmpty()) CaptionX = EntryCaption;
        if (!EntryFormat.isEmpty()) FormatX = EntryFormat;
        if (!std::isfinite(EntryStep)) EntryStep = 0;
    }

    // Values that cannot work count as unreadable: the key's default is taken and the log says so.
    const auto reject = [this](const char* keys) {
        WriteLog(Path + QString::fromLatin1(kExperimentFile) + QStringLiteral(": invalid ") +
                 QString::fromLatin1(keys) + QStringLiteral(", the default is taken"));
    };
    if (Freq <= 0) {
        reject("Freq");
        Freq = kFreq;
    }
    if (Average <= 0) {
        reject("Average");
        Average = kAverage;
    }
    if (!(MinX < MaxX)) {
        reject("MinX/MaxX");
        MinX = kMinX;
        MaxX = kMaxX;
    }
    if (!(MinY < MaxY)) {
        reject("MinY/MaxY");
        MinY = kMinY;
        MaxY = kMaxY;
    }
    if (!(IncX > 0)) {
        reject("IncX");
        IncX = kIncX;
    }
    if (!(IncY > 0)) {
        reject("IncY");
        IncY = kIncY;
    }
}

void LoadExperimentFolder(tExperiment& experiment, const QString& name, const QString& path,
                          QWidget* parent) {
    experiment.Name = name;
    experiment.Path = path;
    experiment.SetDefaults();
    try {
        experiment.ReadFile();
    } catch (const Exception& e) {
        // A record that was never read has no usable line count; the frame keeps one line then.
        if (experiment.SeriesCount < 1 || experiment.SeriesCount > 2) experiment.SeriesCount = 1;
        ShowWarningBox(parent, LoadStr(sCannotLoadExperiment) + e.Message());
    }
}

std::pair<double, double> tExperiment::PlacedRange(double y) const {
    const double height = MaxY - MinY;
    double lower = y - YOffset * height;
    const double steps = IncY > 0 ? height / IncY : 0;
    if (steps >= 1 && std::abs(steps - std::round(steps)) < 1e-9 * steps) {
        lower = std::round(lower / IncY) * IncY;
        // No label of "-0".
        if (lower == 0) lower = 0;
    }
    return {lower, lower + height};
}
