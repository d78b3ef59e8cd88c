// The results list's lines: a list model over the display texts that the
// listing already produced (gResultTexts), instead of a copy of every line in
// a widget item of its own, so that a listing of a million contacts costs no
// second copy and freeing it costs nothing. When nothing matched, it shows
// the listing's one line ("No se encontraron coincidencias... ").
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <optional>

#include "engine/SearchSolution.h"

namespace contavio {

class ResultsModel : public QAbstractListModel {
    Q_OBJECT
  public:
    // texts: the holder the listing fills (borrowed; must outlive the model).
    ResultsModel(const std::optional<sVector>* texts, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The lines as the store's listing hands them over: between its
    // beginUpdate and endUpdate the model is reset, and the lines become the
    // holder's texts, or the one line listed when the holder stays empty.
    LineList& lines() { return lines_; }

  private:
    class Lines : public LineList {
      public:
        explicit Lines(ResultsModel& model) : model_(model) {}
        void beginUpdate() override;
        void clear() override;
        void add(const std::string& line) override;
        void endUpdate() override;

      private:
        ResultsModel& model_;
        int depth_ = 0;
        int added_ = 0;
    };

    const std::optional<sVector>* texts_;
    std::optional<QString> single_;  // the one line when the holder is empty
    qsizetype rows_ = 0;
    Lines lines_{*this};
};

}  // namespace contavio
