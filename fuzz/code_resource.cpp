// The options dialog's code resource, as corvane-host reads it from a
// library: the input is both taken as the gzip member itself and, packed
// into one, as the text in it. A text that reads must be its three parts
// again: the code, the separator, the form name, the separator and the item
// lines joined by CR LF.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/code_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    (void)corvane::ReadCodeResource(input);
  } catch (const corvane::ECodeResourceError&) {
  }

  corvane::TCodeResource resource;
  try {
    resource = corvane::ReadCodeResource(corvane::GzipMember(input));
  } catch (const corvane::ECodeResourceError&) {
    return 0;
  }
  if (resource.Text != input) std::abort();
  const std::string separator(corvane::CodeResourceSeparator);
  std::string rebuilt = resource.Code + separator + resource.FormName + separator;
  for (size_t i = 0; i < resource.Items.size(); ++i) rebuilt += (i ? "\r\n" : "") + resource.Items[i];
  if (rebuilt != input && rebuilt + "\r\n" != input) std::abort();
  if (resource.FormName.find(separator) != std::string::npos) std::abort();
  return 0;
}
