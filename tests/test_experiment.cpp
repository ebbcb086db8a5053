// The experiment file: the key table, its defaults and errors; the chooser's tree over a folder on disk.
#include "core/LocaleFormats.h"
#include "core/TextCodec.h"
#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "sim/DemoWorld.h"
#include "support/LogCapture.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"
#include "support/TempDir.h"
#include "ui/Experimentsfm.h"
#include "widgets/RichEdit.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace {

// An experiment folder with that experiment.txt (written in cp1251, as catalogues made on Windows are).
tExperiment Load(const QString& text, tRecordingPrompts& prompts) {
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/Опыт/");
    QDir().mkpath(folder);
    if (!text.isNull())
        WriteFile(folder + QStringLiteral("experiment.txt"), EncodeCodePage(text, tCodePage::Cp1251));
    tExperiment experiment;
    LoadExperimentFolder(experiment, QStringLiteral("Опыт"), folder, nullptr);
    (void)prompts;
    return experiment;
}

} // namespace

TEST(Experiment, KeysDefaultsAndLineRules) {
    const struct {
        const char* file;
        const char* sensor;
        int freq;
        double maxX;
        int seriesCount;
        bool read;
    } rows[] = {
        {"SensorName=", "", 100000, 100, 1, true},
        {"SensorName=T101\r\nSeriesCount=5", "T101", 100000, 100, 1, true},
        {"SensorName=T101\nSeriesCount=0", "T101", 100000, 100, 1, true},
        {"SensorName=T101\rSeriesCount=x", "T101", 100000, 100, 1, true},
        {"SensorName=T101\r\nSeriesCount=2", "T101", 100000, 100, 2, true},
        {"sensorname=ABC\r\nMaxX=12,5", "ABC", 100000, 12.5, 1, true},
        {"SensorName=ABC\r\nMaxX=12.5\r\nFreq=1000\r\nFreq=2000", "ABC", 1000, 12.5, 1, true},
        {"SensorName = ABC\r\nFreq=5", "", 10000, 100, 1, false},
        {"junk\r\n=x\r\nSensorName=N\r\nUnknown=1\r\nMaxX=abc", "N", 100000, 100, 1, true},
    };
    for (const char16_t separator : {u'.', u','}) {
        SetSystemDecimalSeparator(QChar(separator));
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << row.file << " on " << char(separator));
            tRecordingPrompts prompts;
            const tExperiment e = Load(QString::fromUtf8(row.file), prompts);
            EXPECT_EQ(e.SensorName, QString::fromUtf8(row.sensor));
            EXPECT_EQ(e.Freq, row.freq);
            EXPECT_DOUBLE_EQ(e.MaxX, row.maxX);
            EXPECT_EQ(e.SeriesCount, row.seriesCount);
            EXPECT_EQ(prompts.Boxes.isEmpty(), row.read);
            if (!row.read) {
                ASSERT_EQ(prompts.Boxes.size(), 1);
                EXPECT_EQ(prompts.Boxes[0].Text, QStringLiteral("Невозможно загрузить сценарий проведения "
                                                                "эксперимента.\r\nПричина: Не указан датчик "
                                                                "используемый в экперименте."));
                EXPECT_EQ(prompts.Boxes[0].Caption, QStringLiteral("Внимание"));
                EXPECT_EQ(prompts.Boxes[0].Icon, tBoxIcon::Warning);
                EXPECT_EQ(e.CaptionX, QStringLiteral("Значение")) << "the defaults of an unread file";
            }
        }
    }
    ResetSystemDecimalSeparator();
}

