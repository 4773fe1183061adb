#include "ui/result_list_look.h"

#include "lookup/result_table.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>

#include <algorithm>

namespace teloria {
namespace {

// Column widths of the result list, in pixels: ID, number, location, card type.
constexpr int kColumnWidths[ResultTable::kColumns] = {27, 87, 153, 87};
constexpr int kNumberColumn = 1;
constexpr int kLocationColumn = 2;
constexpr int kMobileDigits = 11;

// The list's column header. Every row the list gains makes the table view ask
// its header for its size again, and the stock header measures each title's
// text anew; the measure is kept until the columns, their titles, the font or
// the style change.
class ColumnHeader : public QHeaderView {
public:
    explicit ColumnHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        connect(this, &QHeaderView::sectionCountChanged, this, [this] { hint_ = QSize(); });
    }

    void setModel(QAbstractItemModel* model) override
    {
        hint_ = QSize();
        QHeaderView::setModel(model);
        if (model)
            connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { hint_ = QSize(); });
    }

    QSize sizeHint() const override
    {
        if (!hint_.isValid())
            hint_ = QHeaderView::sizeHint();
        return hint_;
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            hint_ = QSize();
        return QHeaderView::event(event);
    }

private:
    mutable QSize hint_;
};

void setColumnWidths(QTableView* list)
{
    int widths[ResultTable::kColumns];
    std::copy(std::begin(kColumnWidths), std::end(kColumnWidths), widths);

    // A whole 11-digit number must be readable: widen its column when the font
    // needs more, taking the room from the location column so that all four
    // still fit inside the list.
    const QFontMetrics metrics(list->font());
    int digit = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d)
        digit = std::max(digit, metrics.horizontalAdvance(QChar(d)));
    const int textMargin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int needed = digit * kMobileDigits + textMargin + 1 /* grid line */;
    if (needed > widths[kNumberColumn]) {
        const int inside = list->width() - 2 * list->frameWidth();
        widths[kLocationColumn] -= needed - widths[kNumberColumn];
        widths[kNumberColumn] = needed;
        int total = 0;
        for (int w : widths)
            total += w;
        if (total > inside)
            widths[kLocationColumn] -= total - inside;
        widths[kLocationColumn] = std::max(widths[kLocationColumn], 40);
    }
    for (int c = 0; c < ResultTable::kColumns; ++c)
        list->setColumnWidth(c, widths[c]);
}

} // namespace

void useMeasuredHeader(QTableView* list)
{
    list->setHorizontalHeader(new ColumnHeader(list));
}

void setUpResultList(QTableView* list)
{
    list->verticalHeader()->hide();
    QHeaderView* header = list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    header->setSectionsClickable(false); // never sorted, and a click selects no column
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0); // the fixed widths hold whatever the font's height
    list->setWordWrap(false);
    list->setTextElideMode(Qt::ElideRight);
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->setSortingEnabled(false);

    // The two further display options: full-row selection and grid lines.
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setShowGrid(true);

    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setTabKeyNavigation(false); // Tab leaves the list, arrows move in it
    setColumnWidths(list);
}

} // namespace teloria
