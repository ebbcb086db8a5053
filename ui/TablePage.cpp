// The table of runs: a model reading the run store in place, a delegate drawing labels beside values, copy
// and CSV.
#include "ui/TablePage.h"

#include "core/LocaleFormats.h"
#include "core/NumberFormat.h"
#include "core/Prompts.h"
#include "lesson/Lesson.h"
#include "runs/Csv.h"
#include "runs/Runs.h"
#include "widgets/Printing.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>

namespace {

// A value cell: the number, and the point's label after it in grey italics.
class tLabelDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    // Enter commits and closes the cell at once: the toolkit's own way queues it, and keys typed fast after
    // Enter (the next row's x) would reach the cell still open and be added to its number.
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* editor = qobject_cast<QWidget*>(object);
        if (editor && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

public:
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString label = index.data(tRunsModel::kLabelRole).toString();
        if (label.isEmpty()) return;
        const QString value = index.data().toString();
        QFont font = option.font;
        font.setItalic(true);
        const int left = option.rect.left() + 6 + option.fontMetrics.horizontalAdvance(value) + 8;
        painter->save();
        painter->setFont(font);
        painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                              : QColor(90, 90, 90));
        painter->drawText(QRect(left, option.rect.top(), option.rect.right() - left, option.rect.height()),
                          Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("◂ ") + label);
        painter->restore();
    }
};

} // namespace

tRunsModel::tRunsModel(QObject* parent) : QAbstractTableModel(parent), FRowTimer(new QTimer(this)) {
    FRowTimer->setSingleShot(true);
    FRowTimer->setInterval(1000);
    connect(FRowTimer, &QTimer::timeout, this, &tRunsModel::TakeRowsNow);
}

void tRunsModel::SetLesson(tLesson* lesson) {
    if (FLesson) disconnect(FLesson, nullptr, this, nullptr);
    FLesson = lesson;
    if (lesson) {
        const auto reset = [this] { Reset(); };
        connect(lesson, &tLesson::opened, this, reset);
        connect(lesson, &tLesson::runStarted, this, reset);
        connect(lesson, &tLesson::runChanged, this, reset);
        connect(lesson, &tLesson::runRemoved, this, reset);
        connect(lesson, &tLesson::pointsChanged, this, reset);
        connect(lesson, &tLesson::pointsAppended, this,
                [this](int id) { PointsAppended(FLesson->RunIndex(id)); });
        connect(lesson, &tLesson::runEnded, this, &tRunsModel::TakeRowsNow);
        connect(lesson, &QObject::destroyed, this, [this] {
            FLesson = nullptr;
            Reset();
        });
    }
    Reset();
}

void tRunsModel::Reset() {
    FRowTimer->stop();
    beginResetModel();
    FRows = 0;
    FShown.clear();
    // A new row half typed stays while points are typed; another experiment forgets it.
    if (!Typing()) {
        FNewX.reset();
        FNewY.reset();
    }
    FCounts.clear();
    if (FLesson)
        for (int r = 0; r < FLesson->RunCount(); ++r)
            if (FLesson->Run(r).Shown) {
                FShown.push_back(r);
                FCounts.push_back(FLesson->Run(r).Points->Count());
                FRows = std::max(FRows, FCounts.back());
            }
    endResetModel();
}

void tRunsModel::PointsAppended(int run) {
    // Only the run measured grows: new rows at the end, and the cells it fills in rows that were there.
    const auto found = std::find(FShown.begin(), FShown.end(), run);
    if (!FLesson || found == FShown.end()) return;
    const int pair = int(found - FShown.begin());
    const int before = FCounts[size_t(pair)];
    const int now = FLesson->Run(run).Points->Count();
    if (now == before) return;
    FCounts[size_t(pair)] = now;
    if (!FViewShown) {
        FRows = std::max(FRows, now);
        return;
    }
    if (before < FRows)
        emit dataChanged(index(before, 2 * pair), index(std::min(now, FRows) - 1, 2 * pair + 1));
    // New rows at most once a second: a view lays itself out and paints all it shows for every insertion, at
    // a thousand points a second ten times a second over the whole table.
    if (now > FRows && !FRowTimer->isActive()) {
        TakeRowsNow();
        FRowTimer->start();
    }
}

void tRunsModel::TakeRowsNow() {
    int rows = FRows;
    for (const int count : FCounts) rows = std::max(rows, count);
    if (!FViewShown || rows <= FRows) return;
    beginInsertRows(QModelIndex(), FRows, rows - 1);
    FRows = rows;
    endInsertRows();
}

int tRunsModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !FViewShown) return 0;
    const int pair = TypedPair();
    return pair < 0 ? FRows : std::max(FRows, (pair < int(FCounts.size()) ? FCounts[size_t(pair)] : 0) + 1);
}

