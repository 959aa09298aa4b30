// Internal: the process-wide table of registered embedded resources, keyed
// by the module they belong to (the backend says which module an address
// belongs to).
#pragma once

#include <optional>
#include <string_view>

#include "platform/resources.h"

namespace corvane::platform::embedded {

void add(const void* moduleKey, const EmbeddedResource* table, size_t count);
void remove(const void* moduleKey);
std::optional<std::string_view> find(const void* moduleKey, std::string_view name);

}  // namespace corvane::platform::embedded
