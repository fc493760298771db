#include "ui/Grid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace zarvik {

TValueBox ValueBoxRects(const TRect& cell) {
    TValueBox box;
    if (cell.bottom - cell.top <= 0) return box;
    // Halved toward zero, as the cell's middle line.
    const int middle = (cell.top + cell.bottom) / 2;
    box.visible = true;
    box.text = {cell.left + 5, middle - 8, cell.right - 5, middle + 8};
    box.frame = {box.text.left - 2, box.text.top - 2, box.text.right + 2, box.text.bottom + 2};
    return box;
}

TRect EditorRect(const TRect& cell) {
    const int middle = (cell.top + cell.bottom) / 2;
    return {cell.left + 5, middle - 8, cell.right - 5, middle + 10};
}

TEditorPair SplitEditorPair(const TRect& r) {
    const int middle = (r.left + r.right) / 2;
    return {{r.left, r.top, middle - 5, r.bottom}, {middle, r.top, 2 * (middle - 5) - r.left, r.bottom}};
}

void TGridModel::SetRowCount(int rows) {
    if (rows < 0) rows = 0;
    if (rows == rows_) return;
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    } else {
        beginRemoveRows({}, rows, rows_ - 1);
        rows_ = rows;
        endRemoveRows();
    }
}

void TGridModel::SetColCount(int columns) {
    if (columns < 0) columns = 0;
    if (columns == columns_) return;
    beginResetModel();
    columns_ = columns;
    endResetModel();
}

namespace {

// Every cell is drawn by the grid's owner; the delegate only paints the
// current cell's background first.
class TOwnerDrawDelegate : public QStyledItemDelegate {
public:
    explicit TOwnerDrawDelegate(TRxDrawGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        const bool current = index.row() == grid_->Row() && index.column() == grid_->Col();
        painter->fillRect(option.rect, current ? option.palette.color(QPalette::Highlight).lighter(170)
                                               : option.palette.color(QPalette::Base));
        if (grid_->OnDrawCell) grid_->OnDrawCell(index.column(), index.row(), TRect::From(option.rect), *painter);
        painter->restore();
    }

private:
    TRxDrawGrid* grid_;
};

constexpr int kSizingMargin = 3;

}  // namespace

TRxDrawGrid::TRxDrawGrid(QWidget* parent) : QTableView(parent), model_(new TGridModel(this)) {
    setModel(model_);
    setItemDelegate(new TOwnerDrawDelegate(this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setMinimumSectionSize(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setWordWrap(true);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (OnSelectCell && current.isValid()) OnSelectCell(current.column(), current.row());
                viewport()->update();
            });
    // A column dragged by the user is reported once, when the drag ends;
    // every other change of a width at once.
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int, int, int) {
        if (sizingColumn_ >= 0) return;
        if (OnColumnSized) OnColumnSized();
    });
}

void TRxDrawGrid::SetRowCount(int rows) { model_->SetRowCount(rows); }

int TRxDrawGrid::RowHeight(int row) const {
    if (row < 0 || row >= RowCount() || isRowHidden(row)) return -1;
    return rowHeight(row);
}

void TRxDrawGrid::SetRowHeight(int row, int height) {
    if (row < 0 || row >= RowCount()) return;
    if (height <= 0) {
        setRowHidden(row, true);
        return;
    }
    setRowHidden(row, false);
    setRowHeight(row, height);
}

int TRxDrawGrid::Row() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.row() : 0;
}

int TRxDrawGrid::Col() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.column() : 0;
}

void TRxDrawGrid::SetCurrent(int column, int row) {
    const QModelIndex index = model_->index(row, column);
    if (index.isValid()) setCurrentIndex(index);
}

TRect TRxDrawGrid::CellRect(int column, int row) const {
    const QModelIndex index = model_->index(row, column);
    if (!index.isValid() || isRowHidden(row)) return {};
    return TRect::From(visualRect(index));
}

bool TRxDrawGrid::MouseToCell(QPoint point, int& column, int& row) const {
    const QModelIndex index = indexAt(point);
    if (!index.isValid()) return false;
    column = index.column();
    row = index.row();
    return true;
}

void TRxDrawGrid::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    if (OnEnter) OnEnter();
}

// A column is resized by dragging its right edge in row 0, where the grid
// has no header of its own.
int TRxDrawGrid::SizingColumnAt(QPoint point) const {
    if (rowAt(point.y()) != 0) return -1;
    for (int c = 0; c < ColCount(); ++c) {
        const int edge = columnViewportPosition(c) + columnWidth(c);
        if (std::abs(point.x() - edge) <= kSizingMargin) return c;
    }
    return -1;
}

void TRxDrawGrid::mousePressEvent(QMouseEvent* event) {
    const int column = event->button() == Qt::LeftButton ? SizingColumnAt(event->position().toPoint()) : -1;
    if (column >= 0) {
        sizingColumn_ = column;
        sizingStartX_ = event->position().toPoint().x();
        sizingStartWidth_ = columnWidth(column);
        return;
    }
    QTableView::mousePressEvent(event);
}

void TRxDrawGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (sizingColumn_ >= 0) {
        setColumnWidth(sizingColumn_, std::max(1, sizingStartWidth_ + point.x() - sizingStartX_));
        return;
    }
    viewport()->setCursor(SizingColumnAt(point) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
    if (OnMouseMove) OnMouseMove(point);
    QTableView::mouseMoveEvent(event);
}

void TRxDrawGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (sizingColumn_ >= 0) {
        const bool resized = columnWidth(sizingColumn_) != sizingStartWidth_;
        sizingColumn_ = -1;
        if (resized && OnColumnSized) OnColumnSized();
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

void TRxDrawGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (OnDblClick) OnDblClick(event->position().toPoint());
}

}  // namespace zarvik
