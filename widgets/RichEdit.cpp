// The rich-text control's file, print and picture operations.
#include "widgets/RichEdit.h"

#include "widgets/Printing.h"

#include <QKeyEvent>
#include <QTextTable>

#include "core/TextCodec.h"
#include "widgets/RtfReader.h"
#include "widgets/RtfWriter.h"

#include <QPrinter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

// Where the pictures drawn off the window's thread go: the control, until it loads another document or goes.
struct TRichEdit::tDrawing {
    std::mutex Lock;
    TRichEdit* Edit;
    std::atomic<bool> Cancel{false}; // a document read off the window's thread is wanted no more
};

TRichEdit::TRichEdit(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(true);
    // Whatever document it shows (a large one read off the window's thread replaces the first).
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (!FLoading) FPlaceholder = false;
    });
}

TRichEdit::~TRichEdit() {
    ForgetDrawing();
}

void TRichEdit::ForgetDrawing() {
    if (FDrawing) {
        FDrawing->Cancel = true;
        std::lock_guard<std::mutex> guard(FDrawing->Lock);
        FDrawing->Edit = nullptr;
        FDrawing.reset();
    }
    // A document still being read stops at its next step: no thread outlives the control.
    if (FLoader.joinable()) FLoader.join();
}

void TRichEdit::DrawLater(std::vector<tPendingPicture> pictures) {
    ForgetDrawing();
    if (pictures.empty()) return;
    auto drawing = std::make_shared<tDrawing>();
    drawing->Edit = this;
    FDrawing = drawing;
    // The text shows at once with placeholders; each picture takes its place when it is drawn.
    std::thread([drawing, pictures = std::move(pictures)] {
        DrawMetafiles(
            pictures, kPicturesMilliseconds, [&](const tPendingPicture& picture, const QImage& image) {
                std::lock_guard<std::mutex> guard(drawing->Lock);
                if (!drawing->Edit) return;
                QMetaObject::invokeMethod(
                    drawing->Edit,
                    [drawing, name = picture.Name, image] {
                        if (TRichEdit* edit = drawing->Edit) {
                            edit->document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
                            edit->viewport()->update();
                            emit edit->pictureDrawn();
                        }
                    },
                    Qt::QueuedConnection);
            });
    }).detach();
}

void TRichEdit::EndLoading() {
    ForgetDrawing();
    if (!FLoading) return;
    FLoading = false;
    setReadOnly(FLoadingReadOnly);
}

void TRichEdit::ShowPlaceholder(const QString& text) {
    EndLoading();
    clear();
    // The letters of the document shown before are not the placeholder's.
    setCurrentCharFormat(QTextCharFormat());
    QTextCursor cursor = textCursor();
    cursor.setBlockFormat(QTextBlockFormat());
    setTextCursor(cursor);
    SetParagraphAlignment(Qt::AlignHCenter);
    SetBold(true);
    for (int i = 0; i < 3; ++i) AddLine(QStringLiteral(" "));
    AddLine(text);
    FPlaceholder = true;
}

void TRichEdit::LoadFromFile(const QString& fileName) {
    const QByteArray bytes = ReadFileBytes(fileName, kMaxDocumentBytes);
    EndLoading();
    const bool readOnly = isReadOnly();
    if (!bytes.trimmed().startsWith("{\\rtf")) {
        setPlainText(DecodeTextFile(bytes));
        moveCursor(QTextCursor::Start);
        return;
    }
    if (bytes.size() <= kReadAtOnceBytes) {
        DrawLater(ReadRtfLater(bytes, *document()));
        moveCursor(QTextCursor::Start);
        return;
    }
    // Read into a document of its own on a thread of its own; the window goes on meanwhile.
    ShowPlaceholder(QStringLiteral("Загрузка…"));
    FLoading = true;
    FLoadingReadOnly = readOnly;
    setReadOnly(true);
    auto drawing = std::make_shared<tDrawing>();
    drawing->Edit = this;
    FDrawing = drawing;
    const QFont font = document()->defaultFont();
    const qreal margin = document()->documentMargin();
    QThread* home = thread();
    FLoader = std::thread([drawing, bytes, font, margin, home, readOnly] {
        auto read = std::make_unique<QTextDocument>();
        read->setDefaultFont(font);
        read->setDocumentMargin(margin);
        std::vector<tPendingPicture> pictures = ReadRtfLater(bytes, *read, &drawing->Cancel);
        std::lock_guard<std::mutex> guard(drawing->Lock);
        if (!drawing->Edit) return;
        read->moveToThread(home);
        // Deleted on the window's thread unless the control takes it (a call queued to a control that went
        // is dropped with what it holds).
        struct tHeld {
            QTextDocument* Document = nullptr;
            ~tHeld() {
                if (Document) Document->deleteLater();
            }
        };
        // Made in place: a temporary holder would let the document go when it went.
        const auto held = std::make_shared<tHeld>();
        held->Document = read.release();
        QMetaObject::invokeMethod(
            drawing->Edit,
            [drawing, held, pictures = std::move(pictures), readOnly]() mutable {
                if (TRichEdit* edit = drawing->Edit)
                    edit->TakeDocument(std::exchange(held->Document, nullptr), std::move(pictures), readOnly);
            },
            Qt::QueuedConnection);
    });
}