TEST(Experiment, EveryKeyIsRead) {
    tRecordingPrompts prompts;
    const tExperiment e =
        Load(QStringLiteral("SensorName=M401\r\nFreq=2000\r\nAverage=10\r\nFormatY=0.00\r\nFormatX=0.0\r\n"
                            "CaptionX=t, с\r\nMinX=-1\r\nMaxX=30\r\nIncX=2,5\r\nCaptionY=T, °C\r\n"
                            "MinY=20\r\nMaxY=80\r\nIncY=5\r\nAutoSize=1\r\nTwiceMarker=7\r\n"
                            "YOffset=0,3\r\nSeriesCount=2\r\nFit= expapproach\r\n"),
             prompts);
    EXPECT_TRUE(prompts.Boxes.isEmpty());
    EXPECT_EQ(e.Name, QStringLiteral("Опыт"));
    EXPECT_TRUE(e.Path.endsWith(QStringLiteral("/Опыт/")));
    EXPECT_EQ(e.SensorName, QStringLiteral("M401"));
    EXPECT_EQ(e.Freq, 2000);
    EXPECT_EQ(e.Average, 10);
    EXPECT_EQ(e.FormatY, QStringLiteral("0.00"));
    EXPECT_EQ(e.FormatX, QStringLiteral("0.0"));
    EXPECT_EQ(e.CaptionX, QStringLiteral("t, с"));
    EXPECT_EQ(e.CaptionY, QStringLiteral("T, °C"));
    EXPECT_DOUBLE_EQ(e.MinX, -1);
    EXPECT_DOUBLE_EQ(e.IncX, 2.5);
    EXPECT_DOUBLE_EQ(e.MinY, 20);
    EXPECT_DOUBLE_EQ(e.MaxY, 80);
    EXPECT_DOUBLE_EQ(e.IncY, 5);
    EXPECT_TRUE(e.AutoSize);
    EXPECT_TRUE(e.TwiceMarker);
    EXPECT_DOUBLE_EQ(e.YOffset, 0.3);
    EXPECT_EQ(e.SeriesCount, 2);
    EXPECT_EQ(e.SuggestedFit, tFitModel::ExpApproach);
}

// How each sensor is treated: by its exact name, "NO" in any letter case.
// The first value placed at YOffset of the left axis' height; a height of whole label steps starts at a step,
// so that both ends carry a label (the dissolving salt's 22 °C at 0,6 of 0…40 by 5).
TEST(Experiment, TheFirstValuePlacesTheLeftAxis) {
    const struct {
        double y, minY, maxY, incY, offset;
        double lower, upper;
    } rows[] = {{22.03, 0, 40, 5, 0.6, 0, 40},  {50, 0, 100, 0, 0.3, 20, 120},
                {53, 0, 100, 10, 0.3, 20, 120}, {20, 0, 35, 10, 0.5, 2.5, 37.5},
                {-7, -10, 10, 2, 0.5, -18, 2},  {1.04, 0, 1, 0.25, 0.5, 0.5, 1.5}};
    for (const auto& row : rows) {
        tExperiment e;
        e.MinY = row.minY;
        e.MaxY = row.maxY;
        e.IncY = row.incY;
        e.YOffset = row.offset;
        const auto [lower, upper] = e.PlacedRange(row.y);
        EXPECT_DOUBLE_EQ(lower, row.lower) << row.y;
        EXPECT_DOUBLE_EQ(upper, row.upper) << row.y;
    }
}

TEST(Experiment, SensorsByTheirNames) {
    const struct {
        const char* name;
        bool connects, showsValue, beatRate;
    } rows[] = {{"M401", true, true, true},  {"m401", true, true, false}, {"C101", true, false, false},
                {"c101", true, true, false}, {"NO", false, false, false}, {"No", false, false, false},
                {"T101", true, true, false}, {"", true, true, false}};
    for (const auto& row : rows) {
        const tSensorDescription& sensor = DescribeSensor(QString::fromLatin1(row.name));
        EXPECT_EQ(sensor.Connects, row.connects) << row.name;
        EXPECT_EQ(sensor.ShowsValue, row.showsValue) << row.name;
        EXPECT_EQ(sensor.BeatRate, row.beatRate) << row.name;
    }
}

