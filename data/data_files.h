#pragma once
// The data files a program loads, in this order: every *.dat (phone.dat
// layout) and *.tsv (override table) in /usr/share/teloria/, then in
// $XDG_DATA_HOME/teloria/ (default ~/.local/share/teloria/), each folder in
// name order, then those named with --data in the order given. One rule: a
// later file wins over an earlier one of the same kind, so the user's folder
// beats the system's and --data beats both; override tables beat phone.dat
// files whatever their place. A file that cannot be used is skipped with its
// reason; the others still load.

#include "data/learn_settings.h"
#include "data/prefix_store.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace teloria::data {

struct DataSettings {
    std::vector<std::string> files; // --data FILE, in the order given
    bool discover = true;           // also the files found in the data folders
    std::string program;            // names the program in the lines on standard error; empty: no lines
    LearnSettings learn;            // learned answers and the upstream to learn from
};

class Learning;
class Clock;

struct LoadReport {
    std::string path;
    bool loaded = false;      // false: refused, reason says why
    std::size_t prefixes = 0; // 7-digit prefixes it set
    std::string reason;       // refused: why; loaded: records it skipped, if any
    // How old the data are: "2023-02" (a phone.dat's version), "2024-05-01"
    // (a table's "# date:" line, else its modification time; the newest
    // learned answer; the built-in segment table); "" when unknown.
    std::string date;
};

// The built-in data as a source: path "built-in", the segment table's date,
// and in reason what it is made of ("segment table of 2024-05-01,
// libphonenumber 8.12.57 geocoder").
LoadReport builtInReport();
// The line --version adds: "data: built-in segment table of 2024-05-01, ...".
std::string versionDataLine();

// The date of a data file's bytes: a phone.dat's version "2302" -> "2023-02",
// a table's "# date: YYYY-MM-DD" comment before its first record; else the
// file's modification time (UTC), else "".
std::string dataFileDate(const std::string& path, std::string_view bytes);

enum class FileKind { PhoneDat, Overrides };
// By extension: ".tsv" is an override table, anything else the phone.dat layout.
FileKind fileKindOf(const std::string& path);

// The data folders, in load order: the system's, then the user's.
std::vector<std::string> dataFolders();
// The *.dat and *.tsv files in the data folders, in load order.
std::vector<std::string> discoverDataFiles();

struct LoadedStore {
    std::shared_ptr<PrefixStore> store; // shared by every server thread; learn() may add to it
    std::vector<LoadReport> reports; // one per file, in load order, then the learned answers'
    std::shared_ptr<Learning> learning; // nothing without an upstream and without learned answers
};
// Learned answers go in last, above phone.dat files and below override tables.
// The learning waits on clock (null: the system's).
LoadedStore loadStore(const DataSettings& settings, std::shared_ptr<Clock> clock = nullptr);

// One line for standard error: "loaded 4 prefixes from FILE, dated 2023-02",
// "skipped FILE: why".
std::string reportLine(const LoadReport& report);

} // namespace teloria::data
