#pragma once
// The data files a program loads: those named with --data, then every *.dat
// (phone.dat layout) and *.tsv (override table) in $XDG_DATA_HOME/teloria/
// (default ~/.local/share/teloria/) and then in /usr/share/teloria/, each
// folder in name order. Earlier files win over later ones of the same kind,
// so --data beats the user's folder, which beats the system's; override
// tables beat phone.dat files whatever their place. A file that cannot be
// used is skipped with its reason; the others still load.

#include "data/learn_settings.h"
#include "data/prefix_store.h"

#include <memory>
#include <string>
#include <vector>

namespace teloria::data {

struct DataSettings {
    std::vector<std::string> files; // --data FILE, in the order given
    bool discover = true;           // also the files found in the data folders
    std::string program;            // names the program in the lines on standard error; empty: no lines
    LearnSettings learn;            // learned answers and the upstream to learn from
};

class Learning;

struct LoadReport {
    std::string path;
    bool loaded = false;      // false: refused, reason says why
    std::size_t prefixes = 0; // 7-digit prefixes it set
    std::string reason;       // refused: why; loaded: records it skipped, if any
};

enum class FileKind { PhoneDat, Overrides };
// By extension: ".tsv" is an override table, anything else the phone.dat layout.
FileKind fileKindOf(const std::string& path);

// The data folders, highest priority first.
std::vector<std::string> dataFolders();
// The *.dat and *.tsv files in the data folders, in load order.
std::vector<std::string> discoverDataFiles();

struct LoadedStore {
    std::shared_ptr<PrefixStore> store; // shared by every server thread; learn() may add to it
    std::vector<LoadReport> reports; // one per file, in the order of the settings, then the learned answers'
    std::shared_ptr<Learning> learning; // nothing without an upstream and without learned answers
};
// Learned answers go in last, above phone.dat files and below override tables.
LoadedStore loadStore(const DataSettings& settings);

// One line for standard error: "loaded 4 prefixes from FILE", "skipped FILE: why".
std::string reportLine(const LoadReport& report);

} // namespace teloria::data
