#include "host/fleet_config.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <utility>

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

std::string configFilePath() {
    GCharPtr path(g_build_filename(g_get_user_config_dir(), "velquette", "velquette.conf", nullptr));
    return path.get();
}

PrometheusSettings loadPrometheusSettings(const std::string& path) {
    KeyFilePtr file(g_key_file_new());
    GError* raw = nullptr;
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, &raw)) {
        ErrorPtr error(raw);
        if (!g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
            const std::string aside = path + ".bad";
            const bool moved = error->domain == G_KEY_FILE_ERROR && g_rename(path.c_str(), aside.c_str()) == 0;
            std::fprintf(stderr, "velquette: %s: %s%s\n", path.c_str(), error->message,
                         moved ? (", kept aside as " + aside + "; using the defaults").c_str() : "");
        }
        return {};
    }
    PrometheusSettings settings{stringKey(file.get(), "url"), stringKey(file.get(), "username"),
                                stringKey(file.get(), "password-file"), stringKey(file.get(), "bearer-token-file")};
    if (auto reason = settings.url.empty() ? std::nullopt : refusePrometheusUrl(settings.url)) {
        std::fprintf(stderr, "velquette: %s: url left out: %s\n", path.c_str(), reason->c_str());
        settings.url.clear();
    }
    return settings;
}

std::optional<std::string> storePrometheusUrl(const std::string& path, const std::string& url) {
    if (!url.empty())
        if (auto reason = refusePrometheusUrl(url)) return reason;
    KeyFilePtr file(g_key_file_new());
    GError* raw = nullptr;
    const int keep = G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS;
    if (!g_key_file_load_from_file(file.get(), path.c_str(), GKeyFileFlags(keep), &raw)) {
        ErrorPtr error(std::exchange(raw, nullptr));
        // A file that cannot be read as a key file is not overwritten: it may be the user's to mend.
        if (!g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT))
            return "cannot read " + path + ": " + error->message;
    }
    if (url.empty())
        g_key_file_remove_key(file.get(), kGroup, "url", nullptr);
    else
        g_key_file_set_string(file.get(), kGroup, "url", url.c_str());
    gsize length = 0;
    GCharPtr text(g_key_file_to_data(file.get(), &length, nullptr));
    GCharPtr folder(g_path_get_dirname(path.c_str()));
    if (g_mkdir_with_parents(folder.get(), 0700) != 0) return "cannot create " + std::string(folder.get());
    if (!g_file_set_contents_full(path.c_str(), text.get(), gssize(length), G_FILE_SET_CONTENTS_CONSISTENT, 0600,
                                  &raw)) {
        ErrorPtr error(raw);
        return "cannot write " + path + ": " + error->message;
    }
    return std::nullopt;
}

}  // namespace vq::host
