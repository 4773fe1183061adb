#pragma once
// The result table: one row per looked-up number, four text columns
// (id, number, location, card type). The lookup run appends rows, the
// export reads them, the pop-up menu clears them. It is a Qt item model so
// the window's list view shows it directly; it needs QtCore only.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

namespace teloria {

class ResultTable : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;

    explicit ResultTable(QObject* parent = nullptr);

    // Creates the four columns, in order. Before this the table has no columns.
    void configure();

    // Rows are addressed by their 1-based position; k is the column 1..3.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    void addRow(const QString& text);
    void setSubItem(int row, int k, const QString& text);
    QString rowText(int row) const;
    QString subItem(int row, int k) const;
    void clear();

    static QStringList columnTitles();

    // QAbstractItemModel, for the list view.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    using Row = std::array<QString, kColumns>;
    bool validRow(int row) const { return row >= 1 && row <= static_cast<int>(rows_.size()); }

    std::vector<Row> rows_;
    int columns_ = 0;
};

} // namespace teloria
