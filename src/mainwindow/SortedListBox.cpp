#include "mainwindow/SortedListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quorvel {

namespace {

bool lessNoCase(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

}  // namespace

QVariant SortedNamesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) return text(index.row());
    return {};
}

int SortedNamesModel::insertSorted(const QString& s) {
    // After rows that compare equal, so equal names keep the order they were added in.
    const auto it = std::upper_bound(rows_.begin(), rows_.end(), s, lessNoCase);
    const int row = static_cast<int>(it - rows_.begin());
    beginInsertRows({}, row, row);
    rows_.insert(it, s);
    endInsertRows();
    return row;
}

void SortedNamesModel::assignSorted(std::vector<QString> rows) {
    // Each row is case-folded once into one contiguous buffer as big-endian UTF-16, where
    // memcmp gives code-unit order, the order of the case-insensitive comparison; equal
    // keys keep their given order.  Folding in every comparison of 100,000 rows, and
    // chasing each row's own heap block, cost several times more.
    std::vector<unsigned char> arena;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> span(rows.size());  // offset, bytes
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString& r = rows[i];
        const std::size_t at = arena.size();
        arena.resize(at + 2 * static_cast<std::size_t>(r.size()));
        unsigned char* out = arena.data() + at;
        const char16_t* in = reinterpret_cast<const char16_t*>(r.utf16());
        const qsizetype n = r.size();
        bool ascii = true;
        for (qsizetype k = 0; k < n; ++k) {
            char16_t c = in[k];
            if (c >= 0x80) { ascii = false; break; }
            if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c + 32);
            out[2 * k] = 0;
            out[2 * k + 1] = static_cast<unsigned char>(c);
        }
        if (!ascii) {
            const QString folded = r.toCaseFolded();
            arena.resize(at + 2 * static_cast<std::size_t>(folded.size()));
            out = arena.data() + at;
            for (qsizetype k = 0; k < folded.size(); ++k) {
                const char16_t c = folded.at(k).unicode();
                out[2 * k] = static_cast<unsigned char>(c >> 8);
                out[2 * k + 1] = static_cast<unsigned char>(c & 0xff);
            }
        }
        span[i] = {static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(arena.size() - at)};
    }
    std::vector<std::uint32_t> order(rows.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const auto [oa, la] = span[a];
        const auto [ob, lb] = span[b];
        const int c = std::memcmp(arena.data() + oa, arena.data() + ob, std::min(la, lb));
        if (c != 0) return c < 0;
        return la != lb ? la < lb : a < b;
    });
    std::vector<QString> sorted;
    sorted.reserve(rows.size());
    for (std::uint32_t i : order) sorted.push_back(std::move(rows[i]));
    beginResetModel();
    rows_ = std::move(sorted);
    endResetModel();
}

void SortedNamesModel::removeAt(int row) {
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void SortedNamesModel::setTextInPlace(int row, const QString& s) {
    rows_[static_cast<std::size_t>(row)] = s;
    emit dataChanged(index(row), index(row));
}

void SortedNamesModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

// Hands painting to the owner's row painter, with the selection colours already chosen.
class RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(SortedListBox* box) : QStyledItemDelegate(box), box_(box) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!box_->painter_) {
            QStyledItemDelegate::paint(p, option, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        p->save();
        p->setBrush(option.palette.brush(group, selected ? QPalette::Highlight : QPalette::Base));
        p->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        p->setFont(option.font);
        box_->painter_(index.row(), *p, option.rect, selected);
        p->restore();
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor = option.palette.color(QPalette::Highlight);
            box_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, p, box_);
        }
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {box_->viewport()->width(), box_->rowHeight_};
    }

private:
    SortedListBox* box_;
};

SortedListBox::SortedListBox(QWidget* parent, bool multiSelect)
    : QListView(parent), names_(new SortedNamesModel(this)) {
    setModel(names_);
    setUniformItemSizes(true);
    setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new RowDelegate(this));
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex&, const QModelIndex&) {
                if (userInput_) emit userClicked();
            });
}

void SortedListBox::setItems(std::vector<QString> rows) { names_->assignSorted(std::move(rows)); }

void SortedListBox::deleteRow(int row) {
    if (row >= 0 && row < count()) names_->removeAt(row);
}

void SortedListBox::clear() { names_->clear(); }

int SortedListBox::itemIndex() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void SortedListBox::setItemIndex(int row) {
    if (row < 0 || row >= count()) {
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
        return;
    }
    // Setting the current row alone leaves the selection as it is.
    selectionModel()->setCurrentIndex(names_->index(row), QItemSelectionModel::NoUpdate);
    if (selectionMode() == QAbstractItemView::SingleSelection)
        selectionModel()->select(names_->index(row), QItemSelectionModel::ClearAndSelect);
    scrollTo(names_->index(row));
}

bool SortedListBox::isSelected(int row) const {
    return row >= 0 && row < count() && selectionModel()->isSelected(names_->index(row));
}

void SortedListBox::setSelected(int row, bool on) {
    if (row < 0 || row >= count()) return;
    selectionModel()->select(names_->index(row),
                             on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

int SortedListBox::selCount() const {
    return static_cast<int>(selectionModel()->selectedIndexes().size());
}

void SortedListBox::clearSelection() { selectionModel()->clearSelection(); }

void SortedListBox::setRowPainter(RowPainter painter) { painter_ = std::move(painter); }

int SortedListBox::indexOfText(const QString& s) const {
    for (int i = 0; i < count(); ++i)
        if (QString::compare(text(i), s, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void SortedListBox::mousePressEvent(QMouseEvent* e) {
    userInput_ = true;
    QListView::mousePressEvent(e);
    userInput_ = false;
}

void SortedListBox::mouseReleaseEvent(QMouseEvent* e) {
    QListView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && indexAt(e->position().toPoint()).isValid())
        emit userClicked();
}

void SortedListBox::mouseDoubleClickEvent(QMouseEvent* e) {
    QListView::mouseDoubleClickEvent(e);
    if (e->button() == Qt::LeftButton) emit doubleClickedRow();
}

void SortedListBox::keyPressEvent(QKeyEvent* e) {
    userInput_ = true;
    QListView::keyPressEvent(e);
    userInput_ = false;
}

}  // namespace quorvel
