#include "console/access/store_access.h"

#include "base/store_path.h"

namespace vyn::console {

std::string StorePath(const AccessOptions &options) {
    return StorePathOr(options.storePath);
}

std::unique_ptr<mml::Store> OpenStore(const AccessOptions &options, std::string &reason) {
    mml::Error error;
    auto store = mml::Store::Open(StorePath(options), error);
    if (!store) {
        reason = error.message;
    }
    return store;
}

}  // namespace vyn::console
