// Addresses of the pages on the program's web site. The site is configuration ("WebSite" in
// the settings file); without one, or with one that is not http or https, there are none.
#pragma once

#include <QString>
#include <QUrl>
#include <utility>
#include <vector>

namespace vexel {

enum class WebPage { Manual, Translations, Home, Contact, Privacy };

// The page's address with its query values percent-encoded; an invalid QUrl without a site.
QUrl WebPageUrl(const QString& site, WebPage page, const QString& fullVersion,
                const QString& languageCode);

}  // namespace vexel
