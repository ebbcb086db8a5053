// SPDX-License-Identifier: GPL-3.0-or-later
// A worker thread waited for with the event loop running, and the search box.
#include "ui/OffThread.h"

#include "core/Prompts.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <exception>
#include <thread>

void RunOffThread(const std::function<void()>& work, const std::function<void()>& poll, bool input) {
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    // The worker only sets its flag: a call it queued into the window's loop would be ordered by the
    // toolkit's own locks, which a thread sanitizer cannot see, and a look every 10 ms costs nothing beside
    // the work waited for.
    QEventLoop loop;
    QTimer watch;
    int looks = 0;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (finished) loop.quit();
        if (poll && ++looks % 10 == 0) poll();
    });
    watch.start(10);
    if (!finished) loop.exec(input ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

tProgress::tProgress(QWidget* parent, const QString& text) : FParent(parent), FText(text) {
    if (!Prompts().Progress(FParent, FText, 0, 1000)) FCancelled = true;
}

bool tProgress::Told(qint64 done, qint64 total) {
    FDone = done;
    FTotal = std::max<qint64>(1, total);
    return !FCancelled;
}

void tProgress::Show() {
    if (!FCancelled && !Prompts().Progress(FParent, FText, int(FDone * 1000 / FTotal), 1000))
        FCancelled = true;
}

void tProgress::Finish() {
    if (!FCancelled) Prompts().Progress(FParent, FText, 1000, 1000);
}

TSearchBox::TSearchBox(QWidget* owner, const QString& wanted) : QDialog(owner) {
    setObjectName(QStringLiteral("SearchBox"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setWindowModality(Qt::WindowModal);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    lbLink = new QLabel;
    layout->addWidget(new QLabel(QStringLiteral("Поиск датчика «%1»…").arg(wanted)));
    layout->addWidget(busy);
    layout->addWidget(lbLink);
    btCancel = new QPushButton(QStringLiteral("Отмена"));
    btCancel->setObjectName(QStringLiteral("btCancel"));
    connect(btCancel, &QPushButton::clicked, this, &TSearchBox::reject);
    layout->addWidget(btCancel, 0, Qt::AlignRight);
    ShowLink(QString());
}

void TSearchBox::reject() {
    // The box stays until the search ends: the link searched now is finished first.
    FCancel = true;
    btCancel->setEnabled(false);
    btCancel->setText(QStringLiteral("Отмена…"));
}

void TSearchBox::ShowLink(const QString& link) {
    lbLink->setText(QStringLiteral("Подключение: %1").arg(link));
}
