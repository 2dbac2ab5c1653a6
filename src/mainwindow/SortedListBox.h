// A list box that keeps its rows sorted without regard to case, as the program's lists
// expect: adding a row answers the index where it landed.  Rows are plain texts held in a
// vector, so a list of 100,000 names fills, sorts and scrolls at once.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <functional>
#include <vector>

namespace quorvel {

class SortedNamesModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override;

    const QString& text(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    int insertSorted(const QString& s);
    void assignSorted(std::vector<QString> rows);
    void removeAt(int row);
    void setTextInPlace(int row, const QString& s);
    void clear();

private:
    std::vector<QString> rows_;
};

class SortedListBox : public QListView {
    Q_OBJECT
public:
    // Paints one row; `selected` says whether the selection colours are in force.
    using RowPainter = std::function<void(int row, QPainter& p, const QRect& rect, bool selected)>;

    explicit SortedListBox(QWidget* parent = nullptr, bool multiSelect = false);

    int count() const { return names_->rowCount(); }
    QString text(int row) const { return names_->text(row); }
    int addItem(const QString& s) { return names_->insertSorted(s); }
    // Replaces every row at once (one sort instead of one insertion per row).
    void setItems(std::vector<QString> rows);
    void deleteRow(int row);
    void setTextInPlace(int row, const QString& s) { names_->setTextInPlace(row, s); }
    void clear();

    int itemIndex() const;
    void setItemIndex(int row);
    bool isSelected(int row) const;
    void setSelected(int row, bool on);
    int selCount() const;
    void clearSelection();

    void setRowPainter(RowPainter painter);
    void setRowHeight(int h) { rowHeight_ = h; }
    int rowHeight() const { return rowHeight_; }
    // Index of the row containing the case-insensitively equal text, or -1.
    int indexOfText(const QString& s) const;

signals:
    // A click on a row, or a change of the current row by the user's keyboard or mouse.
    void userClicked();
    void doubleClickedRow();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    friend class RowDelegate;
    SortedNamesModel* names_;
    RowPainter painter_;
    int rowHeight_ = 16;
    bool userInput_ = false;
};

}  // namespace quorvel