// Values that cannot work are taken as unreadable: the default, and a log line; a UTF-16 file is read.
TEST(Experiment, InvalidValuesAndUnicodeFiles) {
    const struct {
        QByteArray file;
        int freq, average;
        double minX, maxX, minY, maxY;
        int logLines;
    } rows[] = {
        {"SensorName=A\r\nFreq=0\r\nAverage=-2", 100000, 1, 0, 100, 0, 100, 2},
        {"SensorName=A\r\nFreq=-5\r\nMinX=5\r\nMaxX=5\r\nMinY=3\r\nMaxY=-3", 100000, 1, 0, 100, 0, 100, 3},
        {"SensorName=A\r\nMinX=-10\r\nMaxX=10\r\nIncX=0\r\nIncY=-1", 100000, 1, -10, 10, 0, 100, 2},
        {QByteArray("\xFF\xFES\0e\0n\0s\0o\0r\0N\0a\0m\0e\0=\0A\0\r\0\n\0F\0r\0e\0q\0=\0\x35\0", 42), 5, 1, 0,
         100, 0, 100, 0},
        {QByteArray("\xFE\xFF\0S\0e\0n\0s\0o\0r\0N\0a\0m\0e\0=\0A\0\r\0\n\0F\0r\0e\0q\0=\0\x37", 42), 7, 1, 0,
         100, 0, 100, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.toHex().toStdString());
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("experiment.txt")), row.file);
        tRecordingPrompts prompts;
        tLogCapture log;
        tExperiment e;
        LoadExperimentFolder(e, QStringLiteral("Опыт"), dir.path() + u'/', nullptr);
        EXPECT_TRUE(prompts.Boxes.isEmpty());
        EXPECT_EQ(e.SensorName, QStringLiteral("A"));
        EXPECT_EQ(e.Freq, row.freq);
        EXPECT_EQ(e.Average, row.average);
        EXPECT_EQ(QList<double>({e.MinX, e.MaxX, e.MinY, e.MaxY}),
                  QList<double>({row.minX, row.maxX, row.minY, row.maxY}));
        EXPECT_GT(e.IncX, 0);
        EXPECT_GT(e.IncY, 0);
        EXPECT_EQ(log.Entries().size(), row.logLines) << log.Entries().join(u'|').toStdString();
    }
}

TEST(Experiment, MissingFileKeepsNameAndPathAndShowsTheReason) {
    tRecordingPrompts prompts;
    const tExperiment e = Load(QString(), prompts);
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_TRUE(prompts.Boxes[0].Text.startsWith(QStringLiteral("Невозможно загрузить сценарий проведения "
                                                                "эксперимента.\r\nПричина: ")));
    EXPECT_TRUE(prompts.Boxes[0].Text.contains(QStringLiteral("experiment.txt")));
    EXPECT_EQ(e.Name, QStringLiteral("Опыт"));
    EXPECT_EQ(e.CaptionX, QStringLiteral("Значение"));
    EXPECT_EQ(e.CaptionY, QStringLiteral("t, c"));
    EXPECT_EQ(e.Freq, 10000);
    EXPECT_EQ(e.SeriesCount, 1) << "a new record that was never read keeps one line";
}

namespace {

class ChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"Физика/Тепло/Нагревание", "Физика/Оптика", "Химия/.скрытая", "Биология",
                                   "Пусто/.hidden/внутри"})
            QDir().mkpath(dir.filePath(QString::fromUtf8(folder)));
        WriteFile(dir.filePath(QStringLiteral("файл.txt")), "не папка");
        WriteFile(dir.filePath(QStringLiteral("Биология/descr.rtf")),
                  "{\\rtf1\\ansi\\ansicpg1251{\\colortbl;\\red31\\green78\\blue140;}\\cf1\\fs48 " +
                      EncodeCodePage(QStringLiteral("Описание биологии"), tCodePage::Cp1251) + "}");
        chooser.FillTree(dir.path() + u'/');
    }
    QTreeWidgetItem* Top(const char* name) {
        const auto found = chooser.Tree()->findItems(QString::fromUtf8(name), Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }

    QTemporaryDir dir;
    TfmExperiments chooser{nullptr};
};

} // namespace

