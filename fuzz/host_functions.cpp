// The host function the product library looks up by name in the module a
// LOAD names, exported from the fuzz executables that drive the library.
// It reads what it is given, so that a wrong length or a freed block shows.
#include <cstdint>
#include <string>

#include "common/params_list_interfaces.h"
#include "platform/abi.h"
#include "platform/ole_variant.h"

extern "C" CV_EXPORT int32_t CV_STDCALL DataLogger_SendDataEx(uint32_t, int32_t, uint32_t, int32_t, int32_t kind,
                                                              void* data, int32_t count) {
  if (kind == 7 && data != nullptr) {
    auto* list = static_cast<corvane::IkivParamsListA*>(data);
    for (int32_t i = 0; i < list->GetCount(); ++i) {
      corvane::IkivParamsListItemA* item = nullptr;
      if (corvane::platform::failed(list->GetItem(i, &item)) || item == nullptr) continue;
      corvane::platform::Variant value{};
      item->GetValue(&value);
      corvane::platform::variantClear(&value);
      item->Release();
    }
  } else if (data != nullptr && count > 0) {
    const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(count));
    (void)bytes;
  }
  return 0;
}
