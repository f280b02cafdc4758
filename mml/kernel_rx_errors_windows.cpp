#include "mml/kernel_rx_errors.h"

namespace vyn::mml {

// Windows keeps a port's receive errors with the port's driver, where only a program that has
// the port open can read them (ClearCommError): the store's own value stands.
std::optional<uint32_t> KernelReceiveErrors(const std::string &, const std::string &) {
    return std::nullopt;
}

}  // namespace vyn::mml