TEST_F(ChooserTest, TreeShowsGroupsAndExperimentsOnly) {
    QStringList names;
    for (int i = 0; i < chooser.Tree()->topLevelItemCount(); ++i)
        names << chooser.Tree()->topLevelItem(i)->text(0);
    EXPECT_EQ(names, (QStringList{QStringLiteral("Биология"), QStringLiteral("Пусто"),
                                  QStringLiteral("Физика"), QStringLiteral("Химия")}));
    EXPECT_TRUE(TfmExperiments::IsGroup(Top("Физика")));
    EXPECT_FALSE(TfmExperiments::IsGroup(Top("Химия"))) << "its only subfolder is hidden";
    EXPECT_FALSE(TfmExperiments::IsGroup(Top("Пусто")));
    EXPECT_FALSE(TfmExperiments::IsGroup(Top("Биология")));

    QTreeWidgetItem* physics = Top("Физика");
    physics->setExpanded(true);
    ASSERT_EQ(physics->childCount(), 2);
    EXPECT_EQ(physics->child(0)->text(0), QStringLiteral("Оптика"));
    EXPECT_TRUE(TfmExperiments::IsGroup(physics->child(1)));
    EXPECT_EQ(chooser.NodeFolder(physics->child(1)), dir.path() + QStringLiteral("/Физика/Тепло/"));

    // A folder added on disk shows after collapsing and expanding again.
    QDir().mkpath(dir.filePath(QStringLiteral("Физика/Звук")));
    physics->setExpanded(false);
    EXPECT_EQ(physics->childCount(), 0);
    physics->setExpanded(true);
    EXPECT_EQ(physics->childCount(), 3);
}

TEST_F(ChooserTest, OkAcceptsExperimentsAndExpandsGroups) {
    QTreeWidgetItem* physics = Top("Физика");
    chooser.Tree()->setCurrentItem(physics);
    chooser.OkClicked();
    EXPECT_EQ(chooser.result(), QDialog::Rejected);
    EXPECT_TRUE(physics->isExpanded());
    chooser.OkClicked();
    EXPECT_EQ(chooser.result(), QDialog::Rejected) << "OK on a group again keeps the dialog open";

    // A subfolder made inside an experiment turns it into a group when it is selected.
    QTreeWidgetItem* optics = physics->child(0);
    QDir().mkpath(dir.filePath(QStringLiteral("Физика/Оптика/Линзы")));
    chooser.Tree()->setCurrentItem(optics);
    EXPECT_TRUE(TfmExperiments::IsGroup(optics));
    chooser.OkClicked();
    EXPECT_EQ(chooser.result(), QDialog::Rejected);

    chooser.Tree()->setCurrentItem(Top("Биология"));
    chooser.OkClicked();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    tRecordingPrompts prompts;
    tExperiment experiment;
    chooser.LoadExperiment(&experiment);
    EXPECT_EQ(experiment.Name, QStringLiteral("Биология"));
    EXPECT_EQ(experiment.Path, dir.path() + QStringLiteral("/Биология/"));
    EXPECT_EQ(prompts.Boxes.size(), 1) << "no experiment.txt there";
    chooser.LoadExperiment(nullptr);

    // The next chooser comes back at the size it had and with the experiment chosen last.
    chooser.resize(640, 420);
    chooser.Tree()->setCurrentItem(optics->child(0));
    chooser.LoadExperiment(&experiment);
    TfmExperiments next(nullptr);
    next.FillTree(dir.path() + u'/');
    EXPECT_EQ(next.size(), QSize(640, 420));
    ASSERT_TRUE(next.Tree()->currentItem());
    EXPECT_EQ(next.NodeFolder(next.Tree()->currentItem()),
              dir.path() + QStringLiteral("/Физика/Оптика/Линзы/"));
    // A size remembered on a larger screen (or at a smaller scale) is fitted into this one.
    const QSize screen = next.screen()->availableGeometry().size();
    next.resize(screen * 2);
    next.LoadExperiment(&experiment);
    TfmExperiments fitted(nullptr);
    fitted.FillTree(dir.path() + u'/');
    EXPECT_LE(fitted.width(), screen.width());
    EXPECT_LE(fitted.height(), screen.height());
}

// Opened for the first time, the chooser takes a good part of the screen (its form's 510 × 378 at least) and
// fits in it.
TEST_F(ChooserTest, FirstOpenedAtAGoodPartOfTheScreen) {
    TfmExperiments chooser(nullptr);
    const QSize room = chooser.screen()->availableGeometry().size();
    EXPECT_GE(chooser.width(), std::max(510, room.width() / 2));
    EXPECT_GE(chooser.height(), std::max(378, room.height() * 3 / 5));
    EXPECT_LE(chooser.width(), std::max(510, room.width()));
    EXPECT_LE(chooser.height(), std::max(378, room.height()));
}

