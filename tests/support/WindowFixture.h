// A main window over demo sensors, with the program folder in a temporary directory.
#pragma once

#include "core/CommandLine.h"
#include "core/TextCodec.h"
#include "device/Searches.h"
#include "support/RecordingPrompts.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"
#include "ui/Mainfm.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

class tWindowFixture : public tSimFixture {
protected:
    void SetUp() override {
        // The window's ticks are slower than a free-running sensor: the sensors run 20 times faster than real
        // time.
        clock = std::make_shared<tVirtualClock>(20);
        tSimFixture::SetUp();
        SetDetectorSpacing(0);
        SetExecutablePath(dir.filePath(QStringLiteral("zorbinka")));
        // Work folders and the user's state (links sensors were found on, collection settings) of this test
        // alone.
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    }
    void TearDown() override {
        window.reset();
        SetDetectorSpacing(100);
        tSimFixture::TearDown();
    }

    // The program's settings file.
    void Cfg(const char* text) { WriteFile(dir.filePath(QStringLiteral("zorbinka.cfg")), text); }
    // The catalogue folder of one experiment with its description file (stored in Windows-1251); returns the
    // folder.
    QString Experiment(const char* name, const char* text) {
        const QString folder = dir.filePath(QStringLiteral("data/Опыты/") + QString::fromUtf8(name));
        QDir().mkpath(folder);
        WriteFile(folder + QStringLiteral("/experiment.txt"),
                  EncodeCodePage(QString::fromUtf8(text), tCodePage::Cp1251));
        return folder;
    }

    QTemporaryDir dir;
    tRecordingPrompts prompts;
    std::unique_ptr<TfmMain> window;
};
