// The Таблица page: every shown run of the experiment as a pair of columns (time, value), labels beside their
// points, the newest values appearing while a run is measured; copy to the clipboard and CSV.
#pragma once

#include "runs/Spreadsheet.h"

#include <QAbstractTableModel>
#include <QPersistentModelIndex>
#include <QTableView>
#include <memory>
#include <optional>

class QTimer;
class tPrintedTable;
class tLesson;

class tRunsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit tRunsModel(QObject* parent = nullptr);

    // The lesson whose shown runs the table shows; it follows the lesson's notices.
    void SetLesson(tLesson* lesson);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // An experiment without a sensor takes its points typed into the table: the typed run's cells, and a row
    // below its last one for a new point (kept once both its numbers are in).
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Whether points are typed here (the experiment has no sensor).
    bool Typing() const;
    // Removes the typed row at `index`; false when it is no typed row.
    bool RemoveTypedRow(const QModelIndex& index);
    // Rows pasted (as a spreadsheet copies them) into the typed run, all or none; false with the reason.
    bool PasteRows(const QString& text, QString* reason);

    // The role that holds a point's label, on the value cell.
    static constexpr int kLabelRole = Qt::UserRole + 1;
    // The cell as a number a spreadsheet reads (the system's decimal separator, no grouping), or empty.
    QString PlainText(int row, int column) const;
    // The cell's number, none where the run has no point.
    std::optional<double> Value(int row, int column) const;
    // The rows of the runs, whether a view shows them or not.
    int Rows() const { return FRows; }
    // While a run is measured, a view is told of new rows once a second (each time it lays out and paints all
    // it shows): the rows measured meanwhile are given to it now.
    void TakeRowsNow();
    // Only while a view shows the table does it see its rows: a view keeps 8 bytes for every row it knows,
    // which a run of hours must not cost while the chart is shown.
    void SetShown(bool shown);

signals:
    // A number typed into `index` was refused, for `reason`.
    void refused(const QModelIndex& index, const QString& reason);
    // A number was typed into a row, which now stands at `index` (the rows stay in x order).
    void typed(const QModelIndex& index);

private:
    void Reset();
    // The pair of columns the typed run takes (after the runs shown when it has not begun); -1 without
    // typing.
    int TypedPair() const;
    // Takes in the points added to `run` (a tick of a measurement).
    void PointsAppended(int run);

    tLesson* FLesson = nullptr;
    // The new row's numbers typed so far.
    std::optional<double> FNewX, FNewY;
    bool FViewShown = false;
    int FRows = 0;
    // The runs shown, side by side, and their point counts.
    std::vector<int> FShown;
    std::vector<int> FCounts;
    QTimer* FRowTimer = nullptr;
};

class TTablePage : public QTableView {
    Q_OBJECT
public:
    explicit TTablePage(QWidget* parent = nullptr);

    tRunsModel* Model() const { return FModel; }
    void SetLesson(tLesson* lesson) { FModel->SetLesson(lesson); }
    // The selection (everything when nothing is selected) as tab-separated lines, with the column heads when
    // everything is taken.
    QString SelectionText() const;
    // Every run as CSV in `dialect`; without one ";" between fields where the decimal separator is a comma.
    QByteArray CsvText(std::optional<tCsvDialect> dialect = std::nullopt) const;
    // The table as a spreadsheet reads it: each run's x, y and label, the heads with their units.
    tSheet Sheet() const;
    // The table as it is printed: the heads and the values as the page shows them, the labels beside their
    // values; the rows there are now.
    std::unique_ptr<tPrintedTable> Printed() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Enter, like Tab, moves on to the next cell of a typed row.
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void commitData(QWidget* editor) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Each column as wide as its head (a run's name, its quantity and its start), within bounds; a column is
    // fitted again only when its head changes, so a width the user set stays.
    void FitHeads();

    tRunsModel* FModel = nullptr;
    QStringList FFittedHeads;
    // A typed point was kept while its editor was open (the model reset the editor away).
    bool FTyped = false;
    // The cell whose number was refused, and why.
    QPersistentModelIndex FRefused;
    QString FReason;
};
