// Internal: what each backend provides for RegistryWriteBlock, whose object
// handling is in registry_write_block.cpp.
#pragma once

#include <memory>
#include <string_view>

#include "platform/registry.h"

namespace corvane::platform::backend {

// A block in force; destroying it lifts the block.
class RegistryWriteBlocker {
 public:
  virtual ~RegistryWriteBlocker() = default;
};

// Blocks writing to the existing key as registry_write_block.h describes;
// nullptr with lastErrorCode set when it cannot.
std::unique_ptr<RegistryWriteBlocker> blockRegistryWrites(RegistryRoot root, std::string_view path,
                                                          RegistryView view);

}  // namespace corvane::platform::backend
