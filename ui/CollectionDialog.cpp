// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CollectionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QDoubleSpinBox* Seconds(double most, const QString& none) {
    auto* edit = new QDoubleSpinBox;
    edit->setRange(0, most);
    edit->setDecimals(1);
    edit->setSingleStep(1);
    edit->setSuffix(QStringLiteral(" с"));
    edit->setSpecialValueText(none);
    return edit;
}

} // namespace

TfmCollection::TfmCollection(QWidget* owner, const QString& unit) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Параметры сбора"));
    edDuration = Seconds(24 * 3600, QStringLiteral("до нажатия «Стоп»"));
    edDelay = Seconds(3600, QStringLiteral("нет"));
    cbTrigger = new QCheckBox(QStringLiteral("Запуск по уровню сигнала"));
    edLevel = new QDoubleSpinBox;
    edLevel->setRange(-1e9, 1e9);
    edLevel->setDecimals(3);
    cbSlope = new QComboBox;
    cbSlope->addItems({QStringLiteral("при росте выше уровня"), QStringLiteral("при спаде ниже уровня")});
    edPreTrigger = Seconds(kMaxPreTrigger, QStringLiteral("нет"));
    edPreTrigger->setDecimals(2);
    edPreTrigger->setSingleStep(0.1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Длительность опыта:"), edDuration);
    form->addRow(QStringLiteral("Задержка пуска:"), edDelay);
    form->addRow(cbTrigger);
    form->addRow(QStringLiteral("Уровень (%1):").arg(unit), edLevel);
    form->addRow(QStringLiteral("Запуск:"), cbSlope);
    form->addRow(QStringLiteral("Сохранить до запуска:"), edPreTrigger);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    const auto enable = [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{edLevel, cbSlope, edPreTrigger}) w->setEnabled(on);
    };
    connect(cbTrigger, &QCheckBox::toggled, this, enable);
    enable(false);
}

void TfmCollection::Set(const tCollection& c) {
    edDuration->setValue(c.Duration);
    edDelay->setValue(c.StartDelay);
    cbTrigger->setChecked(c.Trigger);
    edLevel->setValue(c.TriggerLevel);
    cbSlope->setCurrentIndex(c.TriggerRising ? 0 : 1);
    edPreTrigger->setValue(c.PreTrigger);
}

tCollection TfmCollection::Get() const {
    tCollection c;
    c.Duration = edDuration->value();
    c.StartDelay = edDelay->value();
    c.Trigger = cbTrigger->isChecked();
    c.TriggerLevel = edLevel->value();
    c.TriggerRising = cbSlope->currentIndex() == 0;
    c.PreTrigger = edPreTrigger->value();
    return c;
}
