// Settings store: lookup rules, edits, index errors, file formats, INI sections, the lock.
#include "core/Exception.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/TextCodec.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct tStoreFile {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("zorbinka.cfg"));
    explicit tStoreFile(const QByteArray& bytes) { WriteFile(path, bytes); }
};

} // namespace

TEST(Settings, LookupFollowsTheListRules) {
    // Mixed line ends, a UTF-8 byte-order mark, a blank in a name, duplicates and a line without "=".
    tStoreFile file(
        "\xEF\xBB\xBFusecdc=1\r\nUseCDC = 2\nTimeout=100\rTimeout=200\r\njunk line\r\nLatency=\r\n");
    tSettings store(false);
    store.Load(file.path);
    ASSERT_EQ(store.GetCount(), 6);

    const struct {
        const char* name;
        const char* value;
        int index;
    } rows[] = {
        {"UseCDC", "1", 0}, {"USECDC", "1", 0},  {"UseCDC ", " 2", 1},  {"Timeout", "100", 2},
        {"Latency", "", 5}, {"Missing", "", -1}, {"junk line", "", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(store.GetSettingByName(QString::fromUtf8(row.name)), QString::fromUtf8(row.value));
        EXPECT_EQ(store.IndexOfName(QString::fromUtf8(row.name)), row.index);
    }
    EXPECT_EQ(store.GetNameByIndex(1), QStringLiteral("UseCDC "));
    EXPECT_EQ(store.GetNameByIndex(4), QString());
    // The second Timeout line is shadowed: reading it by index gives the first one's value.
    EXPECT_EQ(store.GetSettingByIndex(3), QStringLiteral("100"));
    EXPECT_EQ(store.GetFileName(), file.path);
}

TEST(Settings, TypedReadersFallBackToTheirDefaults) {
    tStoreFile file("A=12\nB=abc\nC=\nD= 7\nE=-3\nF=0\nG=2\nH=1.5\n");
    tSettings store(false);
    store.Load(file.path);
    const struct {
        const char* name;
        int expected;
    } ints[] = {{"A", 12}, {"B", 99}, {"C", 99}, {"E", -3}, {"H", 99}, {"Nope", 99}};
    for (const auto& row : ints)
        EXPECT_EQ(store.GetInt(QString::fromLatin1(row.name), 99), row.expected) << row.name;
    EXPECT_TRUE(store.GetBool(QStringLiteral("G"), false));
    EXPECT_FALSE(store.GetBool(QStringLiteral("F"), true));
    EXPECT_TRUE(store.GetBool(QStringLiteral("B"), true));
}

TEST(Settings, SetSettingByNameDeletesOnEmptyButAddNameKeepsTheLine) {
    tSettings store(false);
    store.SetSettingByName(QStringLiteral("Latency"), QStringLiteral("16"));
    store.SetSettingByName(QStringLiteral("Timeout"), QStringLiteral("5000"));
    EXPECT_EQ(store.GetCount(), 2);

    store.SetSettingByName(QStringLiteral("latency"), QStringLiteral("32"));
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("Latency")), QStringLiteral("32"));
    EXPECT_EQ(store.GetNameByIndex(0), QStringLiteral("Latency")) << "the line keeps its own name";

    store.SetSettingByName(QStringLiteral("Latency"), QString());
    EXPECT_EQ(store.IndexOfName(QStringLiteral("Latency")), -1);
    store.SetSettingByName(QStringLiteral("Absent"), QString());
    EXPECT_EQ(store.GetCount(), 1);

    EXPECT_EQ(store.AddName(QStringLiteral("Latency"), QString()), 1);
    EXPECT_EQ(store.IndexOfName(QStringLiteral("Latency")), 1);
    EXPECT_EQ(store.AddName(QStringLiteral("TIMEOUT"), QStringLiteral("10")), 0);
    EXPECT_EQ(store.GetNameByIndex(0), QStringLiteral("TIMEOUT")) << "AddName replaces the whole line";

    store.SetSettingByIndex(0, QStringLiteral("20"));
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("Timeout")), QStringLiteral("20"));
    store.SetSettingByIndex(0, QString());
    EXPECT_EQ(store.GetCount(), 1);
}

