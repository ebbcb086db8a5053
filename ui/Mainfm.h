// The main window: owns the settings, the decoded channels and, later, the experiment, the sensor and the
// frame.
#pragma once

#include "core/Settings.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class tSessionEnd;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    // Loads the settings from the .cfg beside the executable; a missing file raises message 1004.
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    tSettings& Settings() { return *FSettings; }

    // Brings the window forward for a second copy of the program: a minimised window comes back in the
    // state it had, then it is raised and activated.
    void RestoreAndRaise();

    std::array<std::vector<double>, 16> Channels;
    std::int64_t PerfFrequency = 0;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The close query: asks 5003 while installed; log-off removes it.
    bool FormCloseQuery();

    bool FCloseQueryInstalled = true;
    std::unique_ptr<tSettings> FSettings;
    tSessionEnd* FSessionEnd = nullptr;
};

// The program's title, the window caption until an experiment is chosen.
extern const char kApplicationTitle[];

// The one main window while it exists.
extern TfmMain* fmMain;
