// The real dialogs behind tPrompts: Qt's message boxes, input box, file and printer dialogs.
#include "ui/DialogPrompts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScreen>
#include <QTreeView>

namespace {

QMessageBox::StandardButton ToQt(int button) {
    switch (button) {
    case bbOk:
        return QMessageBox::Ok;
    case bbCancel:
        return QMessageBox::Cancel;
    case bbYes:
        return QMessageBox::Yes;
    case bbNo:
        return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

int FromQt(int button) {
    switch (button) {
    case QMessageBox::Ok:
        return bbOk;
    case QMessageBox::Cancel:
        return bbCancel;
    case QMessageBox::Yes:
        return bbYes;
    case QMessageBox::No:
        return bbNo;
    }
    return bbCancel;
}

QString WithDefaultExt(const QString& fileName, const QString& defaultExt) {
    if (fileName.isEmpty() || defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + u'.' + defaultExt;
}

// A file dialog as large as a good part of the screen, its files listed with their whole names (a work's
// folder is named by its date, time and experiment).
void ShowWholeNames(QFileDialog& dialog) {
    dialog.setViewMode(QFileDialog::Detail);
    const QWidget* owner = dialog.parentWidget();
    if (const QScreen* screen = owner ? owner->screen() : dialog.screen()) {
        const QSize room = screen->availableGeometry().size();
        dialog.resize(dialog.sizeHint()
                          .expandedTo(QSize(room.width() * 3 / 5, room.height() * 3 / 5))
                          .boundedTo(room * 9 / 10));
    }
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView")))
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

class tQtPrompts : public tPrompts {
public:
    int Exec(QDialog& dialog) override { return dialog.exec(); }
    bool PrintersInstalled() override { return !QPrinterInfo::availablePrinterNames().isEmpty(); }
    int MessageBox(QWidget* parent, const QString& text, const QString& caption, tBoxIcon icon, int buttons,
                   int defaultButton) override {
        QMessageBox box(parent);
        Fill(box, text, caption, icon);
        QMessageBox::StandardButtons standard;
        for (const int b : {bbOk, bbCancel, bbYes, bbNo})
            if (buttons & b) standard |= ToQt(b);
        box.setStandardButtons(standard);
        if (defaultButton) box.setDefaultButton(ToQt(defaultButton));
        return FromQt(box.exec());
    }

    void Notify(QWidget* parent, const QString& text, const QString& caption, tBoxIcon icon) override {
        // The same words once: a box still open is not shown a second time.
        for (QMessageBox* open : parent ? parent->findChildren<QMessageBox*>(QStringLiteral("NotifyBox"))
                                        : QList<QMessageBox*>())
            if (open->text() == QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))) return;
        auto* box = new QMessageBox(parent);
        box->setObjectName(QStringLiteral("NotifyBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        Fill(*box, text, caption, icon);
        box->setStandardButtons(QMessageBox::Ok);
        box->show();
    }

    static void Fill(QMessageBox& box, const QString& text, const QString& caption, tBoxIcon icon) {
        box.setWindowTitle(caption);
        // As it stands: a box often shows what others typed (a teacher's message, a label, a file's name).
        box.setTextFormat(Qt::PlainText);
        box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        box.setIcon(icon == tBoxIcon::Error      ? QMessageBox::Critical
                    : icon == tBoxIcon::Warning  ? QMessageBox::Warning
                    : icon == tBoxIcon::Question ? QMessageBox::Question
                                                 : QMessageBox::Information);
    }

    bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value) override {
        QInputDialog dialog(parent);
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(value);
        // Wide enough for its caption in the title bar (with the window's buttons) and a number typed. The
        // dialog's layout sets the dialog's own least width from its children: the field is widened.
        const QFontMetrics metrics(dialog.font());
        const int width = std::max(metrics.horizontalAdvance(caption) + metrics.height() * 8,
                                   metrics.horizontalAdvance(u'0') * 40);
        dialog.setMinimumWidth(width);
        if (auto* field = dialog.findChild<QLineEdit*>()) field->setMinimumWidth(width);
        if (dialog.exec() != QDialog::Accepted) return false;
        value = dialog.textValue();
        return true;
    }

    bool ChooseItem(QWidget* parent, const QString& caption, const QString& prompt, const QStringList& items,
                    QString& value) override {
        bool chosen = false;
        value = QInputDialog::getItem(parent, caption, prompt, items, 0, false, &chosen);
        return chosen;
    }

    QString OpenFileName(QWidget* parent, const tFileDialogOptions& options) override {
        QFileDialog dialog(parent, options.Title, options.Directory, options.Filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        ShowWholeNames(dialog);
        if (!options.FileName.isEmpty()) dialog.selectFile(options.FileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    }

    QString SaveFileName(QWidget* parent, const tFileDialogOptions& options) override {
        QFileDialog dialog(parent, options.Title, options.Directory, options.Filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        ShowWholeNames(dialog);
        dialog.setDefaultSuffix(options.DefaultExt);
        // Choosing another type of file gives a name without an extension that type's extension.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            const QRegularExpressionMatch match =
                QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter);
            if (match.hasMatch()) dialog.setDefaultSuffix(match.captured(1));
        });
        if (!options.OverwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!options.FileName.isEmpty()) dialog.selectFile(options.FileName);
        if (options.Chosen && !options.Chosen->isEmpty()) dialog.selectNameFilter(*options.Chosen);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        if (options.Chosen) *options.Chosen = dialog.selectedNameFilter();
        return WithDefaultExt(dialog.selectedFiles().first(), dialog.defaultSuffix());
    }

    bool PrintDialog(QWidget* parent, QPrinter& printer) override {
        QPrintDialog dialog(&printer, parent);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        return dialog.exec() == QDialog::Accepted;
    }

    bool PrinterSetupDialog(QWidget* parent, QPrinter& printer) override {
        QPrintDialog dialog(&printer, parent);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        return dialog.exec() == QDialog::Accepted;
    }

    bool PageSetupDialog(QWidget* parent, QPrinter& printer) override {
        QPageSetupDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }

    bool Progress(QWidget* parent, const QString& text, int done, int total) override {
        if (!FProgress) {
            FProgress = new QProgressDialog(text, QStringLiteral("Отмена"), 0, std::max(1, total), parent);
            FProgress->setWindowTitle(QString::fromUtf8(kApplicationTitle));
            FProgress->setWindowModality(Qt::WindowModal);
            FProgress->setMinimumDuration(300);
            FProgress->setAutoReset(false);
            FProgress->setAutoClose(false);
        }
        FProgress->setLabelText(text);
        FProgress->setMaximum(std::max(1, total));
        // A modal progress box lets the window breathe at every step: it repaints, its clock and its live
        // chart go on.
        FProgress->setValue(std::min(done, std::max(1, total)));
        QCoreApplication::processEvents();
        const bool go = !FProgress->wasCanceled();
        if (done >= total || !go) {
            delete FProgress;
            FProgress = nullptr;
        }
        return go;
    }

private:
    QPointer<QProgressDialog> FProgress;
};

} // namespace

void EndEveryPrompt() {
    EndPrompts();
    // Each open box is answered as by Escape; its caller goes on with that answer, without asking more.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal) break;
    }
}

tPrompts& DialogPrompts() {
    static tQtPrompts real;
    return real;
}