TEST_F(ChooserTest, DoubleClickOpensAGroupAndTheDescriptionFollowsACollapse) {
    chooser.resize(500, 400);
    chooser.show();
    QTreeWidgetItem* physics = Top("Физика");
    const auto doubleClick = [&](QTreeWidgetItem* item) {
        QWidget* viewport = chooser.Tree()->viewport();
        const QPoint at = chooser.Tree()->visualItemRect(item).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(viewport, &event);
        }
    };
    doubleClick(physics);
    EXPECT_TRUE(physics->isExpanded()) << "opened, not opened and closed again";
    chooser.Tree()->setCurrentItem(physics->child(0));
    WriteFile(dir.filePath(QStringLiteral("Физика/descr.rtf")), "{\\rtf1 Physics}");
    physics->setExpanded(false);
    EXPECT_EQ(chooser.Tree()->currentItem(), physics);
    EXPECT_EQ(chooser.Description()->toPlainText(), QStringLiteral("Physics"));
    EXPECT_EQ(physics->toolTip(0), QStringLiteral("Физика")) << "a name cut short is read in its tip";
    // A long name widens the tree pane, and the dialog with it so that the description stays readable.
    const int before = chooser.Tree()->width();
    const int dialog = chooser.width();
    QDir().mkpath(
        dir.filePath(QStringLiteral("Биология/Очень длинное название опыта о росте проростков фасоли")));
    Top("Биология")->setExpanded(true);
    QCoreApplication::processEvents();
    EXPECT_GT(chooser.Tree()->width(), before);
    EXPECT_GT(chooser.width(), dialog);
    EXPECT_GE(chooser.Description()->width(), 300);
}

