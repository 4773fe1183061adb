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

// What became of a row's lookup. The cells hold what the page held either
// way; the state only says how to read them.
enum class RowState : quint8 {
    Answered,      // the service answered with a place
    Failed,        // the request failed (no answer, or a status outside 2xx)
    NotANumber,    // the line is not a number the service can answer
    UnknownPrefix, // answered, but the service does not know the number's prefix ("未知")
};

// The row's tip: "查询失败：" + reason, "不是手机号码", "号段未知"; empty for an answered row.
QString rowNote(RowState state, const QString& reason);

class ResultTable : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;
    // data() under this role: the row's RowState as an int.
    static constexpr int kRowStateRole = Qt::UserRole + 1;

    explicit ResultTable(QObject* parent = nullptr);

    // Creates the four columns, in order. Before this the table has no columns.
    void configure();

    // Rows are addressed by their 1-based position; k is the column 1..3.
    // rowCount() is what the views have been told of; size() every row, which
    // the run, the files and the summary read.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int size() const { return static_cast<int>(rows_.size()); }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    void addRow(const QString& text);
    void setSubItem(int row, int k, const QString& text);
    QString rowText(int row) const;
    QString subItem(int row, int k) const;
    void clear();

    // The state of a row, and for a failed one the reason; rows start Answered.
    void setRowState(int row, RowState state, const QString& reason = {});
    RowState rowState(int row) const;
    QString rowReason(int row) const;

    static QStringList columnTitles();

    // While a hold lives (a run in the window), the rows added and their cells
    // reach the views only at flushViewUpdates(), as one insertion (told row
    // by row, the views took a tenth of a run on loopback). Holds nest; the
    // last one to end flushes.
    void flushViewUpdates();
    class ViewUpdateHold {
    public:
        explicit ViewUpdateHold(ResultTable& table) : table_(table) { table_.holdViewUpdates(); }
        ~ViewUpdateHold() { table_.releaseViewUpdates(); }
        ViewUpdateHold(const ViewUpdateHold&) = delete;
        ViewUpdateHold& operator=(const ViewUpdateHold&) = delete;

    private:
        ResultTable& table_;
    };

    // QAbstractItemModel, for the list view.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    using Row = std::array<QString, kColumns>;
    bool validRow(int row) const { return row >= 1 && row <= static_cast<int>(rows_.size()); }
    bool shown(int row) const { return row <= shown_; }
    void holdViewUpdates() { ++holds_; }
    void releaseViewUpdates();

    struct Mark {
        RowState state = RowState::Answered;
        quint32 reason = 0; // index into reasons_, for a failed row
    };

    std::vector<Row> rows_;
    std::vector<Mark> marks_; // beside rows_, one per row
    QStringList reasons_;     // each distinct failure reason once
    int columns_ = 0;
    int shown_ = 0; // rows the views have been told of
    int holds_ = 0;
};

} // namespace teloria
