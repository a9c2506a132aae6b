#include "host/fleet_config.h"

#include <algorithm>
#include <cstdio>

#include "host/glib_handles.h"

namespace vq::host {
namespace {

constexpr const char* kGroup = "prometheus";

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

std::string stringKey(GKeyFile* file, const char* key) {
    GCharPtr value(g_key_file_get_string(file, kGroup, key, nullptr));
    return value ? value.get() : "";
}

}  // namespace

std::optional<std::string> refusePrometheusUrl(const std::string& url) {
    if (url.size() > 2048) return "the URL is longer than 2048 characters";
    // GUri takes a space in a host name; libsoup would not.
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        return std::string("the URL must not hold spaces or control characters");
    GError* raw = nullptr;
    GUri* parsed = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, &raw);
    ErrorPtr error(raw);
    if (!parsed) return std::string("not a URL: ") + error->message;
    std::unique_ptr<GUri, decltype(&g_uri_unref)> uri(parsed, &g_uri_unref);
    const std::string scheme = g_uri_get_scheme(uri.get());
    if (scheme != "http" && scheme != "https") return "the URL must begin with http:// or https://, not " + scheme + ":";
    const char* host = g_uri_get_host(uri.get());
    if (!host || !*host) return std::string("the URL names no host");
    if (g_uri_get_userinfo(uri.get()))
        return std::string("the URL must not hold credentials: put them in password-file or bearer-token-file");
    if (g_uri_get_query(uri.get()) || g_uri_get_fragment(uri.get()))
        return std::string("the URL must not have a query or a fragment");
    return std::nullopt;
}

PrometheusSettings loadPrometheusSettings(ConfigFiles& files) {
    const auto text = files.read(kConfigFileName);
    if (!text) return {};
    KeyFilePtr file(g_key_file_new());
    GError* raw = nullptr;
    if (!g_key_file_load_from_data(file.get(), text->data(), text->size(), G_KEY_FILE_NONE, &raw)) {
        ErrorPtr error(raw);
        const bool moved = files.setAside(kConfigFileName);
        std::fprintf(stderr, "velquette: %s: %s%s\n", kConfigFileName, error->message,
                     moved ? ", kept aside as velquette.conf.bad; using the defaults" : "");
        return {};
    }
    PrometheusSettings settings{stringKey(file.get(), "url"), stringKey(file.get(), "username"),
                                stringKey(file.get(), "password-file"), stringKey(file.get(), "bearer-token-file")};
    if (auto reason = settings.url.empty() ? std::nullopt : refusePrometheusUrl(settings.url)) {
        std::fprintf(stderr, "velquette: %s: url left out: %s\n", kConfigFileName, reason->c_str());
        settings.url.clear();
    }
    return settings;
}

std::optional<std::string> storePrometheusUrl(ConfigFiles& files, const std::string& url) {
    if (!url.empty())
        if (auto reason = refusePrometheusUrl(url)) return reason;
    KeyFilePtr file(g_key_file_new());
    const int keep = G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS;
    if (const auto text = files.read(kConfigFileName)) {
        GError* raw = nullptr;
        // A file that cannot be read as a key file is not overwritten: it may be the user's to mend.
        if (!g_key_file_load_from_data(file.get(), text->data(), text->size(), GKeyFileFlags(keep), &raw)) {
            ErrorPtr error(raw);
            return std::string("cannot read ") + kConfigFileName + ": " + error->message;
        }
    }
    if (url.empty())
        g_key_file_remove_key(file.get(), kGroup, "url", nullptr);
    else
        g_key_file_set_string(file.get(), kGroup, "url", url.c_str());
    gsize length = 0;
    GCharPtr text(g_key_file_to_data(file.get(), &length, nullptr));
    if (!files.replace(kConfigFileName, std::string(text.get(), length)))
        return std::string("cannot write ") + kConfigFileName;
    return std::nullopt;
}

}  // namespace vq::host
