#include "ui/widget_ports.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>

#include <algorithm>

namespace teloria {

int ProgressBarSink::value() const
{
    return bar_ ? bar_->value() : 0;
}

int ProgressBarSink::maximum() const
{
    return bar_ ? bar_->maximum() : 0;
}

void ProgressBarSink::setValue(int value)
{
    // Outside the range the bar keeps its value, as a refused assignment should.
    if (bar_)
        bar_->setValue(value);
}

void ProgressBarSink::setMaximum(int maximum)
{
    if (bar_ && maximum > 0)
        bar_->setMaximum(maximum);
}

void MessageBoxSink::information(const QString& title, const QString& text)
{
    show(QMessageBox::Information, title, text);
}

void MessageBoxSink::warning(const QString& title, const QString& text)
{
    show(QMessageBox::Warning, title, text);
}

void MessageBoxSink::show(int icon, const QString& title, const QString& text)
{
    // The texts carry Windows line ends; a label breaks lines at LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, shown, QMessageBox::Ok, owner_);
    box.setTextFormat(Qt::PlainText); // a path or a page fragment is never markup
    box.exec();
}

QString QtFileDialogs::openFile(QWidget* parent, const QString& title, const QString& folder,
                                const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString QtFileDialogs::saveFile(QWidget* parent, const QString& title, const QString& folder,
                                const QStringList& filters, int* chosen)
{
    QString selected = filters.value(0);
    const QString path =
        QFileDialog::getSaveFileName(parent, title, folder, filters.join(QStringLiteral(";;")), &selected);
    if (chosen)
        *chosen = std::max<int>(0, static_cast<int>(filters.indexOf(selected)));
    return path;
}

} // namespace teloria
