// The prompts in force and the usual boxes built on them.
#include "core/Prompts.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Strings.h"

#include <atomic>
#include <new>

const char kApplicationTitle[] = "Зорбинка";

namespace {

// Without a user interface nothing can be asked: the question goes to the log and is declined.
class tLoggedPrompts : public tPrompts {
public:
    int MessageBox(QWidget*, const QString& text, const QString& caption, tBoxIcon, int buttons,
                   int) override {
        WriteLog(caption + QStringLiteral(": ") + text);
        return (buttons & bbCancel) ? bbCancel : (buttons & bbNo) ? bbNo : bbOk;
    }
    bool InputQuery(QWidget*, const QString&, const QString&, QString&) override { return false; }
    QString OpenFileName(QWidget*, const tFileDialogOptions&) override { return QString(); }
    QString SaveFileName(QWidget*, const tFileDialogOptions&) override { return QString(); }
    bool PrintDialog(QWidget*, QPrinter&) override { return false; }
    bool PrinterSetupDialog(QWidget*, QPrinter&) override { return false; }
    bool PageSetupDialog(QWidget*, QPrinter&) override { return false; }
};

std::atomic<bool> gEnded{false};
std::atomic<tPrompts*> gInstalled{nullptr};
std::atomic<tPrompts*> gDefault{nullptr};

} // namespace

void tPrompts::Notify(QWidget*, const QString& text, const QString& caption, tBoxIcon) {
    WriteLog(caption + QStringLiteral(": ") + text);
}

bool tPrompts::Progress(QWidget*, const QString&, int, int) {
    return true;
}

bool tPrompts::ChooseItem(QWidget*, const QString&, const QString&, const QStringList&, QString&) {
    return false;
}

int tPrompts::Exec(QDialog&) {
    return 0;
}

bool tPrompts::PrintersInstalled() {
    return false;
}

tPrompts& Prompts() {
    static tLoggedPrompts logged;
    if (gEnded.load()) return logged;
    if (tPrompts* installed = gInstalled.load()) return *installed;
    if (tPrompts* fallback = gDefault.load()) return *fallback;
    return logged;
}

void SetPrompts(tPrompts* prompts) {
    gInstalled.store(prompts);
}

void EndPrompts(bool ended) {
    gEnded.store(ended);
}

void SetDefaultPrompts(tPrompts* prompts) {
    gDefault.store(prompts);
}

void ShowErrorBox(QWidget* parent, const QString& text) {
    Prompts().MessageBox(parent, text, LoadStr(sCaptionError), tBoxIcon::Error, bbOk, bbOk);
}

void ShowWarningBox(QWidget* parent, const QString& text) {
    Prompts().MessageBox(parent, text, LoadStr(sCaptionWarning), tBoxIcon::Warning, bbOk, bbOk);
}

bool AskYesNo(QWidget* parent, const QString& text, tBoxIcon icon, int defaultButton) {
    return Prompts().MessageBox(parent, text, LoadStr(sCaptionConfirm), icon, bbYes | bbNo, defaultButton) ==
           bbYes;
}

QString ErrorText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error)) return QStringLiteral("Недостаточно памяти.");
    return QString::fromLocal8Bit(error.what());
}

void RunCommand(QWidget* parent, const std::function<void()>& command) {
    QString text;
    try {
        command();
        return;
    } catch (const EAbort&) {
        return;
    } catch (const Exception& e) {
        text = e.Message();
    } catch (const std::exception& e) {
        text = ErrorText(e);
    }
    Prompts().MessageBox(parent, text, QString::fromUtf8(kApplicationTitle), tBoxIcon::Error, bbOk, bbOk);
}
