#pragma once
// Icon files reach the page only through the host, and only from the two
// icon caches of the plug-in object: the process icon cache and the volume
// icon cache. Call results name icons by file path; before a result leaves
// the host each such path is replaced by a URL under /icons/, and a GET of
// that URL is mapped back to the one file it names.
//
//   <process icon cache>/<name>.png   <->  /icons/processes/<percent-encoded name>.png
//   <volume icon cache>//<name>.png   <->  /icons/volumes/<percent-encoded name>.png
//
// A URL names exactly one file directly inside one cache: a single path
// segment, no "/" once decoded, not hidden, a ".png" name. Anything else is
// not an icon URL, however it is encoded.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "miners/data_set.h"

namespace vq {
class Velquette;
}

namespace vq::host {

constexpr std::string_view kIconUrlPrefix = "/icons/";

// The icon files served are small pictures; a bigger file is not an icon.
constexpr std::size_t kMaxIconFileBytes = 2 * 1024 * 1024;

enum class IconCache { Processes, Volumes };

// The cache folders as the plug-in object names them; an empty one has no
// icons (the object found no data folder).
struct IconCaches {
    std::string processes;
    std::string volumes;

    const std::string& folder(IconCache cache) const { return cache == IconCache::Processes ? processes : volumes; }
};

IconCaches iconCachesOf(const Velquette& object);

// True when a file name may be served as an icon: not empty, no "/" and no
// NUL, not starting with ".", ending in ".png" after at least one character.
bool isServableIconName(std::string_view fileName);

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX (upper-case hex), so a name
// with spaces, "%", "?", "#" or non-ASCII characters is one URL segment.
std::string percentEncoded(std::string_view bytes);

// The URL that stands for a file path, or nullopt when the path is not a
// servable icon directly inside one of the caches. The folder may be
// followed by any number of "/" before the file name (the volume miner
// writes "<folder>/" + "/" + name).
std::optional<std::string> iconUrlForPath(std::string_view path, const IconCaches& caches);

// Replaces, anywhere inside a call result, every string that iconUrlForPath
// maps by its URL. Other values are left as they are.
void rewriteIconPaths(Value& result, const IconCaches& caches);

// What a GET path under /icons/ names.
struct IconRequest {
    IconCache cache;
    std::string fileName;  // decoded, servable
};

// nullopt unless the raw (still percent-encoded) path is
// "/icons/processes/<segment>" or "/icons/volumes/<segment>" whose segment
// decodes to a servable icon name. Malformed escapes are refused.
std::optional<IconRequest> iconRequestForUrlPath(std::string_view rawPath);

// Reads an icon file from its cache folder: a regular file directly in the
// folder, not a symbolic link, at most kMaxIconFileBytes, starting with the
// PNG signature. nullopt otherwise, or when the folder is empty.
std::optional<std::string> loadIconFile(const IconCaches& caches, const IconRequest& request);

}  // namespace vq::host
