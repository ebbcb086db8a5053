// Test double of tPrompts: records every box and dialog and answers from a script, else with the default.
#pragma once

#include "core/Prompts.h"

#include <QList>
#include <QString>
#include <deque>
#include <functional>

struct tRecordedBox {
    QString Kind; // "box", "input", "open", "save", "print", "printsetup", "pagesetup"
    QString Text;
    QString Caption;
    tBoxIcon Icon = tBoxIcon::Information;
    int Buttons = 0;
    int DefaultButton = 0;
    tFileDialogOptions Options;
    QString Value; // an input box's value offered
};

class tRecordingPrompts : public tPrompts {
public:
    tRecordingPrompts() { SetPrompts(this); }
    ~tRecordingPrompts() override { SetPrompts(nullptr); }

    // Answers for the next boxes (a button), input boxes (text, or "\x1b" to cancel) and file dialogs
    // (a path, empty = cancel), taken in order; without one a box answers its default button, an input
    // box and a dialog cancel.
    std::deque<int> ButtonAnswers;
    std::deque<QString> TextAnswers;
    std::deque<bool> DialogAnswers;
    QList<tRecordedBox> Boxes;
    // Runs while a box is shown, as the user takes time to answer: a real box runs an event loop meanwhile.
    std::function<void()> WhileShown;

    int MessageBox(QWidget*, const QString& text, const QString& caption, tBoxIcon icon, int buttons,
                   int defaultButton) override {
        Boxes.append({QStringLiteral("box"), text, caption, icon, buttons, defaultButton, {}, {}});
        if (WhileShown) WhileShown();
        if (ButtonAnswers.empty()) return defaultButton;
        const int answer = ButtonAnswers.front();
        ButtonAnswers.pop_front();
        return answer;
    }

    // Recorded as a box, answered by nothing: the program does not wait for it.
    void Notify(QWidget*, const QString& text, const QString& caption, tBoxIcon icon) override {
        Boxes.append({QStringLiteral("notice"), text, caption, icon, bbOk, bbOk, {}, {}});
    }

    bool InputQuery(QWidget*, const QString& caption, const QString& prompt, QString& value) override {
        Boxes.append({QStringLiteral("input"), prompt, caption, tBoxIcon::Information, 0, 0, {}, value});
        if (WhileShown) WhileShown();
        if (TextAnswers.empty() || TextAnswers.front() == QStringLiteral("\x1b")) {
            if (!TextAnswers.empty()) TextAnswers.pop_front();
            return false;
        }
        value = TextAnswers.front();
        TextAnswers.pop_front();
        return true;
    }

    // A choice among items: the text answer names the item ("\x1b" or none: cancelled).
    bool ChooseItem(QWidget*, const QString& caption, const QString& prompt, const QStringList& items,
                    QString& value) override {
        Boxes.append({QStringLiteral("choice"), prompt, caption, tBoxIcon::Question, 0, 0, {}, items.join(u'|')});
        if (TextAnswers.empty()) return false;
        value = TextAnswers.front();
        TextAnswers.pop_front();
        return items.contains(value);
    }

    QString OpenFileName(QWidget*, const tFileDialogOptions& options) override {
        return File("open", options);
    }
    QString SaveFileName(QWidget*, const tFileDialogOptions& options) override {
        return File("save", options);
    }
    bool PrintDialog(QWidget*, QPrinter& printer) override {
        if (OnPrinter) OnPrinter(printer);
        return Dialog("print");
    }
    bool PrinterSetupDialog(QWidget*, QPrinter& printer) override {
        if (OnPrinter) OnPrinter(printer);
        return Dialog("printsetup");
    }
    bool PageSetupDialog(QWidget*, QPrinter& printer) override {
        if (OnPrinter) OnPrinter(printer);
        return Dialog("pagesetup");
    }

    // The program's own dialogs: answered by `OnDialog` (which may set them up), else rejected; the printers
    // the system has.
    std::function<int(QDialog&)> OnDialog;
    bool Printers = true;
    int Exec(QDialog& dialog) override { return OnDialog ? OnDialog(dialog) : 0; }
    bool PrintersInstalled() override { return Printers; }
    // The printer a print dialog was shown for (a test sets its output to a file there).
    std::function<void(QPrinter&)> OnPrinter;

    // Progress boxes: the steps told, and the step at which the user cancels (-1: never).
    QList<std::pair<int, int>> ProgressSteps;
    int CancelAtStep = -1;
    bool Progress(QWidget*, const QString&, int done, int total) override {
        ProgressSteps.append({done, total});
        return CancelAtStep < 0 || done < CancelAtStep;
    }

private:
    QString File(const char* kind, const tFileDialogOptions& options) {
        Boxes.append(
            {QString::fromLatin1(kind), options.Title, QString(), tBoxIcon::Information, 0, 0, options, {}});
        if (TextAnswers.empty()) return QString();
        const QString answer = TextAnswers.front();
        TextAnswers.pop_front();
        return answer;
    }

    bool Dialog(const char* kind) {
        Boxes.append({QString::fromLatin1(kind), QString(), QString(), tBoxIcon::Information, 0, 0, {}, {}});
        if (DialogAnswers.empty()) return false;
        const bool answer = DialogAnswers.front();
        DialogAnswers.pop_front();
        return answer;
    }
};
