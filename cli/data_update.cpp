// teloria-data update: a prefix file fetched (or copied), checked, compared
// with the store the programs build today, and installed in the user data
// folder in one rename, the file it replaces kept as NAME.previous.
#include "cli/data_subcommands.h"

#include "data/override_file.h"
#include "data/phone_dat.h"
#include "data/prefix_store.h"
#include "export/replacing_file.h"
#include "net/page_fetch.h"

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

namespace teloria::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

// What the last update did, so that a plain update repeats it and --rollback undoes it.
struct UpdateState {
    std::string source;       // a URL or an absolute file path
    std::string etag;         // of the last answer from source
    std::string lastModified; // of the last answer from source
    std::string installed;    // the file it wrote
    bool replaced = false;    // installed + ".previous" holds the file it replaced
};

// $XDG_CONFIG_HOME/teloria/update.ini, $XDG_CONFIG_HOME defaulting to ~/.config.
QString stateFile()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (xdg && xdg[0] == '/') // a relative one is invalid and ignored
        folder = std::string(xdg) + "/teloria";
    else if (home && home[0] != '\0')
        folder = std::string(home) + "/.config/teloria";
    else
        return {};
    return QString::fromStdString(folder + "/update.ini");
}

UpdateState readState()
{
    UpdateState state;
    const QString path = stateFile();
    if (path.isEmpty())
        return state;
    QSettings s(path, QSettings::IniFormat);
    state.source = s.value(QStringLiteral("update/source")).toString().toStdString();
    state.etag = s.value(QStringLiteral("update/etag")).toString().toStdString();
    state.lastModified = s.value(QStringLiteral("update/last-modified")).toString().toStdString();
    state.installed = s.value(QStringLiteral("update/installed")).toString().toStdString();
    state.replaced = s.value(QStringLiteral("update/replaced")).toBool();
    return state;
}

bool writeState(const UpdateState& state, std::ostream& err)
{
    const QString path = stateFile();
    if (path.isEmpty()) {
        err << "teloria-data: warning: neither XDG_CONFIG_HOME nor HOME is set: the source is not remembered\n";
        return false;
    }
    QSettings s(path, QSettings::IniFormat);
    s.setValue(QStringLiteral("update/source"), QString::fromStdString(state.source));
    s.setValue(QStringLiteral("update/etag"), QString::fromStdString(state.etag));
    s.setValue(QStringLiteral("update/last-modified"), QString::fromStdString(state.lastModified));
    s.setValue(QStringLiteral("update/installed"), QString::fromStdString(state.installed));
    s.setValue(QStringLiteral("update/replaced"), state.replaced);
    s.sync();
    if (s.status() != QSettings::NoError) {
        err << "teloria-data: warning: could not write " << path.toStdString() << '\n';
        return false;
    }
    return true;
}

