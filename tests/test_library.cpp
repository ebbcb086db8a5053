// Binding the D2XX library: load and lookup errors, the two log entries, the box without a log, one binding.
#include "core/Exception.h"
#include "device/Ftdilibrary.h"
#include "device/Library.h"
#include "support/LogCapture.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"

#include <gtest/gtest.h>

namespace {

const QString kFull = QStringLiteral(FAKE_D2XX_FULL);
const QString kIncomplete = QStringLiteral(FAKE_D2XX_INCOMPLETE);

QString ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(Library, LoadAndLookupErrorsNameTheLibraryAndTheReason) {
    const QString load = ErrorOf([] { tLibrary library(QStringLiteral("libzorbinka-absent.so")); });
    EXPECT_TRUE(load.startsWith(QStringLiteral("Системная ошибка : Невозможно загрузить библиотеку "
                                               "libzorbinka-absent.so.\r\nПричина: libzorbinka-absent.so")))
        << load.toStdString();

    tLibrary library(kFull);
    EXPECT_NE(static_cast<void*>(library), nullptr);
    EXPECT_EQ(library.GetFileName(), kFull);
    EXPECT_NE(library.GetProc(QStringLiteral("FT_W32_ReadFile")), nullptr);
    const QString lookup = ErrorOf([&] { library.GetProc(QStringLiteral("FT_Missing")); });
    EXPECT_TRUE(lookup.startsWith(
        QStringLiteral("Системная ошибка : Невозможно получить адрес процедуры FT_Missing из "
                       "библиотеки ") +
        kFull + QStringLiteral(".\r\nПричина: ")))
        << lookup.toStdString();
}

TEST(FtdiLibrary, FailuresAreLoggedAsTwoEntries) {
    const struct {
        QString file;
        bool loaded;
        QString firstEntryStart;
    } rows[] = {
        {QStringLiteral("libzorbinka-absent.so"), false,
         QStringLiteral(
             "Системная ошибка : Невозможно загрузить библиотеку libzorbinka-absent.so.\r\nПричина: ")},
        {kIncomplete, false,
         QStringLiteral(
             "Системная ошибка : Невозможно получить адрес процедуры FT_W32_GetLastError из библиотеки ") +
             kIncomplete},
        {kFull, true, QString()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        tLogCapture log;
        tFTDILibrary library(row.file);
        EXPECT_EQ(library.IsLoaded(), row.loaded);
        const QStringList entries = log.Entries();
        if (row.loaded) {
            EXPECT_TRUE(entries.isEmpty());
            EXPECT_NE(library.FT_W32_GetLastError, nullptr);
            continue;
        }
        ASSERT_EQ(entries.size(), 2);
        EXPECT_TRUE(entries[0].startsWith(row.firstEntryStart)) << entries[0].toStdString();
        EXPECT_EQ(entries[1], QStringLiteral("Использование интерфейса FTDI невозможно!"));
    }
}

TEST(FtdiLibrary, WithoutALogAWarningBoxIsShown) {
    tRecordingPrompts prompts;
    tFTDILibrary library(QStringLiteral("libzorbinka-absent.so"));
    EXPECT_FALSE(library.IsLoaded());
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_EQ(prompts.Boxes[0].Caption, QStringLiteral("Внимание"));
    EXPECT_EQ(prompts.Boxes[0].Icon, tBoxIcon::Warning);
    EXPECT_EQ(prompts.Boxes[0].Buttons, bbOk);
    EXPECT_TRUE(prompts.Boxes[0].Text.startsWith(QStringLiteral(
        "Использование интерфейса FTDI невозможно!\r\nПричина: Системная ошибка : Невозможно загрузить "
        "библиотеку libzorbinka-absent.so.")));
}

TEST(FtdiLibrary, OneProcessWideBindingThatIsNotRetried) {
    tLogCapture log;
    SetFTDILibrary(nullptr);
    tFTDILibrary& first = GetFTDILibrary();
    const int entries = int(log.Entries().size());
    tFTDILibrary& second = GetFTDILibrary();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(int(log.Entries().size()), entries) << "no second attempt to load";
    SetFTDILibrary(nullptr);
}
