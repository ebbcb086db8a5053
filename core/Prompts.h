// Every box and dialog the program shows goes through tPrompts, so tests can see and answer them; the window
// provides the real dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class QPrinter;
class QDialog;

enum class tBoxIcon { Error, Warning, Question, Information };

enum tBoxButton : int { bbOk = 1, bbCancel = 2, bbYes = 4, bbNo = 8 };

struct tFileDialogOptions {
    QString Title;
    QString Filter;     // "Описание (*.ext);;Другое (*.x)"
    QString DefaultExt; // without the dot; added when the user typed a name without extension
    QString Directory;
    QString FileName;
    bool OverwritePrompt = false;
    // The type of file chosen among the filter's: the one offered first, then the one the user chose.
    QString* Chosen = nullptr;
};

class tPrompts {
public:
    virtual ~tPrompts() = default;

    // A modal box; returns the button chosen (Esc or closing the box gives Cancel, or No when there is no
    // Cancel, or OK).
    virtual int MessageBox(QWidget* parent, const QString& text, const QString& caption, tBoxIcon icon,
                           int buttons, int defaultButton) = 0;
    // A box that does not wait for its answer: what it says stays until the user closes it while the program
    // goes on (measuring, the clock). Without a user interface it goes to the log.
    virtual void Notify(QWidget* parent, const QString& text, const QString& caption, tBoxIcon icon);
    // The input box; true and the text in `value` when the user confirmed.
    virtual bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                            QString& value) = 0;
    // A choice of one of `items`; true and the item in `value` when the user confirmed. Without a user
    // interface nothing is chosen.
    virtual bool ChooseItem(QWidget* parent, const QString& caption, const QString& prompt,
                            const QStringList& items, QString& value);
    // The chosen file, or empty text when the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const tFileDialogOptions& options) = 0;
    virtual QString SaveFileName(QWidget* parent, const tFileDialogOptions& options) = 0;
    // Printer dialogs; true when confirmed. The print dialog offers no printing to a file.
    virtual bool PrintDialog(QWidget* parent, QPrinter& printer) = 0;
    virtual bool PrinterSetupDialog(QWidget* parent, QPrinter& printer) = 0;
    virtual bool PageSetupDialog(QWidget* parent, QPrinter& printer) = 0;
    // A progress box for long work, with `text` and a Cancel button, moved on to `done` of `total` (shown
    // once the work takes a while, closed when done reaches total); false once the user cancelled. Without a
    // user interface the work goes on.
    virtual bool Progress(QWidget* parent, const QString& text, int done, int total);
    // Shows a dialog of the program's own modally (the chooser, Параметры сбора); its result. Without a user
    // interface it is rejected.
    virtual int Exec(QDialog& dialog);
    // Whether the system has any printer to print on.
    virtual bool PrintersInstalled();
};

// The prompts in force: those a test installed, else the default (the real dialogs, once the user interface
// has set them), else prompts that only log what would have been asked and answer Cancel.
tPrompts& Prompts();
// Installs `prompts` (not owned); nullptr returns to the default.
void SetPrompts(tPrompts* prompts);
// From now on nothing is asked of the user (the session ends): every question goes to the log and is
// declined. False asks again.
void EndPrompts(bool ended = true);
void SetDefaultPrompts(tPrompts* prompts);

// The usual boxes with their captions from the string table.
void ShowErrorBox(QWidget* parent, const QString& text);
void ShowWarningBox(QWidget* parent, const QString& text);
// A question captioned "Подтверждение" with Yes and No; true on Yes.
bool AskYesNo(QWidget* parent, const QString& text, tBoxIcon icon, int defaultButton);

// The program's title: the window caption until an experiment is chosen, and the caption of the box that
// shows an error escaping a command.
extern const char kApplicationTitle[];

// Runs a user command; an error that escapes it is shown in the error box (out of memory as
// «Недостаточно памяти.») and the program goes on. A silent abort shows nothing.
void RunCommand(QWidget* parent, const std::function<void()>& command);
// The text an escaping error is shown or logged with.
QString ErrorText(const std::exception& error);
