#include "app/web_links.h"

#include <QUrlQuery>

namespace vexel {

QUrl WebPageUrl(const QString& site, WebPage page, const QString& fullVersion,
                const QString& languageCode) {
    QUrl url(site.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != "http" && url.scheme() != "https")) {
        return {};
    }
    QString path = url.path();
    if (!path.endsWith('/')) path += '/';
    QUrlQuery query;
    switch (page) {
        case WebPage::Manual:
            path += "manual.php";
            query.addQueryItem("v", fullVersion);
            break;
        case WebPage::Translations:
            path += "translation.php";
            query.addQueryItem("v", fullVersion);
            break;
        case WebPage::Home:
            break;
        case WebPage::Contact:
            path += "contact.php";
            query.addQueryItem("lang", languageCode);
            break;
    }
    url.setPath(path);
    // Every reserved character of a value is encoded, '&', '=' and '+' included.
    QUrlQuery encoded;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        encoded.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(key)),
                             QString::fromLatin1(QUrl::toPercentEncoding(value)));
    }
    url.setQuery(encoded.isEmpty() ? QString() : encoded.query(QUrl::FullyEncoded),
                 QUrl::StrictMode);
    url.setFragment({});
    return url;
}

}  // namespace vexel
