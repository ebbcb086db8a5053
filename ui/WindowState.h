// The workflow's states and, in one place, what every command of the main window may do in each.
#pragma once

#include <array>
#include <cstddef>

// Where a lesson stands.
enum class tWindowState {
    NoExperiment, // nothing chosen yet
    Chosen,       // an experiment is open, no sensor connected (an experiment without a sensor stays here)
    Connected,    // its sensor is connected and idle
    Measuring,    // a run is being measured
    SensorLost, // the sensor stopped answering during a run and was let go: Подключение finds it again
    WorkOpened, // a saved work is open, without a sensor
};

// The commands of the main window.
enum class tCommand {
    Exit,
    OpenWork,
    About,
    ToolBar,
    StatusBar,
    ShowAll,
    Connect,
    Choose,
    Start,
    Stop,
    MarkPoint,
    Export,
    Print,
    PrintSetup,
    PageSetup,
    AddImage,
    Analyse,    // the Анализ menu
    Collection, // Параметры сбора
    Runs,       // the runs panel
    BigDigits,
};
inline constexpr std::size_t kCommandCount = std::size_t(tCommand::BigDigits) + 1;

// The page of the open experiment that the File commands act on.
enum class tShownPage { None, Chart, Table, Description, Report };

// What the rules look at besides the state.
struct tWindowFacts {
    tWindowState State = tWindowState::NoExperiment;
    tShownPage Page = tShownPage::None;
    // The sensor searches run, or a work is read: every command waits for them.
    bool Busy = false;
    // The chart holds a measured curve (to export without a sensor).
    bool ChartHasPoints = false;
    // The experiment keeps points at typed values: how runs are collected over time does not apply.
    bool Events = false;
};

struct tCommandStates {
    std::array<bool, kCommandCount> Enabled{};
    // Подключение is shown pressed exactly while a sensor is connected.
    bool ConnectChecked = false;
    bool operator[](tCommand command) const { return Enabled[std::size_t(command)]; }
};

tCommandStates CommandStates(const tWindowFacts& facts);
