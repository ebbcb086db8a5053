// The string table: every numbered message the program shows or logs, looked up by id.
#pragma once

#include <QString>
#include <QStringList>

enum tStringId : int {
    sSystemError = 903,
    sCannotSetWindowText = 1000,
    sCannotGetWindowClass = 1001,
    sCannotCreateMutex = 1002,
    sCannotReadSettings = 1004,
    sCannotOpenDevice = 1007,
    sCannotSetDeviceParams = 1008,
    sNoSensorsBusy = 1013,
    sNoSensorsNoPorts = 1014,
    sProgramStart = 5000,
    sProgramStop = 5001,
    sConfirmExit = 5003,
    sNoDescription = 5009,
    sConfirmNewExperiment = 5010,
    sChooseExperimentFirst = 5011,
    sCannotLoadExperiment = 5012,
    sNoReportTemplate = 5013,
    sReceiveError = 10002,
    sSendError = 10003,
    sCaptionError = 20000,
    sCaptionWarning = 20001,
    sCaptionConfirm = 20003,
    sCaptionInput = 20005,
};

// The text of message `id`; an unknown id gives an empty text.
QString LoadStr(int id);

// Message `id` with its "%s" and "%d" placeholders replaced by `args` in order.
QString FmtLoadStr(int id, const QStringList& args);

// `format` with its "%s" and "%d" placeholders replaced by `args` in order; "%%" is a percent sign.
QString FormatPercent(const QString& format, const QStringList& args);
