// Registry write blocks (test support): the object around each backend's
// block.
#include "platform/registry_write_block.h"

#include "platform/os_error.h"
#include "platform/portable/registry_write_block_backend.h"

namespace corvane::platform {

struct RegistryWriteBlock::State {
  std::unique_ptr<backend::RegistryWriteBlocker> block;
};

RegistryWriteBlock::RegistryWriteBlock(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryWriteBlock::RegistryWriteBlock(RegistryWriteBlock&&) noexcept = default;
RegistryWriteBlock& RegistryWriteBlock::operator=(RegistryWriteBlock&&) noexcept = default;
RegistryWriteBlock::~RegistryWriteBlock() = default;

std::optional<RegistryWriteBlock> RegistryWriteBlock::apply(RegistryRoot root,
                                                            std::string_view path,
                                                            RegistryView view) {
  auto state = std::make_unique<State>();
  state->block = backend::blockRegistryWrites(root, path, view);
  if (!state->block) return std::nullopt;
  setLastErrorCode(kErrorSuccess);
  return RegistryWriteBlock(std::move(state));
}

}  // namespace corvane::platform
