#pragma once
// An import run off the window's thread: the numbers of a file, and the input
// box's text already made into a document.

#include "lookup/number_import.h"

#include <QString>
#include <memory>

class QTextDocument;

namespace teloria {

// The one number cleaner decides what is a number, in the run and in an import.
bool cleansToNumber(const QString& line);

// Filling a text document with a million lines takes seconds; done off the
// window's thread, the window stays usable. The document belongs to no thread
// until the window pulls it to its own, and goes with the last copy of this
// unless the input box took it.
struct ImportedDocument {
    QTextDocument* document = nullptr;
    bool taken = false; // by the input box, on the window's thread
    ~ImportedDocument();
};

struct ImportResult {
    ImportedNumbers numbers;
    std::shared_ptr<ImportedDocument> text; // none when nothing was read
};

// Runs on a worker thread.
ImportResult importOffThread(const QString& path);

} // namespace teloria
