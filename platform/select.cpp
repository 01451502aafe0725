#include "platform/backend.hpp"

namespace platform {

std::unique_ptr<Backend> make_backend(const BackendOptions& options) {
  return std::make_unique<HeadlessBackend>(options.screen, options.start);
}

}  // namespace platform
