// The files of the pages (HTML, scripts, styles, uPlot), built into the program from web/pages/.
// The server serves these and nothing else: no request ever reaches the file system.
#pragma once

#include <string_view>
#include <vector>

namespace vyn::web {

struct Page {
    std::string_view path;  // "/index.html", "/vendor/uPlot.iife.min.js"
    std::string_view type;  // its Content-Type
    std::string_view body;
};

// Every page, in the order of the build.
const std::vector<Page> &Pages();

// The page at exactly `path` ("/" is the rack page), or null.
const Page *FindPage(std::string_view path);

}  // namespace vyn::web
