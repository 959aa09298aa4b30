#include "host/dialog_view.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/code_resource.h"
#include "common/form_stream.h"

namespace corvane::host {
namespace {

void printIndented(const std::string& text, const char* indent) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::printf("%s%s\n", indent, text.substr(start, end - start).c_str());
    start = end + 1;
  }
}

}  // namespace

int ShowDialog(LoadedPlugin& plugin, TPluginCallRecord& instance) {
  // The first call tells the size needed (status 3), the second delivers.
  std::vector<char> buffer(sizeof(OptionsDialogBlock));
  for (int attempt = 0; attempt < 2; ++attempt) {
    instance.InputItem.Type = ditMemoryBlock;
    instance.InputItem.Pointer = reinterpret_cast<uintptr_t>(buffer.data());
    instance.InputItem.Size = static_cast<int32_t>(buffer.size());
    instance.OutputItem = {};
    plugin.GetOptionsDialog(&instance);
    if (instance.OutputItem.Type != ditStatus || instance.OutputItem.Pointer != 3) break;
    buffer.assign(static_cast<size_t>(instance.OutputItem.Size), '\0');
  }
  instance.InputItem = {};
  if (instance.OutputItem.Type != ditHostBuffer) {
    std::printf("options dialog: none (status %u)\n", static_cast<unsigned>(instance.OutputItem.Pointer));
    return 2;
  }
  OptionsDialogBlock block;
  std::memcpy(&block, buffer.data(), sizeof block);
  const std::string form(buffer.data() + block.FormOffset, block.FormLength);
  const std::string extra(buffer.data() + block.ExtraOffset, block.ExtraLength);
  const std::string code(buffer.data() + block.CodeOffset, block.CodeLength);
  try {
    std::printf("form: %u bytes\n", block.FormLength);
    printIndented(DescribeForm(ReadFormStream(form)), "  ");
    std::printf("extra: %u bytes\n", block.ExtraLength);
    if (!extra.empty()) printIndented(extra, "  ");
    const TCodeResource resource = ReadCodeResource(code);
    std::printf("code: %u bytes, gzip of %zu bytes of text\n", block.CodeLength, resource.Text.size());
    std::printf("  event code (%zu characters, one line):\n    %s\n", resource.Code.size(), resource.Code.c_str());
    std::printf("  form name: %s\n", resource.FormName.c_str());
    std::printf("  item list:\n");
    for (const std::string& item : resource.Items) std::printf("    \"%s\"\n", item.c_str());
  } catch (const std::exception& e) {
    std::printf("options dialog: %s\n", e.what());
    return 2;
  }
  return 0;
}

}  // namespace corvane::host