TEST_F(ChooserTest, DescriptionOrItsFallback) {
    chooser.Tree()->setCurrentItem(Top("Биология"));
    EXPECT_EQ(chooser.Description()->toPlainText(), QStringLiteral("Описание биологии"));
    chooser.Tree()->setCurrentItem(Top("Пусто"));
    EXPECT_EQ(chooser.Description()->toPlainText(),
              QStringLiteral(" \n \n \nОписание для данного эксперимента не доступно."));
    EXPECT_EQ(chooser.Description()->document()->lastBlock().blockFormat().alignment() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    // In its own letters, not in those of the description shown before it.
    const QTextCharFormat letters =
        chooser.Description()->document()->lastBlock().begin().fragment().charFormat();
    EXPECT_TRUE(letters.font().bold());
    EXPECT_NE(letters.foreground().color(), QColor(31, 78, 140));
    EXPECT_NE(letters.fontPointSize(), 24.0);
    // The fit the experiment suggests is named under its description; none without the key.
    EXPECT_TRUE(chooser.AnalysisHint()->isHidden());
    WriteFile(dir.filePath(QStringLiteral("Пусто/experiment.txt")), "SensorName=T101\r\nFit=ExpApproach\r\n");
    chooser.Tree()->setCurrentItem(Top("Биология"));
    chooser.Tree()->setCurrentItem(Top("Пусто"));
    EXPECT_FALSE(chooser.AnalysisHint()->isHidden());
    EXPECT_EQ(chooser.AnalysisHint()->text(),
              QStringLiteral("Анализ: подбор кривой «%1» %2")
                  .arg(FitModelName(tFitModel::ExpApproach), FitModelFormula(tFitModel::ExpApproach)));

    EXPECT_FALSE(chooser.CopyAction()->isEnabled()) << "nothing selected";
    chooser.Description()->selectAll();
    EXPECT_TRUE(chooser.CopyAction()->isEnabled());
    chooser.ShowHideAction()->setChecked(false);
    EXPECT_FALSE(chooser.PrintAction()->isEnabled());
    EXPECT_FALSE(chooser.SaveAction()->isEnabled());
    chooser.ShowHideAction()->setChecked(true);
    EXPECT_TRUE(chooser.SaveAction()->isEnabled());

    tRecordingPrompts prompts;
    prompts.TextAnswers = {dir.filePath(QStringLiteral("saved.rtf"))};
    chooser.SaveAction()->trigger();
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_EQ(prompts.Boxes[0].Options.DefaultExt, QStringLiteral("rtf"));
    EXPECT_TRUE(ReadFile(dir.filePath(QStringLiteral("saved.rtf"))).startsWith("{\\rtf1"));
    // A folder that cannot be written: the error box, and the chooser goes on.
    prompts.TextAnswers = {dir.filePath(QStringLiteral("нет/saved.rtf"))};
    chooser.SaveAction()->trigger();
    ASSERT_EQ(prompts.Boxes.size(), 3);
    EXPECT_EQ(prompts.Boxes[2].Caption, QStringLiteral("Зорбинка"));
    EXPECT_TRUE(prompts.Boxes[2].Text.startsWith(QStringLiteral("Невозможно создать файл")))
        << prompts.Boxes[2].Text.toStdString();
    chooser.PrintAction()->trigger();
    EXPECT_EQ(prompts.Boxes.last().Kind, QStringLiteral("print"));
}

// The teacher's own catalogue is merged into the shipped one: a group of the same name is one node with the
// experiments of both, the user's copy of an experiment is the one chosen, and a shipped experiment is copied
// into the user's catalogue to be changed there.
TEST_F(ChooserTest, TheUsersOwnExperimentsJoinTheShippedOnes) {
    QTemporaryDir mine;
    for (const char* folder : {"Физика/Тепло/Моё", "Физика/Электричество/Закон Ома", "Мои опыты/Маятник"})
        QDir().mkpath(mine.filePath(QString::fromUtf8(folder)));
    WriteFile(dir.filePath(QStringLiteral("Физика/Оптика/experiment.txt")), "Name=Оптика\r\n");
    WriteFile(dir.filePath(QStringLiteral("Физика/Оптика/descr.rtf")), "{\\rtf1 shipped}");
    TfmExperiments merged(nullptr);
    merged.FillTree(QStringList{dir.path() + u'/', mine.path() + u'/'});
    const auto names = [&](QTreeWidgetItem* parent) {
        QStringList list;
        const int count = parent ? parent->childCount() : merged.Tree()->topLevelItemCount();
        for (int i = 0; i < count; ++i)
            list << (parent ? parent->child(i) : merged.Tree()->topLevelItem(i))->text(0);
        return list;
    };
    EXPECT_EQ(names(nullptr),
              (QStringList{QStringLiteral("Биология"), QStringLiteral("Мои опыты"), QStringLiteral("Пусто"),
                           QStringLiteral("Физика"), QStringLiteral("Химия")}));
    QTreeWidgetItem* physics = merged.Tree()->findItems(QStringLiteral("Физика"), Qt::MatchExactly).first();
    physics->setExpanded(true);
    EXPECT_EQ(names(physics), (QStringList{QStringLiteral("Оптика"), QStringLiteral("Тепло"),
                                           QStringLiteral("Электричество")}));
    physics->child(1)->setExpanded(true);
    EXPECT_EQ(names(physics->child(1)), (QStringList{QStringLiteral("Моё"), QStringLiteral("Нагревание")}));
    EXPECT_EQ(merged.NodeFolder(physics->child(1)->child(0)),
              mine.path() + QStringLiteral("/Физика/Тепло/Моё/"));
    EXPECT_EQ(merged.NodeFolder(physics->child(1)->child(1)),
              dir.path() + QStringLiteral("/Физика/Тепло/Нагревание/"));

    // Copied into the user's catalogue: the copy is the one chosen from then on, and cannot be copied again.
    QTreeWidgetItem* optics = physics->child(0);
    merged.Tree()->setCurrentItem(optics);
    EXPECT_TRUE(merged.CopyToMineAction()->isEnabled());
    tRecordingPrompts prompts;
    merged.CopyToMineAction()->trigger();
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_TRUE(prompts.Boxes[0].Text.startsWith(QStringLiteral("Эксперимент «Оптика» скопирован")));
    EXPECT_EQ(ReadFile(mine.filePath(QStringLiteral("Физика/Оптика/experiment.txt"))), "Name=Оптика\r\n");
    EXPECT_EQ(merged.NodeFolder(optics), mine.path() + QStringLiteral("/Физика/Оптика/"));
    EXPECT_FALSE(merged.CopyToMineAction()->isEnabled());
    merged.Tree()->setCurrentItem(physics);
    EXPECT_FALSE(merged.CopyToMineAction()->isEnabled()) << "a group is not copied";
    // The description is saved into the user's catalogue.
    merged.Tree()->setCurrentItem(optics);
    prompts.TextAnswers = {mine.filePath(QStringLiteral("Физика/Оптика/descr.rtf"))};
    merged.SaveAction()->trigger();
    EXPECT_EQ(prompts.Boxes.last().Options.Directory, mine.path() + QStringLiteral("/Физика/Оптика/"));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Физика/Оптика/descr.rtf"))), "{\\rtf1 shipped}")
        << "the shipped catalogue is never written";
    // With the shipped catalogue alone, nothing is copied.
    chooser.Tree()->setCurrentItem(Top("Биология"));
    EXPECT_FALSE(chooser.CopyToMineAction()->isEnabled());
}

TEST(Catalogue, EverySampleExperimentReads) {
    const QString root = QStringLiteral(SAMPLE_DATA_DIR "/");
    int experiments = 0;
    QStringList sensors;
    std::function<void(const QString&)> walk = [&](const QString& folder) {
        const QStringList children = CatalogueSubfolders(folder);
        if (children.isEmpty()) {
            tRecordingPrompts prompts;
            tExperiment e;
            LoadExperimentFolder(e, QDir(folder).dirName(), folder, nullptr);
            EXPECT_TRUE(prompts.Boxes.isEmpty()) << folder.toStdString();
            EXPECT_TRUE(QFile::exists(folder + QStringLiteral("descr.rtf")));
            EXPECT_TRUE(QFile::exists(folder + QStringLiteral("report.rtf")));
            TRichEdit edit;
            edit.LoadFromFile(folder + QStringLiteral("report.rtf"));
            EXPECT_TRUE(edit.toPlainText().contains(QStringLiteral("Отчёт о лабораторной работе")));
            sensors << e.SensorName;
            ++experiments;
            // The fit that answers each experiment's question, where a curve answers it.
            const std::map<QString, std::optional<tFitModel>> fits = {
                {QStringLiteral("Нагревание воды"), tFitModel::Line},
                {QStringLiteral("Остывание воды в разных сосудах"), tFitModel::ExpApproach},
                {QStringLiteral("Освещённость и расстояние до лампы"), tFitModel::Power},
                {QStringLiteral("Зарядка конденсатора"), tFitModel::RiseToLimit},
                {QStringLiteral("Звуковые колебания камертона"), tFitModel::Sine}};
            const auto fit = fits.find(QDir(folder).dirName());
            EXPECT_EQ(e.SuggestedFit, fit == fits.end() ? std::nullopt : fit->second) << folder.toStdString();
            // The demo thermometer of the experiment tells its story: inside the chart's range over its time,
            // and cooling where the experiment is about cooling.
            const std::map<QString, double (*)(double)> thermometers = {
                {QStringLiteral("T101"), WarmingSignal},
                {QStringLiteral("T102"), CoolingSignal},
                {QStringLiteral("T103"), DissolvingSignal}};
            if (const auto it = thermometers.find(e.SensorName); it != thermometers.end()) {
                double low = 1e9;
                for (double t = e.MinX; t <= e.MaxX; t += (e.MaxX - e.MinX) / 100) {
                    EXPECT_GT(it->second(t), e.MinY) << folder.toStdString() << " at " << t;
                    EXPECT_LT(it->second(t), e.MaxY) << folder.toStdString() << " at " << t;
                    low = std::min(low, it->second(t));
                }
                const bool cools = folder.contains(QStringLiteral("Остывание")) ||
                                   folder.contains(QStringLiteral("нитрата"));
                EXPECT_EQ(low < it->second(e.MinX) - 5, cools) << folder.toStdString();
            }
            return;
        }
        for (const QString& child : children) walk(folder + child + u'/');
    };
    walk(root);
    EXPECT_GE(experiments, 8);
    for (const char* sensor : {"M401", "C101", "NO", "T101", "T102", "T103"})
        EXPECT_TRUE(sensors.contains(QString::fromLatin1(sensor))) << sensor;
}
