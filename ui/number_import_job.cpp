#include "ui/number_import_job.h"

#include "data/number_normalizer.h"

#include <QPlainTextDocumentLayout>
#include <QTextDocument>

namespace teloria {

bool cleansToNumber(const QString& line)
{
    return data::cleanNumber(line.toStdString()).has_value();
}

ImportedDocument::~ImportedDocument()
{
    if (!taken)
        delete document;
}

ImportResult importOffThread(const QString& path)
{
    ImportResult result;
    result.numbers = importNumbers(path, cleansToNumber);
    if (!result.numbers.error.isEmpty() || result.numbers.count == 0)
        return result;
    auto* document = new QTextDocument;
    document->setDocumentLayout(new QPlainTextDocumentLayout(document)); // what the input box draws with
    document->setPlainText(result.numbers.text);
    result.numbers.text.clear();
    document->moveToThread(nullptr);
    result.text = std::make_shared<ImportedDocument>();
    result.text->document = document;
    return result;
}

} // namespace teloria
