#pragma once
// The widget page's files, served from one directory. A request path is
// mapped to a file only when it is a plain relative path of ordinary names,
// so nothing outside that directory can be named, however it is encoded.

#include <optional>
#include <string>
#include <string_view>

namespace vq::host {

// The file that a raw (still percent-encoded) request path names, relative
// to the web directory: "/" is "index.html". nullopt when the path has an
// empty, "." or ".." segment, a segment starting with ".", a character
// outside [A-Za-z0-9._-] once decoded, or a malformed escape.
std::optional<std::string> webRelativePath(std::string_view rawPath);

// The Content-Type for a file name, by its extension; nullopt for types the
// host does not serve.
std::optional<std::string_view> contentTypeForFile(std::string_view fileName);

struct WebFile {
    std::string contentType;
    std::string contents;
};

// Reads a file of the web directory. nullopt when it does not exist, is not
// a regular file inside the directory (symbolic links are followed only
// while they stay inside), is of an unserved type or is unreadable.
std::optional<WebFile> loadWebFile(const std::string& webRoot, const std::string& relativePath);

}  // namespace vq::host