TEST(Settings, IndexOutsideTheListFailsAndChangesNothing) {
    tSettings store(false);
    store.AddName(QStringLiteral("A"), QStringLiteral("1"));
    for (const int index : {-1, 1, 100}) {
        EXPECT_THROW(store.GetNameByIndex(index), EListError) << index;
        EXPECT_THROW(store.GetSettingByIndex(index), EListError) << index;
        EXPECT_THROW(store.SetSettingByIndex(index, QStringLiteral("x")), EListError) << index;
    }
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("A")), QStringLiteral("1"));
}

TEST(Settings, MissingFileRaises1004AndLeavesTheStoreAlone) {
    tStoreFile file("A=1\n");
    tSettings store(false);
    store.Load(file.path);

    const QString missing = file.dir.filePath(QStringLiteral("absent.cfg"));
    try {
        store.Load(missing);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Невозможно прочитать настройки из '%1'.\r\nПричина: Файл не найден.")
                      .arg(missing));
    }
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_EQ(store.GetFileName(), file.path);

    tSettings empty(false);
    try {
        empty.Load();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), FmtLoadStr(sCannotReadSettings, {QString()}));
    }
}

TEST(Settings, ReadsCp1251AndSurvivesJunk) {
    const QByteArray cp1251 = EncodeCodePage(QStringLiteral("Имя=Значение\r\n"), tCodePage::Cp1251);
    tStoreFile file(cp1251 + QByteArray("\x00\x01\xff\xfe=\r\n\r\n\r\nTimeout=x5\nUseHID=1", 30));
    tSettings store(false);
    store.Load(file.path);
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("имя")), QStringLiteral("Значение"));
    EXPECT_EQ(store.GetInt(QStringLiteral("Timeout"), 5000), 5000);
    EXPECT_EQ(store.GetInt(QStringLiteral("UseHID"), 0), 1);
}

TEST(Settings, SaveWritesLinesWithCrLfAndRemembersTheFile) {
    tStoreFile file("");
    tSettings store(false);
    store.AddName(QStringLiteral("Имя"), QStringLiteral("1"));
    store.AddName(QStringLiteral("junk"), QString());
    const QString target = file.dir.filePath(QStringLiteral("out.cfg"));
    store.Save(target);
    EXPECT_EQ(ReadFile(target), QStringLiteral("Имя=1\r\njunk=\r\n").toUtf8());
    EXPECT_EQ(store.GetFileName(), target);

    tSettings again(false);
    again.Load(target);
    EXPECT_EQ(again.GetSettingByName(QStringLiteral("имя")), QStringLiteral("1"));
}

TEST(Settings, IniSectionIsReadAndWrittenWithoutDisturbingTheRest) {
    const QByteArray original =
        "; comment\r\n[Other]\r\nx=outside\r\n\r\n[Zorb]\r\n x = 1 \r\ny=2\r\n\r\n[Tail]\r\nz=3\r\n";
    tStoreFile file(original);
    tSettings store(file.path, QStringLiteral("zorb"), false);
    store.Load();
    ASSERT_EQ(store.GetCount(), 2);
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("x")), QStringLiteral("1"));
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("y")), QStringLiteral("2"));

    store.SetSettingByName(QStringLiteral("x"), QStringLiteral("10"));
    store.SetSettingByName(QStringLiteral("w"), QStringLiteral("новое"));
    store.Save();
    EXPECT_EQ(QString::fromUtf8(ReadFile(file.path)),
              QStringLiteral("; "
                             "comment\r\n[Other]\r\nx=outside\r\n\r\n[Zorb]\r\nx=10\r\ny=2\r\nw="
                             "новое\r\n\r\n[Tail]\r\nz=3\r\n"));

    tSettings other(file.path, QStringLiteral("Other"), false);
    other.Load();
    EXPECT_EQ(other.GetSettingByName(QStringLiteral("x")), QStringLiteral("outside"));

    tSettings absent(file.path, QStringLiteral("Absent"), false);
    absent.Load();
    EXPECT_EQ(absent.GetCount(), 0);
    absent.SetSettingByName(QStringLiteral("k"), QStringLiteral("v"));
    absent.Save();
    EXPECT_TRUE(
        QString::fromUtf8(ReadFile(file.path)).endsWith(QStringLiteral("z=3\r\n\r\n[Absent]\r\nk=v\r\n")));
}

