#include "ui/data_warning.h"

#include <QString>
#include <QStringList>

namespace teloria {

bool warnAboutRefusedDataFiles(const std::vector<data::LoadReport>& reports, MessageSink& messages)
{
    QStringList lines;
    for (const auto& report : reports)
        if (!report.loaded)
            lines << QStringLiteral("%1：%2").arg(QString::fromStdString(report.path), QString::fromStdString(report.reason));
    if (lines.isEmpty())
        return false;
    messages.warning(QStringLiteral("Teloria"),
                     QStringLiteral("以下数据文件未能载入，已跳过：\n") + lines.join(QLatin1Char('\n')));
    return true;
}

} // namespace teloria
