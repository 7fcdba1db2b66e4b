#include "support/update_check.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vexel {
namespace {

bool Unreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Integer attribute with a default, clamped to a sane window size.
int Dimension(const tinyxml2::XMLElement* e, const char* name, int fallback, int low, int high) {
    int value = fallback;
    if (e->Attribute(name) && e->QueryIntAttribute(name, &value) != tinyxml2::XML_SUCCESS)
        value = fallback;
    return std::clamp(value, low, high);
}

// Host (with port) of an http or https address, lower case; empty when it is neither.
std::string HttpHost(std::string_view url) {
    std::string lower = Lower(url.substr(0, 8));
    size_t skip = lower.rfind("http://", 0) == 0 ? 7 : lower.rfind("https://", 0) == 0 ? 8 : 0;
    if (skip == 0) return {};
    std::string_view rest = url.substr(skip);
    std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
    // User information and odd characters in the authority are refused outright.
    for (unsigned char c : host)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == ':')) return {};
    return Lower(host);
}

std::string StripPort(std::string_view host) { return std::string(host.substr(0, host.find(':'))); }

}  // namespace

std::string PercentEncode(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (Unreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string AppendQuery(std::string url, std::string_view key, std::string_view value) {
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += key;
    url += '=';
    url += PercentEncode(value);
    return url;
}

bool IsValidCheckId(std::string_view id) {
    return !id.empty() && id.size() <= 64 &&
           std::all_of(id.begin(), id.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '_' || c == '-';
           });
}

std::string UpdateQueryPath(const UpdateQuery& query) {
    std::string path = "/u.php";
    path = AppendQuery(path, "b", "0");
    path = AppendQuery(path, "p", kUpdatePlatform);
    path = AppendQuery(path, "v", query.version);
    path = AppendQuery(path, "l", query.languageCode);
    const FourPartVersion& iv = query.ignoreVersion;
    if (!query.manual && (iv[0] | iv[1] | iv[2] | iv[3]) != 0) {
        char text[48];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", iv[0], iv[1], iv[2], iv[3]);
        path = AppendQuery(path, "iv", text);
    }
    if (query.manual) path = AppendQuery(path, "m", "1");
    if (IsValidCheckId(query.checkId)) path = AppendQuery(path, "c", query.checkId);
    return path;
}

std::optional<FourPartVersion> ParseVersion(std::string_view text) {
    FourPartVersion version{};
    size_t part = 0;
    while (true) {
        size_t dot = text.find('.');
        std::string_view number = text.substr(0, dot);
        if (part == 4 || number.empty() || number.size() > 9) return std::nullopt;
        uint32_t value = 0;
        for (char c : number) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        version[part++] = value;
        if (dot == std::string_view::npos) return version;
        text.remove_prefix(dot + 1);
    }
}

UpdateAnswer ParseUpdateReply(std::string_view body, bool manual, const FourPartVersion& current) {
    UpdateAnswer answer;
    tinyxml2::XMLDocument doc;
    if (doc.Parse(body.data(), body.size()) != tinyxml2::XML_SUCCESS) return answer;
    if (const tinyxml2::XMLElement* ok = doc.FirstChildElement("ok")) {
        answer.kind = UpdateAnswer::Kind::kOk;
        if (const char* c = ok->Attribute("c"); c && IsValidCheckId(c)) answer.checkId = c;
        answer.noUpdatesNotice = manual && ok->Attribute("m", "1") != nullptr;
        return answer;
    }
    const tinyxml2::XMLElement* u = doc.FirstChildElement("u");
    if (!u || !u->Attribute("v")) return answer;
    auto version = ParseVersion(u->Attribute("v"));
    if (!version || *version <= current) return answer;
    answer.kind = UpdateAnswer::Kind::kOffer;
    UpdateOffer& offer = answer.offer;
    offer.version = *version;
    if (const char* t = u->Attribute("t")) offer.title.assign(t, std::min<size_t>(std::strlen(t), 200));
    if (const char* url = u->Attribute("u")) offer.url = url;
    int ic = 0;
    if (u->Attribute("ic") && u->QueryIntAttribute("ic", &ic) != tinyxml2::XML_SUCCESS) ic = 0;
    offer.offerIgnore = !manual && ic == 0;
    offer.width = Dimension(u, "w", 500, 200, 1600);
    offer.height = Dimension(u, "h", 300, 150, 1200);
    return answer;
}

std::string UpdatePageUrl(std::string_view offered, std::string_view updateHost,
                          std::string_view version) {
    std::string wanted = StripPort(Lower(updateHost));
    std::string host = StripPort(HttpHost(offered));
    bool allowed = !wanted.empty() && !host.empty() &&
                   (host == wanted || (host.size() > wanted.size() &&
                                       host.compare(host.size() - wanted.size(), wanted.size(),
                                                    wanted) == 0 &&
                                       host[host.size() - wanted.size() - 1] == '.'));
    for (unsigned char c : offered)
        if (c <= ' ' || c == 0x7f) allowed = false;
    std::string url = "http://" + std::string(updateHost) + "/update.php";
    if (allowed) {
        // The scheme in its plain lower-case form, so nothing downstream reads it otherwise.
        const size_t colon = offered.find(':');
        url = Lower(offered.substr(0, colon)) +
              std::string(offered.substr(colon, offered.find('#') - colon));
    }
    url = AppendQuery(url, "p", kUpdatePlatform);
    return AppendQuery(url, "v", version);
}

CheckDate UtcDate(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

}  // namespace vexel
