#include "web/pages.h"

namespace vyn::web {

const Page *FindPage(std::string_view path) {
    if (path == "/") {
        path = "/index.html";
    }
    for (const Page &page : Pages()) {
        if (page.path == path) {
            return &page;
        }
    }
    return nullptr;
}

}  // namespace vyn::web