bool tRunsModel::Typing() const {
    return FLesson && FLesson->IsOpen() && !FLesson->Sensor().Connects;
}

int tRunsModel::TypedPair() const {
    if (!Typing()) return -1;
    const auto found = std::find(FShown.begin(), FShown.end(), FLesson->TypedRun());
    return found != FShown.end() ? int(found - FShown.begin()) : int(FShown.size());
}

Qt::ItemFlags tRunsModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() / 2 == TypedPair()) flags |= Qt::ItemIsEditable;
    return flags;
}

bool tRunsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const int pair = TypedPair();
    if (role != Qt::EditRole || !index.isValid() || index.column() / 2 != pair) return false;
    const QString text = value.toString().trimmed();
    if (text.isEmpty()) return false;
    QString reason;
    const std::optional<double> parsed = ParseTypedNumber(text, &reason);
    if (!parsed) {
        emit refused(index, reason);
        return false;
    }
    const double number = *parsed;
    const bool isX = index.column() % 2 == 0;
    const int count = pair < int(FCounts.size()) ? FCounts[size_t(pair)] : 0;
    const int row = index.row();
    if (row < count) {
        const tPointSeries& points = *FLesson->Run(FLesson->TypedRun()).Points;
        const int place =
            FLesson->SetTypedRow(row, isX ? number : points.X(row), isX ? points.Y(row) : number);
        emit typed(this->index(place, index.column()));
        return true;
    }
    // The new row: kept once both its numbers are in.
    (isX ? FNewX : FNewY) = number;
    if (FNewX && FNewY) {
        const double x = *FNewX, y = *FNewY;
        FNewX.reset();
        FNewY.reset();
        FLesson->SetTypedRow(count, x, y);
        // The next point goes into the empty row below the last: typing goes on from the last row's value.
        emit typed(this->index(count, 2 * pair + 1));
    } else {
        emit dataChanged(index, index);
    }
    return true;
}

bool tRunsModel::PasteRows(const QString& text, QString* reason) {
    if (!Typing()) {
        *reason = QStringLiteral("Строки вставляются в таблицу эксперимента без датчика: точки опыта с датчиком "
                                 "измеряет датчик.");
        return false;
    }
    const auto rows = ParsePastedRows(text, reason);
    if (!rows) return false;
    FNewX.reset();
    FNewY.reset();
    FLesson->AddTypedRows(*rows);
    return true;
}

bool tRunsModel::RemoveTypedRow(const QModelIndex& index) {
    const int pair = TypedPair();
    if (!index.isValid() || index.column() / 2 != pair || pair >= int(FCounts.size()) ||
        index.row() >= FCounts[size_t(pair)])
        return false;
    FLesson->RemoveTypedRow(index.row());
    return true;
}

void tRunsModel::SetShown(bool shown) {
    if (shown == FViewShown) return;
    beginResetModel();
    FViewShown = shown;
    endResetModel();
}

int tRunsModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || !FLesson) return 0;
    // Before its first row the typed run is a pair of empty columns after the others.
    return (int(FCounts.size()) + (TypedPair() == int(FCounts.size()) ? 1 : 0)) * 2;
}

QVariant tRunsModel::data(const QModelIndex& index, int role) const {
    if (!FLesson || !index.isValid()) return QVariant();
    const int pair = index.column() / 2;
    const int count = pair < int(FCounts.size()) ? FCounts[size_t(pair)] : 0;
    if (pair == TypedPair() && index.row() == count && (role == Qt::DisplayRole || role == Qt::EditRole)) {
        const std::optional<double>& typed = index.column() % 2 == 0 ? FNewX : FNewY;
        // An empty text to edit (a line editor), nothing to show.
        if (!typed) return role == Qt::EditRole ? QVariant(QString()) : QVariant();
        return QLocale().toString(*typed, 'g', 15);
    }
    if (pair >= int(FCounts.size()) || index.row() >= FCounts[size_t(pair)]) return QVariant();
    const tRun& r = FLesson->Run(FShown[size_t(pair)]);
    const bool value = index.column() % 2 == 1;
    if (role == Qt::EditRole)
        return QLocale().toString(value ? r.Points->Y(index.row()) : r.Points->X(index.row()), 'g', 15);
    if (role == Qt::DisplayRole) {
        if (value) return FormatFloat(r.FormatY, r.Points->Y(index.row()));
        // Times to the precision the sampling period needs, where the experiment's pattern shows fewer
        // decimals (0.01 s at 100 Hz): points are never shown at the same time.
        const int needed = TimeDecimals(r.Period);
        const int shown = PatternDecimals(r.FormatX);
        if (shown >= 0 && shown < needed)
            return FormatFloat(QStringLiteral("0.") + QString(needed, u'0'), r.Points->X(index.row()));
        return FormatFloat(r.FormatX, r.Points->X(index.row()));
    }
    if (role == kLabelRole && value) return r.Points->Label(index.row());
    if (role == Qt::ToolTipRole && value) return r.Points->Label(index.row());
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

QVariant tRunsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // The whole head when its column is narrower.
    if (role == Qt::ToolTipRole && orientation == Qt::Horizontal) return headerData(section, orientation);
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Vertical) return section + 1;
    if (FLesson && section / 2 == int(FShown.size()) && TypedPair() == int(FShown.size()))
        return section % 2 == 0 ? FLesson->Experiment().CaptionX : FLesson->Experiment().CaptionY;
    if (!FLesson || section / 2 >= int(FShown.size())) return QVariant();
    const int index = FShown[size_t(section / 2)];
    const tRun& run = FLesson->Run(index);
    // Every run is headed by its name, «Опыт N» unless the user named it.
    return FLesson->RunName(index) + QStringLiteral(": ") + (section % 2 == 0 ? run.CaptionX : run.CaptionY) +
           u'\n' + run.Start.toString(ShortDateFormat() + u' ' + LongTimeFormat());
}