TEST(Settings, IniFileInCp1251StaysCp1251) {
    const QByteArray original =
        EncodeCodePage(QStringLiteral("[Раздел]\r\nключ=знач\r\n"), tCodePage::Cp1251);
    tStoreFile file(original);
    tSettings store(file.path, QStringLiteral("Раздел"), false);
    store.Load();
    EXPECT_EQ(store.GetSettingByName(QStringLiteral("КЛЮЧ")), QStringLiteral("знач"));
    store.Save();
    EXPECT_EQ(ReadFile(file.path), original);
}

TEST(Settings, AssignToCopiesEverything) {
    tSettings source(QStringLiteral("/tmp/a.ini"), QStringLiteral("S"), true);
    source.AddName(QStringLiteral("a"), QStringLiteral("1"));
    source.AddName(QStringLiteral("b"), QStringLiteral("2"));
    tSettings target(false);
    target.AddName(QStringLiteral("old"), QStringLiteral("x"));
    source.AssignTo(target);
    EXPECT_EQ(target.GetSection(), QStringLiteral("S"));
    EXPECT_EQ(target.GetFileName(), QStringLiteral("/tmp/a.ini"));
    ASSERT_EQ(target.GetCount(), 2);
    EXPECT_EQ(target.GetSettingByName(QStringLiteral("b")), QStringLiteral("2"));
    EXPECT_EQ(target.IndexOfName(QStringLiteral("old")), -1);
}

TEST(Settings, ThreadSafeStoreTakesReadersAndWritersAtOnce) {
    tSettings store(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 500; ++i)
                store.SetSettingByName(QStringLiteral("key%1").arg(t), QString::number(i));
        });
        threads.emplace_back([&store] {
            for (int i = 0; i < 500; ++i) {
                const int count = store.GetCount();
                if (count > 0) (void)store.GetSettingByName(QStringLiteral("key0"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(store.GetCount(), 4);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(store.GetSettingByName(QStringLiteral("key%1").arg(t)), QStringLiteral("499"));
}

// The user's own file overrides the shipped settings key by key and says what it changed; a missing or
// unreadable file changes nothing.
TEST(Settings, TheUsersOwnFileOverridesKeyByKey) {
    const struct {
        const char* own;     // nullptr: no file
        const char* changed; // the lines said, joined by "|"
        const char* useFtdi; // the shipped UseFTDI=1 afterwards
        const char* timeout; // the shipped Timeout=5000 afterwards
    } rows[] = {
        {nullptr, "", "1", "5000"},
        {"", "", "1", "5000"},
        {"UseFTDI=0\r\n", "UseFTDI=0", "0", "5000"},
        {"useftdi=0\nTimeout=100\nUseFTDI=1\n", "useftdi=0|Timeout=100", "0", "100"},
        {"UseFTDI=1\r\nTimeout=5000\r\n", "", "1", "5000"},
        {"Timeout=\r\njunk\r\n", "Timeout=", "1", ""},
        {"\xEF\xBB\xBF UseFTDI =0\r\n", "UseFTDI=0", "0", "5000"},
        {"NewKey=\xC4\xE0\r\n", "NewKey=Да", "1", "5000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.own ? row.own : "(none)");
        tStoreFile shipped("UseFTDI=1\r\nTimeout=5000\r\n");
        tSettings store(false);
        store.Load(shipped.path);
        const QString own = shipped.dir.filePath(QStringLiteral("own.cfg"));
        if (row.own) WriteFile(own, row.own);
        EXPECT_EQ(OverlaySettings(store, own).join(u'|'), QString::fromUtf8(row.changed));
        EXPECT_EQ(store.GetSettingByName(QStringLiteral("UseFTDI")), QString::fromUtf8(row.useFtdi));
        EXPECT_EQ(store.GetSettingByName(QStringLiteral("Timeout")), QString::fromUtf8(row.timeout));
    }
    tSettings store(false);
    EXPECT_TRUE(OverlaySettings(store, QStringLiteral("/proc/self/mem")).isEmpty()) << "unreadable: nothing";
}