void TRichEdit::TakeDocument(QTextDocument* read, std::vector<tPendingPicture> pictures, bool readOnly) {
    // The control's own: the document it showed before, its child, goes with the change.
    read->setParent(this);
    setDocument(read);
    FLoading = false;
    FPlaceholder = false;
    setReadOnly(readOnly);
    moveCursor(QTextCursor::Start);
    DrawLater(std::move(pictures));
    emit loaded();
}

void TRichEdit::SaveToFile(const QString& fileName) const {
    WriteFileBytes(fileName, WriteRtf(*document()));
}

void TRichEdit::AddLine(const QString& text) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const bool empty = document()->isEmpty();
    const QTextBlockFormat block = textCursor().blockFormat();
    const QTextCharFormat format = currentCharFormat();
    if (!empty)
        cursor.insertBlock(block, format);
    else
        cursor.setBlockFormat(block);
    cursor.insertText(text, format);
}

void TRichEdit::SetParagraphAlignment(Qt::Alignment alignment) {
    QTextCursor cursor = textCursor();
    QTextBlockFormat block = cursor.blockFormat();
    block.setAlignment(alignment);
    cursor.setBlockFormat(block);
    setTextCursor(cursor);
}

void TRichEdit::SetBold(bool bold) {
    QTextCharFormat format = currentCharFormat();
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    setCurrentCharFormat(format);
}

void TRichEdit::PrintDocument(const QString& title, QPrinter& printer) const {
    ::PrintDocument(printer, *document(), title);
}

void TRichEdit::InsertPicture(const QImage& image, const QByteArray& jpegBytes) {
    static int counter = 0;
    const QString name = QStringLiteral("picture-%1").arg(++counter);
    document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.setName(name);
    // A photo wider than the page is shown at the page's width.
    const double maxWidth =
        std::max(200.0, document()->textWidth() > 0 ? document()->textWidth() - 20 : 600.0);
    const double scale = image.width() > maxWidth ? maxWidth / image.width() : 1.0;
    format.setWidth(image.width() * scale);
    format.setHeight(image.height() * scale);
    if (!jpegBytes.isEmpty()) {
        format.setProperty(kImageBytesProperty, jpegBytes);
        format.setProperty(kImageKindProperty, QStringLiteral("jpeg"));
    }
    textCursor().insertImage(format);
}

void TRichEdit::keyPressEvent(QKeyEvent* event) {
    QTextCursor cursor = textCursor();
    QTextTable* table = cursor.currentTable();
    const bool tab = event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ControlModifier);
    const bool back = event->key() == Qt::Key_Backtab;
    if (!table || isReadOnly() || !(tab || back)) return QTextEdit::keyPressEvent(event);
    const QTextTableCell cell = table->cellAt(cursor);
    int row = cell.row();
    int column = cell.column() + cell.columnSpan() - 1;
    if (tab) {
        if (++column >= table->columns()) column = 0, ++row;
        if (row >= table->rows()) table->appendRows(1);
    } else {
        column = cell.column() - 1;
        if (column < 0) column = table->columns() - 1, --row;
        if (row < 0) return;
    }
    // The whole text of the cell is selected, as word processors do.
    const QTextTableCell next = table->cellAt(row, column);
    QTextCursor target = next.firstCursorPosition();
    target.setPosition(next.lastCursorPosition().position(), QTextCursor::KeepAnchor);
    setTextCursor(target);
}
