// The form stream reader: a dialog's form resource as corvane-host and the
// module read it. A stream that reads must write back to the same bytes
// (every value keeps its stored type) and must describe without failing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/form_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  corvane::TFormObject root;
  try {
    root = corvane::ReadFormStream(stream);
  } catch (const corvane::EFormStreamError&) {
    return 0;
  }
  if (corvane::WriteFormStream(root) != stream) std::abort();
  (void)corvane::DescribeForm(root);
  return 0;
}
