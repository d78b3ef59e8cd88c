#include "ResultsModel.h"

#include "book/Ansi.h"

namespace contavio {

ResultsModel::ResultsModel(const std::optional<sVector>* texts, QObject* parent)
    : QAbstractListModel(parent), texts_(texts) {}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_);
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_) return {};
    if (single_) return *single_;
    return fromAnsi((**texts_)[static_cast<size_t>(index.row())]);
}

void ResultsModel::Lines::beginUpdate() {
    if (depth_++ == 0) model_.beginResetModel();
}

void ResultsModel::Lines::clear() {
    added_ = 0;
    model_.single_.reset();
    model_.rows_ = 0;
}

void ResultsModel::Lines::add(const std::string& line) {
    // Only the first line is kept: every other is in the holder already.
    if (added_++ == 0) model_.single_ = fromAnsi(line);
}

void ResultsModel::Lines::endUpdate() {
    if (depth_ == 0 || --depth_ > 0) return;
    const std::optional<sVector>& texts = *model_.texts_;
    if (texts && static_cast<int>(texts->size()) == added_) {
        model_.single_.reset();
        model_.rows_ = static_cast<qsizetype>(texts->size());
    } else {
        model_.rows_ = added_ > 0 ? 1 : 0;  // the no-match line
    }
    model_.endResetModel();
}

}  // namespace contavio
