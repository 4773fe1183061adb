#pragma once
// The one command-line layer of teloria, teloria-batch, teloria-lookupd and
// teloria-data (and each teloria-data subcommand), on QCommandLineParser.
// The options two programs share are defined once here, with one help text;
// --help is written from the options a program adds, --version gives the
// program's version and the built-in data's line, and every usage error is
// said the same way: "PROGRAM: why", the usage line, a hint to --help, exit 2.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace teloria::command {

inline constexpr int kUsageStatus = 2;

// Where a command line's texts go: help and version to out, usage errors to err.
struct Streams {
    std::function<void(const QString&)> out;
    std::function<void(const QString&)> err;
    static Streams standard(); // stdout and stderr
};

// The options more than one program takes.
enum class Shared {
    Service,  // --service URL: ask that lookup service
    Data,     // --data FILE (repeatable)
    Learning, // --upstream, --upstream-timeout, --upstream-rate, --learned, --no-learn, --refresh-days
    Upstream, // --upstream alone (teloria-data learn)
    Learned,  // --learned alone (teloria-data)
    Output,   // -o, --output FILE
};

class CommandLine {
public:
    // program: as the usage line names it ("teloria-batch", "teloria-data merge").
    CommandLine(QString program, QString description);

    void add(Shared options);
    void add(const QCommandLineOption& option);
    // The usage line's arguments after [options] ("[FILE|-]"), and their lines in --help.
    void addArgument(const QString& name, const QString& description, const QString& syntax);
    // Text after the options in --help (exit statuses, files read).
    void setEpilog(const QString& text) { epilog_ = text; }
    // Everything from the first argument on is an argument: a subcommand's own options come after its name.
    void stopAtFirstArgument();
    // "-platform" is one option, not -p -l -a ...: for the window, which takes Qt's own.
    void takeSingleDashWords();

    // Parses arguments (the first is the program). Nothing: go on. Else the exit status,
    // after --help or --version was printed (0) or the usage error was said (2).
    std::optional<int> parse(const QStringList& arguments, const Streams& streams);
    // Says a wrong value or pair the way parse says an unknown option; returns 2.
    int usageError(const QString& message, const Streams& streams) const;

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name) const { return parser_.value(name); }
    QStringList values(const QString& name) const { return parser_.values(name); }
    QStringList arguments() const { return parser_.positionalArguments(); }
    bool takes(const QString& name) const;

    QString helpText() const;
    QString usageLine() const;
    const QString& program() const { return program_; }

private:
    struct Argument {
        QString name;
        QString description;
    };
    QString program_;
    QString description_;
    QString epilog_;
    QString syntax_;
    std::vector<QCommandLineOption> options_;
    std::vector<Argument> arguments_;
    QCommandLineParser parser_;
};

// A main's argv as the arguments parse takes, in the locale's encoding.
QStringList argumentsOf(int argc, char** argv);

// The version text every program prints for --version: "PROGRAM 1.00" and the built-in data's line.
QString versionText(const QString& program);

} // namespace teloria::command