bool isUrl(const std::string& source)
{
    auto startsWith = [&source](std::string_view scheme) {
        return source.size() > scheme.size()
               && std::equal(scheme.begin(), scheme.end(), source.begin(),
                             [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    return startsWith("http://") || startsWith("https://");
}

// The file name the source is installed under: the last part of its path,
// *.dat or *.tsv, of plain characters only.
std::optional<std::string> installName(const std::string& source, std::string* why)
{
    std::string path = source;
    if (isUrl(source)) {
        const auto cut = path.find_first_of("?#");
        path = path.substr(0, cut);
        const auto scheme = path.find("://");
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    const std::string name = fs::path(path).filename().string();
    const bool plain = !name.empty() && name[0] != '.'
                       && std::all_of(name.begin(), name.end(), [](unsigned char c) {
                              return std::isalnum(c) || c == '.' || c == '-' || c == '_';
                          });
    const std::string ext = fs::path(name).extension().string();
    if (!plain || (ext != ".dat" && ext != ".tsv")) {
        *why = "the source's file name must end in .dat or .tsv and hold only letters, digits, '.', '-' and '_' (got '"
               + name + "')";
        return std::nullopt;
    }
    return name;
}

// Checked as teloria-data check does: the prefixes the file holds, or the first fault.
std::optional<std::size_t> checkedPrefixes(const std::string& name, std::string_view bytes, std::string* why)
{
    if (data::fileKindOf(name) == data::FileKind::Overrides) {
        const auto table = data::OverrideTable::parse(bytes, why);
        if (!table)
            return std::nullopt;
        if (table->skippedLines > 0) {
            *why = table->skipReason;
            return std::nullopt;
        }
        std::size_t prefixes = 0;
        for (const auto& line : table->lines)
            prefixes += line.prefixCount();
        return prefixes;
    }
    std::size_t offset = 0;
    const auto dat = data::PhoneDat::parse(bytes, why, &offset);
    if (dat && dat->skippedRecords() > 0) {
        *why = dat->skipReason();
        offset = dat->skipOffset();
    }
    if (!dat || dat->skippedRecords() > 0) {
        *why = "byte " + std::to_string(offset) + ": " + *why;
        return std::nullopt;
    }
    return dat->entryCount();
}

struct Change {
    long added = 0, locationChanged = 0, operatorChanged = 0, removed = 0;
    std::array<long, 100> before{}, after{}; // prefixes with a location, per segment 100..199
};

// Every mobile prefix of the two stores, as the programs would answer it.
Change compare(const data::PrefixStore& before, const data::PrefixStore& after)
{
    Change c;
    for (const data::Prefix7 p : data::Prefix7::all()) {
        const data::Answer& a = before.mobile(p);
        const data::Answer& b = after.mobile(p);
        const std::size_t segment = p.segment() - 100;
        c.before[segment] += a.hasLocation();
        c.after[segment] += b.hasLocation();
        if (!a.hasLocation() && b.hasLocation())
            ++c.added;
        else if (a.hasLocation() && !b.hasLocation())
            ++c.removed;
        else if (a.hasLocation() && a.location != b.location)
            ++c.locationChanged;
        if (a.hasCardType() && b.hasCardType() && a.cardType != b.cardType)
            ++c.operatorChanged;
    }
    return c;
}

void printChange(const Change& c, std::ostream& out)
{
    out << "prefixes added " << c.added << ", location changed " << c.locationChanged << ", operator changed "
        << c.operatorChanged << ", removed " << c.removed << '\n';
    out << "segment\twith location before\tafter\n";
    long before = 0, after = 0;
    for (std::size_t s = 0; s < c.before.size(); ++s) {
        before += c.before[s];
        after += c.after[s];
        if (c.before[s] != c.after[s])
            out << 100 + s << '\t' << c.before[s] << '\t' << c.after[s] << '\n';
    }
    out << "total\t" << before << '\t' << after << '\n';
}

// The store as the programs would build it with file standing at target's place.
data::LoadedStore storeWith(const data::DataSettings& settings, const std::string& target, const std::string& file)
{
    data::DataSettings with = settings;
    with.discover = false;
    with.program.clear();
    std::vector<std::string> files;
    const std::string userFolder = fs::path(target).parent_path().string();
    bool placed = false;
    for (const std::string& f : data::discoverDataFiles()) {
        const fs::path p(f);
        if (p == fs::path(target))
            continue;
        if (!placed && p.parent_path() == fs::path(userFolder) && p.filename().string() > fs::path(target).filename().string()) {
            files.push_back(file);
            placed = true;
        }
        files.push_back(f);
    }
    if (!placed)
        files.push_back(file);
    files.insert(files.end(), settings.files.begin(), settings.files.end());
    with.files = std::move(files);
    return data::loadStore(with);
}

bool writeFile(const std::string& path, std::string_view bytes, std::ostream& err)
{
    const auto written = replaceFile(QString::fromStdString(path), QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!written) {
        err << "teloria-data: cannot write " << path << ": " << written.error().reason << '\n';
        return false;
    }
    return true;
}

int rollback(std::ostream& out, std::ostream& err)
{
    UpdateState state = readState();
    std::error_code ec;
    if (state.installed.empty()) {
        err << "teloria-data: no update to roll back\n";
        return 1;
    }
    const std::string previous = state.installed + ".previous";
    if (state.replaced && fs::is_regular_file(previous, ec)) {
        fs::rename(previous, state.installed, ec); // one rename: a reader sees the old file or the new one
        if (ec) {
            err << "teloria-data: cannot put back " << previous << ": " << ec.message() << '\n';
            return 1;
        }
        out << "put back " << state.installed << " as it was before the last update\n";
    } else if (!state.replaced && fs::is_regular_file(state.installed, ec)) {
        if (!fs::remove(state.installed, ec) || ec) {
            err << "teloria-data: cannot remove " << state.installed << ": " << ec.message() << '\n';
            return 1;
        }
        out << "removed " << state.installed << ", which the last update added\n";
    } else {
        err << "teloria-data: nothing to roll back: " << previous << " is not there\n";
        return 1;
    }
    // The next update fetches the source whole again.
    state.etag.clear();
    state.lastModified.clear();
    state.installed.clear();
    state.replaced = false;
    writeState(state, err);
    return 0;
}

} // namespace

int runUpdate(const DataArguments& args, DataContext& context)
{
    const data::DataSettings& settings = context.settings;
    std::ostream& out = context.out;
    std::ostream& err = context.err;
    const auto& usage = context.usage;
    const bool dryRun = context.isSet("dry-run");
    const bool force = context.isSet("force");
    const bool back = context.isSet("rollback");
    if (args.size() > 1)
        return usage("update takes one SOURCE");
    std::string source = args.empty() ? std::string() : args.front();
    if (back) {
        if (!source.empty() || dryRun || force)
            return usage("--rollback takes nothing else");
        return rollback(out, err);
    }
    UpdateState state = readState();
    const bool repeat = source.empty();
    if (repeat) {
        if (state.source.empty())
            return usage("update needs a SOURCE (a URL or a file); none is remembered yet");
        source = state.source;
        out << "source: " << source << '\n';
    } else if (!isUrl(source)) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(source, ec);
        if (!ec)
            source = absolute.lexically_normal().string();
    }

    std::string why;
    const auto name = installName(source, &why);
    if (!name) {
        err << "teloria-data: " << why << '\n';
        return 1;
    }
    const std::vector<std::string> folders = data::dataFolders();
    const std::string target = folders.back() + "/" + *name;
    std::error_code ec;
    const bool targetExists = fs::is_regular_file(target, ec);

    std::string bytes;
    std::string etag, lastModified;
    if (isUrl(source)) {
        FetchOptions options;
        options.maxBodyBytes = kMaxFileBytes;
        options.totalTimeoutMs = 300'000;
        options.followRedirectsToOtherHosts = false;
        options.keepBytes = true;
        // Asked only for something newer than what is installed from the same source.
        if (state.source == source && state.installed == target && targetExists) {
            if (!state.etag.empty())
                options.requestHeaders.push_back("If-None-Match: " + state.etag);
            if (!state.lastModified.empty())
                options.requestHeaders.push_back("If-Modified-Since: " + state.lastModified);
        }
        const FetchResult got = FetchSession(options).get(QString::fromStdString(source));
        if (!got.ok) {
            err << "teloria-data: " << source << ": " << got.errorText.toStdString() << "; nothing replaced\n";
            return 1;
        }
        if (got.status == 304) {
            out << source << ": not modified since the last update; nothing to do\n";
            return 0;
        }
        if (got.status < 200 || got.status >= 300) {
            err << "teloria-data: " << source << ": HTTP " << got.status << "; nothing replaced\n";
            return 1;
        }
        bytes.assign(got.bytes.constData(), static_cast<std::size_t>(got.bytes.size()));
        etag = got.etag;
        lastModified = got.lastModified;
    } else {
        auto read = data::readDataFile(source);
        if (!read) {
            err << "teloria-data: " << source << ": " << read.error().reason << "; nothing replaced\n";
            return 1;
        }
        bytes = std::move(*read);
    }

    const auto prefixes = checkedPrefixes(*name, bytes, &why);
    if (!prefixes) {
        err << "teloria-data: " << source << ": refused, " << why << "; nothing replaced\n";
        return 1;
    }
    out << source << ": sound, " << *prefixes << " prefixes";
    if (const std::string date = data::dataFileDate(*name, bytes); !date.empty()
        && data::fileKindOf(*name) == data::FileKind::PhoneDat)
        out << ", dated " << date;
    out << "\n";

    // The answers today and with the new file in place.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        err << "teloria-data: no temporary folder: " << scratch.errorString().toStdString() << '\n';
        return 1;
    }
    const std::string candidate = scratch.filePath(QString::fromStdString(*name)).toStdString();
    if (!writeFile(candidate, bytes, err))
        return 1;
    data::DataSettings today = settings;
    today.program.clear();
    const data::LoadedStore before = data::loadStore(today);
    const data::LoadedStore after = storeWith(settings, target, candidate);
    out << "changes against today's data" << (targetExists ? " (replacing " + target + ")" : std::string()) << ":\n";
    printChange(compare(*before.store, *after.store), out);

    std::string oldBytes;
    if (targetExists) {
        auto read = data::readDataFile(target);
        if (read) {
            oldBytes = std::move(*read);
            std::string ignored;
            const auto oldPrefixes = checkedPrefixes(*name, oldBytes, &ignored).value_or(0);
            if (*prefixes * 10 < oldPrefixes * 9) {
                const std::size_t dropped = oldPrefixes - *prefixes;
                char percent[16];
                std::snprintf(percent, sizeof percent, "%.1f%%", 100.0 * double(dropped) / double(oldPrefixes));
                if (!force) {
                    err << "teloria-data: refused: " << target << " holds " << oldPrefixes << " prefixes today and "
                        << source << " " << *prefixes << ": it would drop " << dropped << " (" << percent
                        << ") of today's prefixes, more than a tenth; --force installs it\n";
                    return 1;
                }
                out << "dropping " << dropped << " (" << percent << ") of today's prefixes, as --force asks\n";
            }
        }
    }
    if (dryRun) {
        out << "dry run: nothing installed\n";
        return 0;
    }

    fs::create_directories(folders.back(), ec);
    if (targetExists && !oldBytes.empty() && !writeFile(target + ".previous", oldBytes, err))
        return 1;
    if (!writeFile(target, bytes, err))
        return 1;
    out << "installed " << target;
    if (targetExists)
        out << "; the file it replaced is " << target << ".previous (teloria-data update --rollback puts it back)";
    out << '\n';
    state.source = source;
    state.etag = etag;
    state.lastModified = lastModified;
    state.installed = target;
    state.replaced = targetExists && !oldBytes.empty();
    writeState(state, err);
    return 0;
}

} // namespace teloria::cli
