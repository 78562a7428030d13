#include "PortAliases.h"

#include <QDir>
#include <QFileInfo>

namespace q218::flash {

QString SerialAlias(const QString& kind, const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty()) {
        return {};
    }
    const QDir folder(QStringLiteral("/dev/serial/") + kind);
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files)) {
        if (link.canonicalFilePath() == target) {
            return link.absoluteFilePath();
        }
    }
    return {};
}

}  // namespace q218::flash