std::optional<double> tRunsModel::Value(int row, int column) const {
    const int pair = column / 2;
    if (!FLesson || pair >= int(FCounts.size()) || row >= FCounts[size_t(pair)]) return std::nullopt;
    const tPointSeries& points = *FLesson->Run(FShown[size_t(pair)]).Points;
    return column % 2 == 1 ? points.Y(row) : points.X(row);
}

QString tRunsModel::PlainText(int row, int column) const {
    const std::optional<double> value = Value(row, column);
    return value ? CsvNumber(*value, SystemDecimalSeparator()) : QString();
}

TTablePage::TTablePage(QWidget* parent) : QTableView(parent) {
    FModel = new tRunsModel(this);
    setModel(FModel);
    setItemDelegate(new tLabelDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Only a typed run's cells are editable (the model says which): typing into one replaces its number.
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    // Typing goes on from the row typed into, wherever the x order put it.
    connect(FModel, &tRunsModel::typed, this, [this](const QModelIndex& index) {
        FTyped = true;
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    });
    connect(FModel, &tRunsModel::refused, this, [this](const QModelIndex& index, const QString& reason) {
        FRefused = QPersistentModelIndex(index);
        FReason = reason;
    });
    setWordWrap(false);
    // A million rows scroll smoothly only when no row has to be measured.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultSectionSize(150);
    // A head wider than its column is cut at its end, not on both sides.
    horizontalHeader()->setTextElideMode(Qt::ElideRight);
    connect(FModel, &QAbstractItemModel::modelReset, this, &TTablePage::FitHeads);
    connect(FModel, &QAbstractItemModel::headerDataChanged, this, &TTablePage::FitHeads);
}

void TTablePage::FitHeads() {
    QHeaderView* header = horizontalHeader();
    const QFontMetrics metrics(header->font());
    const int columns = FModel->columnCount();
    FFittedHeads.resize(columns);
    for (int c = 0; c < columns; ++c) {
        const QString head = FModel->headerData(c, Qt::Horizontal).toString();
        if (head == FFittedHeads[c]) continue;
        FFittedHeads[c] = head;
        int width = 0;
        for (const QString& line : head.split(u'\n')) width = std::max(width, metrics.horizontalAdvance(line));
        header->resizeSection(c, std::clamp(width + 3 * metrics.height() / 2, 150, 40 * metrics.averageCharWidth()));
    }
}

void TTablePage::showEvent(QShowEvent* event) {
    FModel->SetShown(true);
    QTableView::showEvent(event);
}

void TTablePage::hideEvent(QHideEvent* event) {
    QTableView::hideEvent(event);
    FModel->SetShown(false);
}

void TTablePage::commitData(QWidget* editor) {
    // An editor the model's new layout took away (its point was kept) has nothing more to give.
    if (editor && editor->isHidden()) return;
    QTableView::commitData(editor);
}

void TTablePage::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (FRefused.isValid()) {
        // A number refused: the cell is edited again, the reason shown under it.
        const QModelIndex at = FRefused;
        FRefused = QPersistentModelIndex();
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        setCurrentIndex(at);
        edit(at);
        QToolTip::showText(viewport()->mapToGlobal(visualRect(at).bottomLeft()), FReason, viewport());
        return;
    }
    if (editor && editor->isHidden() && !FTyped) return;
    const bool next =
        hint == QAbstractItemDelegate::SubmitModelCache || hint == QAbstractItemDelegate::EditNextItem;
    if (!FTyped) return QTableView::closeEditor(editor, next ? QAbstractItemDelegate::EditNextItem : hint);
    // A point was kept: the model was laid out anew and took the editor with it; typing goes on from where
    // the point went.
    FTyped = false;
    if (!next) return;
    const QModelIndex at = moveCursor(QAbstractItemView::MoveNext, Qt::NoModifier);
    setCurrentIndex(at);
    edit(at);
}

