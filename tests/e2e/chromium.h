#pragma once
// Loads a page in headless Chromium, the way the widget runs in a real
// browser: the DOM after a few seconds of (virtual) time, and a screenshot.

#include <optional>
#include <string>
#include <vector>

namespace vq::e2e {

// The Chromium binary: $VELQUETTE_CHROMIUM, else /usr/bin/chromium, else
// chromium or chromium-browser on PATH. nullopt when there is none.
std::optional<std::string> findChromium();

struct PageLoad {
    std::string url;
    std::string screenshotPath;  // empty: no screenshot
    int width = 320;
    int height = 240;
    // Virtual time the page gets to run; timers advance without waiting.
    int budgetMs = 4000;
};

struct PageSnapshot {
    bool ok = false;  // Chromium exited 0 and printed a document
    std::string dom;
    std::string log;  // Chromium's stderr, for failure messages
};

PageSnapshot loadPage(const std::string& chromium, const PageLoad& load);

// The text inside the element with this id ("" when absent), assuming it
// holds text only.
std::string textOfId(const std::string& dom, const std::string& id);

// How many elements carry this class among their classes.
std::size_t countClass(const std::string& dom, const std::string& className);

// The texts of the elements that carry this class, in document order,
// assuming each holds text only.
std::vector<std::string> textsOfClass(const std::string& dom, const std::string& className);

// Where a screenshot of this name goes: <build>/artifacts/<name>.png.
std::string artifactPath(const std::string& name);

}  // namespace vq::e2e
