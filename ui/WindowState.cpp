// The enabling and check rules of the main window's commands.
#include "ui/WindowState.h"

tCommandStates CommandStates(const tWindowFacts& facts) {
    tCommandStates states;
    if (facts.Busy) return states;
    const auto set = [&](tCommand command, bool enabled) { states.Enabled[std::size_t(command)] = enabled; };
    for (const tCommand always :
         {tCommand::Exit, tCommand::OpenWork, tCommand::About, tCommand::ToolBar, tCommand::StatusBar,
          tCommand::Connect, tCommand::Choose, tCommand::Print, tCommand::PrintSetup, tCommand::PageSetup})
        set(always, true);
    const tWindowState state = facts.State;
    const bool measuring = state == tWindowState::Measuring;
    const bool connected = state == tWindowState::Connected || measuring;
    states.ConnectChecked = connected;
    set(tCommand::Start, state == tWindowState::Connected);
    set(tCommand::Stop, measuring);
    set(tCommand::MarkPoint, measuring);
    // The chart is exported once a sensor is connected, or whenever it holds a curve (a lost sensor, a
    // reopened work); the other pages whenever nothing is measured, with or without a sensor.
    const bool chartPage = facts.Page == tShownPage::Chart || facts.Page == tShownPage::None;
    set(tCommand::Export,
        !measuring &&
            (chartPage ? connected || (facts.Page == tShownPage::Chart && facts.ChartHasPoints) : true));
    set(tCommand::AddImage, facts.Page == tShownPage::Report);
    set(tCommand::ShowAll, facts.Page != tShownPage::None && !measuring);
    // A curve on the chart page, not being measured, is analysed.
    set(tCommand::Analyse, !measuring && facts.Page == tShownPage::Chart && facts.ChartHasPoints);
    // The runs and the big digits whenever an experiment is open; how runs are collected, between runs.
    set(tCommand::Collection, facts.Page != tShownPage::None && !measuring && !facts.Events);
    set(tCommand::Runs, facts.Page != tShownPage::None);
    set(tCommand::BigDigits, facts.Page != tShownPage::None);
    return states;
}
