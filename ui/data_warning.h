#pragma once
// The window says nothing about its data files unless one was refused: then
// one warning box names every refused file and the reason.

#include "data/data_files.h"
#include "lookup/run_ports.h"

#include <vector>

namespace teloria {

// Shows the box when some report is a refusal; returns whether it did.
bool warnAboutRefusedDataFiles(const std::vector<data::LoadReport>& reports, MessageSink& messages);

} // namespace teloria
