// SPDX-License-Identifier: GPL-3.0-or-later
// «Параметры сбора»: a run's duration, the countdown before it and the trigger that starts it.
#pragma once

#include "runs/Collection.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

class TfmCollection : public QDialog {
    Q_OBJECT
public:
    // `unit`: the caption of the measured quantity, for the level.
    TfmCollection(QWidget* owner, const QString& unit);
    void Set(const tCollection& collection);
    tCollection Get() const;

    QDoubleSpinBox* edDuration = nullptr;
    QDoubleSpinBox* edDelay = nullptr;
    QCheckBox* cbTrigger = nullptr;
    QDoubleSpinBox* edLevel = nullptr;
    QComboBox* cbSlope = nullptr;
    QDoubleSpinBox* edPreTrigger = nullptr;
};
