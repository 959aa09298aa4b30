// Raw-data resources (type 10) of a module, looked up by name (ASCII letters
// compare without case, as Windows resource names do). On Windows they are
// the module's own resources; a module may also register a table of
// embedded resources, which is how POSIX builds carry theirs. The build's
// corvane_add_resources() (cmake/EmbedResources.cmake) produces either form
// from the same files.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/abi.h"

namespace corvane::platform {

struct EmbeddedResource {
  const char* name;
  const unsigned char* data;
  size_t size;
};

// Registers the table for the module that contains anchor (any address of
// its code or data). The table must outlive the module's use of it.
CV_PLATFORM_API void registerEmbeddedResources(const void* anchor, const EmbeddedResource* table, size_t count);
CV_PLATFORM_API void unregisterEmbeddedResources(const void* anchor);

// The bytes of the named resource of the module that contains anchor;
// nullopt when it has none of that name.
CV_PLATFORM_API std::optional<std::string_view> findModuleResource(const void* anchor, std::string_view name);

}  // namespace corvane::platform
