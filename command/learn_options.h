#pragma once
// What the shared options of the programs' own lookup mean: the learning
// settings they give, and the rule for a named lookup service, which loads
// its own data and asks its own upstream.

#include "command/command_line.h"
#include "data/learn_settings.h"

#include <optional>

namespace teloria::command {

// The learning options the command line takes (Shared::Learning, or --upstream
// or --learned alone), then TELORIA_UPSTREAM when no --upstream was given.
// False with *error for a value out of range, a malformed URL or a
// contradicting pair.
bool readLearnSettings(const CommandLine& line, data::LearnSettings& settings, QString* error);

// Whether a lookup service is named: --service, or TELORIA_SERVICE set (even
// empty, so that a typo is reported rather than passed over).
bool serviceNamed(const CommandLine& line);

// A --service on the command line that names no lookup service (its message,
// for the usage line), found before anything starts. TELORIA_SERVICE is
// looked at where the service is chosen.
std::optional<QString> refuseMalformedService(const CommandLine& line);

// With a lookup service named, the options for the program's own lookup have
// nothing to act on: the first one given is refused (its message), and
// TELORIA_UPSTREAM, being everyone's setting, is only said to be ignored
// (*note). Nothing: the command line holds together.
std::optional<QString> refuseOwnLookupOptions(const CommandLine& line, QString* note);

} // namespace teloria::command
