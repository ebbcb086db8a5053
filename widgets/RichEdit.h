// TRichEdit: the rich-text control of descriptions and reports, with RTF files, printing and pictures.
#pragma once

#include "widgets/Metafile.h"

#include <QTextEdit>
#include <memory>
#include <thread>
#include <vector>

class QPrinter;
class QTextDocument;

class TRichEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit TRichEdit(QWidget* parent = nullptr);
    ~TRichEdit() override;

    // Loads an RTF file (a file that is no RTF is shown as plain text); raises Exception when it cannot be
    // read. Its formula pictures are drawn off the window's thread and take their places as they come. A
    // large file is read off the window's thread: «Загрузка…» shows (as a placeholder, read-only) until
    // `loaded`.
    void LoadFromFile(const QString& fileName);
    bool Loading() const { return FLoading; }
    // Saves the content as RTF; raises Exception when the file cannot be written.
    void SaveToFile(const QString& fileName) const;
    // In place of a file that cannot be loaded: three blank lines and the text, centred and bold. The text is
    // the program's, not the user's, until the content changes.
    void ShowPlaceholder(const QString& text);
    bool ShowsPlaceholder() const { return FPlaceholder; }

    // Appends a paragraph in the current paragraph and character settings.
    void AddLine(const QString& text);
    // Settings for the text added next.
    void SetParagraphAlignment(Qt::Alignment alignment);
    void SetBold(bool bold);

protected:
    // In a table, Tab and Shift+Tab move between the cells as in every word processor; Tab in the last cell
    // adds a row.
    void keyPressEvent(QKeyEvent* event) override;

public:
    // Prints the whole content as a document of that title.
    void PrintDocument(const QString& title, QPrinter& printer) const;

    // Puts a picture at the caret; JPEG bytes are kept so that the report saves them as JPEG.
    void InsertPicture(const QImage& image, const QByteArray& jpegBytes = QByteArray());

    bool HasSelection() const { return textCursor().hasSelection(); }

signals:
    // A formula picture of the loaded document was drawn and shows.
    void pictureDrawn();
    // A large file read off the window's thread shows.
    void loaded();

private:
    struct tDrawing;
    void DrawLater(std::vector<tPendingPicture> pictures);
    void ForgetDrawing();
    // No picture nor document read off the window's thread comes any more; read-only as before a load.
    void EndLoading();
    // The document read off the window's thread takes the place of the one shown.
    void TakeDocument(QTextDocument* document, std::vector<tPendingPicture> pictures, bool readOnly);

    bool FPlaceholder = false;
    bool FLoading = false;
    bool FLoadingReadOnly = false; // as it was before «Загрузка…»
    std::shared_ptr<tDrawing> FDrawing;
    std::thread FLoader; // reading a large document
};
