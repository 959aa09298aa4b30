#include "plugin/parsed_data.h"

#include <cstring>
#include <new>

#include "common/exceptions.h"
#include "common/params_list_copy.h"
#include "platform/shared_memory.h"
#include "plugin/call_params.h"

namespace corvane {
namespace {

constexpr int32_t SeparatorLength = static_cast<int32_t>(ParsedDataSeparator.size());

bool holdsBlock(const TPluginDataItem& item) {
  return item.Size > 0 && item.Pointer != 0 && item.Type == ditMemoryBlock;
}

bool endsWithSeparator(const TPluginDataItem& block) {
  const char* data = reinterpret_cast<const char*>(block.Pointer);
  return std::memcmp(data + block.Size - SeparatorLength, ParsedDataSeparator.data(), ParsedDataSeparator.size()) == 0;
}

void writeText(TPluginDataItem& input, std::string_view text, bool append) {
  const auto length = static_cast<int64_t>(text.size());
  int64_t start = 0;
  int64_t newSize = length;
  bool separator = false;
  const bool grow = holdsBlock(input);
  if (grow && append) {
    start = input.Size;
    separator = input.Size > SeparatorLength && !endsWithSeparator(input);
    newSize = input.Size + length + (separator ? SeparatorLength : 0);
  }
  if (newSize > INT32_MAX) throw std::bad_alloc();
  void* block = grow ? platform::sharedRealloc(reinterpret_cast<void*>(input.Pointer), static_cast<size_t>(newSize))
                     : platform::sharedAlloc(static_cast<size_t>(newSize));
  if (block == nullptr) throw std::bad_alloc();
  input.Pointer = reinterpret_cast<uintptr_t>(block);
  input.Type = ditMemoryBlock;
  char* at = reinterpret_cast<char*>(input.Pointer) + start;
  if (separator) {
    std::memcpy(at, ParsedDataSeparator.data(), ParsedDataSeparator.size());
    at += SeparatorLength;
  }
  std::memcpy(at, text.data(), text.size());
  input.Size = static_cast<int32_t>(newSize);
}

}  // namespace

void DeliverParsedData(TPluginCallRecord& record, const TParsedDataList& list, bool append) {
  InterfaceRef<IkivParamsListW> output = GetItemParams(record.OutputItem);
  if (!output) return;
  InterfaceRef<IkivParamsListA> destination = output.Query<IkivParamsListA>();
  if (!destination) throw Exception("The output list offers no 8-bit interface");
  // All or nothing: the values go in after what the host's list holds, the
  // text last, and a failure on the way takes this delivery's values out
  // again, so the host keeps exactly what it had.
  const int32_t held = destination->GetCount();
  try {
    CopyToInterface(list.Values(), destination.get());
    if (!list.Text().empty()) writeText(record.InputItem, list.Text(), append);
  } catch (...) {
    for (int32_t i = destination->GetCount(); i-- > held;) destination->Delete(i);
    throw;
  }
  if (!append) {
    for (int32_t i = 0; i < held; ++i) destination->Delete(0);
  }
  ++record.OutputItem.Count;
}

}  // namespace corvane
