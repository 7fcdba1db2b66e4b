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
    const char* key = nullptr;
    QString value;
    switch (page) {
        case WebPage::Manual:
            path += "manual.php";
            key = "v", value = fullVersion;
            break;
        case WebPage::Translations:
            path += "translation.php";
            key = "v", value = fullVersion;
            break;
        case WebPage::Home:
            break;
        case WebPage::Contact:
            path += "contact.php";
            key = "lang", value = languageCode;
            break;
        case WebPage::Privacy:
            path += "privacy.php";
            break;
    }
    url.setPath(path);
    // Every reserved character of the value is encoded, '&', '=' and '+' included.
    QUrlQuery query;
    if (key != nullptr) query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    url.setQuery(query.isEmpty() ? QString() : query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    url.setFragment({});
    return url;
}

}  // namespace vexel
