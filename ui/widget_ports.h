#pragma once
// The window's widgets seen through the lookup run's ports.

#include "lookup/run_ports.h"

#include <QElapsedTimer>
#include <QStringList>

class QProgressBar;
class QWidget;

namespace teloria {

// Value and Max of a progress bar whose minimum stays 0.
class ProgressBarSink : public ProgressSink {
public:
    explicit ProgressBarSink(QProgressBar* bar) : bar_(bar) {}
    int value() const override;
    int maximum() const override;
    void setValue(int value) override;
    void setMaximum(int maximum) override;

private:
    QProgressBar* bar_; // owned by the window, which owns this sink too
};

// Modal QMessageBox with a single OK button, owned by the given window.
class MessageBoxSink : public MessageSink {
public:
    explicit MessageBoxSink(QWidget* owner) : owner_(owner) {}
    void information(const QString& title, const QString& text) override;
    void warning(const QString& title, const QString& text) override;

private:
    void show(int icon, const QString& title, const QString& text);
    QWidget* owner_;
};

// The file dialogs of import and save as; the tests answer them instead of a user.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // An existing file to read; empty when the user cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& folder,
                             const QString& filter) = 0;
    // A path to write and, in *chosen, the index of the filter picked; empty when cancelled.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& folder,
                             const QStringList& filters, int* chosen) = 0;
};

class QtFileDialogs : public FileDialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& folder,
                     const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& folder,
                     const QStringList& filters, int* chosen) override;
};

// Milliseconds since the window was created, wrapping at 2^32 like a tick counter.
class ElapsedTickClock : public TickClock {
public:
    ElapsedTickClock() { timer_.start(); }
    std::uint32_t ticks() override { return static_cast<std::uint32_t>(timer_.elapsed()); }

private:
    QElapsedTimer timer_;
};

} // namespace teloria
