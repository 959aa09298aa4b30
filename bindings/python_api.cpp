// Binding the runtime's entry points: one place fills the table and names
// the first missing entry.
#include "bindings/python_api.h"

namespace corvane::py {

std::optional<std::string> BindPythonApi(PythonApi& api, const SymbolLookup& lookup) {
  const char* missing = nullptr;
  const auto bind = [&](auto& slot, const char* name, bool mandatory) {
    void* address = lookup(name);
    if (address == nullptr && mandatory && missing == nullptr) missing = name;
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
  };
#define CORVANE_BIND_FUNCTION(result, name, parameters) bind(api.name, #name, true);
#define CORVANE_BIND_OPTIONAL(result, name, parameters) bind(api.name, #name, false);
#define CORVANE_BIND_OBJECT(type, name) bind(api.name, #name, true);
#define CORVANE_BIND_EXCEPTION(name) bind(api.name, #name, true);
#define CORVANE_BIND_OPTIONAL_EXCEPTION(name) bind(api.name, #name, false);
  CORVANE_PYTHON_FUNCTIONS(CORVANE_BIND_FUNCTION)
  CORVANE_PYTHON_OPTIONAL_FUNCTIONS(CORVANE_BIND_OPTIONAL)
  CORVANE_PYTHON_OPTIONAL_310_FUNCTIONS(CORVANE_BIND_OPTIONAL)
  CORVANE_PYTHON_OBJECTS(CORVANE_BIND_OBJECT)
  CORVANE_PYTHON_EXCEPTIONS(CORVANE_BIND_EXCEPTION)
  CORVANE_PYTHON_OPTIONAL_EXCEPTIONS(CORVANE_BIND_OPTIONAL_EXCEPTION)
#undef CORVANE_BIND_FUNCTION
#undef CORVANE_BIND_OPTIONAL
#undef CORVANE_BIND_OBJECT
#undef CORVANE_BIND_EXCEPTION
#undef CORVANE_BIND_OPTIONAL_EXCEPTION
  if (missing != nullptr) return std::string(missing);
  return std::nullopt;
}

}  // namespace corvane::py
