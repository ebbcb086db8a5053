// SPDX-License-Identifier: GPL-3.0-or-later
// Long work off the window's thread while the window goes on: the sensor searches, the reading of a work.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>

class QLabel;
class QPushButton;

// Runs `work` on a thread of its own while this thread's event loop goes on (with the user's input only when
// `input`), calling `poll` every 100 ms meanwhile; an error that escaped `work` is raised here.
void RunOffThread(const std::function<void()>& work, const std::function<void()>& poll, bool input);

// How far a work off the window's thread has got, shown in a progress box over `parent` that can cancel.
class tProgress {
public:
    tProgress(QWidget* parent, const QString& text);
    // Told by the work, on its thread: how far it is; false once the user cancelled.
    bool Told(qint64 done, qint64 total);
    // On the window's thread: the box brought up to date, and closed when the work is done.
    void Show();
    void Finish();
    bool Cancelled() const { return FCancelled; }

private:
    QWidget* FParent;
    QString FText;
    std::atomic<qint64> FDone{0};
    std::atomic<qint64> FTotal{1};
    std::atomic<bool> FCancelled{false};
};

// The small box shown while the sensor searches run: the sensor searched for and the link searched now;
// Отмена ends the search after the link searched.
class TSearchBox : public QDialog {
    Q_OBJECT
public:
    TSearchBox(QWidget* owner, const QString& wanted);
    void ShowLink(const QString& link);
    const std::atomic<bool>* Cancel() const { return &FCancel; }

protected:
    void reject() override;

private:
    QLabel* lbLink = nullptr;
    QPushButton* btCancel = nullptr;
    std::atomic<bool> FCancel{false};
};