void TTablePage::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(SelectionText());
        return;
    }
    // Rows copied from a spreadsheet, each cell checked: all of them or none, and why.
    if (event->matches(QKeySequence::Paste) && state() != EditingState) {
        QString reason;
        if (!FModel->PasteRows(QApplication::clipboard()->text(), &reason)) ShowWarningBox(this, reason);
        return;
    }
    // Delete takes a row typed by hand away.
    if (event->key() == Qt::Key_Delete && state() != EditingState && FModel->RemoveTypedRow(currentIndex()))
        return;
    QTableView::keyPressEvent(event);
}

QString TTablePage::SelectionText() const {
    FModel->TakeRowsNow();
    const QModelIndexList selected =
        selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    int top = 0;
    int left = 0;
    int bottom = FModel->Rows() - 1;
    int right = FModel->columnCount() - 1;
    const bool all = selected.isEmpty();
    if (!all) {
        top = left = std::numeric_limits<int>::max();
        bottom = right = -1;
        for (const QModelIndex& index : selected) {
            top = std::min(top, index.row());
            bottom = std::max(bottom, index.row());
            left = std::min(left, index.column());
            right = std::max(right, index.column());
        }
    }
    QString text;
    if (all && right >= 0) {
        QStringList heads;
        for (int c = 0; c <= right; ++c)
            heads << FModel->headerData(c, Qt::Horizontal).toString().replace(u'\n', u' ');
        text += heads.join(u'\t') + u'\n';
    }
    for (int r = top; r <= bottom; ++r) {
        QStringList cells;
        for (int c = left; c <= right; ++c)
            cells << (all || selectionModel()->isSelected(FModel->index(r, c)) ? FModel->PlainText(r, c)
                                                                               : QString());
        text += cells.join(u'\t') + u'\n';
    }
    return text;
}

tSheet TTablePage::Sheet() const {
    FModel->TakeRowsNow();
    const int runs = FModel->columnCount() / 2;
    tSheet sheet;
    for (int c = 0; c < runs * 2; ++c) {
        sheet.Heads << FModel->headerData(c, Qt::Horizontal).toString().replace(u'\n', u' ');
        if (c % 2 == 1) sheet.Heads << QStringLiteral("Метка");
    }
    sheet.Rows = FModel->Rows();
    // Each run's x, its y and the y's label, three columns a run.
    sheet.Cell = [model = FModel](int row, int column) {
        tSheetCell cell;
        const int c = column / 3 * 2 + std::min(column % 3, 1);
        if (column % 3 == 2) {
            cell.Text = model->data(model->index(row, c), tRunsModel::kLabelRole).toString();
        } else if (const std::optional<double> value = model->Value(row, c)) {
            cell.IsNumber = true;
            cell.Number = *value;
        }
        return cell;
    };
    return sheet;
}

QByteArray TTablePage::CsvText(std::optional<tCsvDialect> dialect) const {
    const QChar decimal = SystemDecimalSeparator();
    return SheetCsv(Sheet(),
                    dialect.value_or(CsvSeparator(decimal) == u';' ? tCsvDialect::SemicolonComma
                                                                    : tCsvDialect::CommaPoint),
                    decimal);
}

namespace {

class tPrintedRuns : public tPrintedTable {
public:
    explicit tPrintedRuns(const tRunsModel& model)
        : FModel(model), FRows(model.Rows()), FColumns(model.columnCount()) {}
    int Rows() const override { return FRows; }
    int Columns() const override { return FColumns; }
    // The run's start on lines of their own: narrow columns, more groups to a page.
    QString Head(int column) const override {
        QStringList lines = FModel.headerData(column, Qt::Horizontal).toString().split(u'\n');
        if (lines.size() > 1) lines.last().replace(u' ', u'\n');
        return lines.join(u'\n');
    }
    QString Cell(int row, int column) const override {
        const QModelIndex index = FModel.index(row, column);
        QString text = FModel.data(index).toString();
        const QString label = FModel.data(index, tRunsModel::kLabelRole).toString();
        if (!label.isEmpty()) text += QStringLiteral("  ◂ ") + label;
        return text;
    }

private:
    const tRunsModel& FModel;
    int FRows;
    int FColumns;
};

} // namespace

std::unique_ptr<tPrintedTable> TTablePage::Printed() const {
    FModel->TakeRowsNow();
    return std::make_unique<tPrintedRuns>(*FModel);
}
