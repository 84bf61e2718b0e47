#include "controller/StationCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace orvento {

Catalogue parseCatalogue(const QByteArray& body) {
    Catalogue catalogue;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        catalogue.problems.append(QStringLiteral("the catalogue is not JSON: %1 at byte %2")
                                      .arg(error.errorString())
                                      .arg(error.offset));
        return catalogue;
    }
    if (!document.isArray()) {
        catalogue.problems.append(QStringLiteral("the catalogue is a JSON object, not an array"));
        return catalogue;
    }
    catalogue.readable = true;
    const QJsonArray elements = document.array();
    for (qsizetype i = 0; i < elements.size(); ++i) {
        const QJsonValue element = elements.at(i);
        QString missing;
        if (!element.isObject()) {
            missing = QStringLiteral("not an object");
        } else if (!element[QLatin1String("a")].isString()) {
            missing = QStringLiteral("no string \"a\"");
        } else if (!element[QLatin1String("d")].isString()) {
            missing = QStringLiteral("no string \"d\"");
        }
        if (!missing.isEmpty()) {
            catalogue.problems.append(
                QStringLiteral("catalogue element %1 skipped: %2").arg(i).arg(missing));
            continue;
        }
        catalogue.stations.append(Station{element[QLatin1String("a")].toString(),
                                          element[QLatin1String("d")].toString()});
    }
    return catalogue;
}

}  // namespace orvento
