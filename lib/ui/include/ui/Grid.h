// TRxDrawGrid: the parameter grid. A table view whose every cell is drawn by
// the owner (DrawCell), with per-row heights (a height of -1 or 0 hides the
// row), column widths the user may drag along row 0, and the events the
// window binds: cell drawing, column sizing, mouse move, double click, cell
// selection and focus entry. Row 0 is an ordinary row; the owner draws it as
// the header. Coordinates are those of the grid's viewport.
//
// Geometry helpers of the cell drawing and editor placement are plain
// functions on rectangles so they can be checked without a window. Rectangles
// use right/bottom as one past the last pixel (left 0, right 24 = 24 pixels).
#pragma once

#include <QAbstractTableModel>
#include <QRect>
#include <QTableView>
#include <functional>

class QPainter;

namespace zarvik {

// A rectangle given by its four edges, right and bottom exclusive.
struct TRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
    QRect toQRect() const { return QRect(left, top, right - left, bottom - top); }
    static TRect From(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
};

// Value box: the text rectangle and the frame around it for a cell.
struct TValueBox {
    bool visible = false;  // false for a cell of height 0 or less
    TRect text;
    TRect frame;
};
TValueBox ValueBoxRects(const TRect& cell);

// In-place editor bounds over a "Запись" cell (cell already in the editor
// parent's coordinates): 18 pixels high around the middle, inset by 5.
TRect EditorRect(const TRect& cell);
// The two halves of a pair editor inside EditorRect's result.
struct TEditorPair {
    TRect first, second;
};
TEditorPair SplitEditorPair(const TRect& r);

class TGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : columns_; }
    QVariant data(const QModelIndex&, int) const override { return {}; }
    Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled | Qt::ItemIsSelectable; }
    void SetRowCount(int rows);
    void SetColCount(int columns);

private:
    int rows_ = 1;
    int columns_ = 5;
};

class TRxDrawGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int kDefaultRowHeight = 24;

    explicit TRxDrawGrid(QWidget* parent = nullptr);

    int RowCount() const { return model_->rowCount(); }
    void SetRowCount(int rows);
    int ColCount() const { return model_->columnCount(); }
    void SetColCount(int columns) { model_->SetColCount(columns); }
    int ColWidth(int column) const { return columnWidth(column); }
    void SetColWidth(int column, int width) { setColumnWidth(column, width); }
    // -1 or 0 hides the row; hidden rows report height -1.
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    int Row() const;
    int Col() const;
    void SetCurrent(int column, int row);
    // The cell's rectangle in viewport coordinates (empty for a hidden row).
    TRect CellRect(int column, int row) const;
    // The cell under a viewport point; false when no cell is there.
    bool MouseToCell(QPoint point, int& column, int& row) const;
    QString Hint;  // the grid's own hint text

    // Owner hooks, all on the GUI thread.
    std::function<void(int column, int row, const TRect& rect, QPainter& painter)> OnDrawCell;
    std::function<void()> OnColumnSized;
    std::function<void(QPoint point)> OnMouseMove;
    std::function<void(QPoint point)> OnDblClick;
    std::function<void(int column, int row)> OnSelectCell;
    std::function<void()> OnEnter;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int SizingColumnAt(QPoint point) const;
    TGridModel* model_;
    int sizingColumn_ = -1;
    int sizingStartX_ = 0;
    int sizingStartWidth_ = 0;
};

}  // namespace zarvik
