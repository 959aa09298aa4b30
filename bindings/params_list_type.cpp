// The parameter list script types (registration record "kivParamsList"):
// kivParamsList over a TkivParamsList (or a derived list such as the parse
// results), and kivParamsListItem over one of its items. Both work directly
// on the native objects; an item object dies when its item is deleted or its
// list is cleared or goes.
#include "bindings/params_list_type.h"

#include "bindings/callback_guard.h"
#include "bindings/fast_args.h"
#include "bindings/python_errors.h"
#include "bindings/var_param.h"
#include "bindings/wrapper.h"
#include "common/params_list.h"
#include "platform/code_page.h"
#include "platform/ole_variant.h"

namespace corvane::py {

namespace {

const PythonApi& apiOf(PyObject* self) { return *reinterpret_cast<TWrapperObject*>(self)->Base.Api; }
TPythonInterface& engineOf(TWrapperObject& self) { return self.Base.Wrapper->Engine(); }
TkivParamsList& listOf(TWrapperObject& self) { return *static_cast<TkivParamsList*>(self.Native); }
TkivParamsListItem& itemOf(TWrapperObject& self) { return *static_cast<TkivParamsListItem*>(self.Native); }

Object itemObject(TWrapperObject& list, TkivParamsListItem* item) {
  if (item == nullptr) return engineOf(list).None();
  // Most results are dropped at once: the next result reuses that object.
  return list.Base.Wrapper->WrapItem(NativeObject(item), *list.Base.Link.Guard, item->ClassRef(),
                                     AsContainerWrapper(list).Spare);
}

std::string textArgument(TPythonInterface& engine, Handle value) {
  std::string text = engine.PythonToText(value);
  ThrowIfPythonError(engine.Api());
  return text;
}

// The text without a copy where the argument holds it as it is.
std::string_view textArgument(TPythonInterface& engine, Handle value, std::string& storage) {
  const std::string_view text = engine.Converter().PythonToTextView(value, storage);
  ThrowIfPythonError(engine.Api());
  return text;
}

THostVariant valueArgument(TPythonInterface& engine, Handle value) {
  THostVariant variant = engine.PythonToVariant(value);
  ThrowIfPythonError(engine.Api());
  return variant;
}

Object valueResult(TPythonInterface& engine, const platform::Variant& value) { return engine.VariantToPython(value); }

// ---- Items -------------------------------------------------------------------------

PyObject* getName(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    return engineOf(item).TextToPython(itemOf(item).Name().view());
  });
}

int setName(PyObject* self, PyObject* value, void*) {
  return Guarded(apiOf(self), -1, [&] {
    TWrapperObject& item = BoundWrapper(self);
    itemOf(item).SetName(CheckString(engineOf(item), value, "Name"));
    return 0;
  });
}

PyObject* getValue(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    return valueResult(engineOf(item), itemOf(item).ValueRef());
  });
}

int setValue(PyObject* self, PyObject* value, void*) {
  return Guarded(apiOf(self), -1, [&] {
    TWrapperObject& item = BoundWrapper(self);
    if (value == nullptr) throw EPyAttributeError("Value cannot be deleted");
    const THostVariant variant = valueArgument(engineOf(item), value);
    itemOf(item).SetValue(variant.raw());
    return 0;
  });
}

PyObject* getLowerName(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    const AnsiString& lower = itemOf(item).LowerName();
    return Checked(apiOf(self), apiOf(self).PyBytes_FromStringAndSize(lower.c_str(), lower.size()));
  });
}

int setLowerName(PyObject* self, PyObject* value, void*) {
  return Guarded(apiOf(self), -1, [&] {
    TWrapperObject& item = BoundWrapper(self);
    itemOf(item).SetLowerName(CheckString(engineOf(item), value, "LowerName"));
    return 0;
  });
}

PyObject* getDataType(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    return Checked(apiOf(self), apiOf(self).PyLong_FromUnsignedLongLong(itemOf(item).DataType()));
  });
}

int setDataType(PyObject* self, PyObject* value, void*) {
  return Guarded(apiOf(self), -1, [&] {
    TWrapperObject& item = BoundWrapper(self);
    itemOf(item).SetDataType(static_cast<uint32_t>(CheckInteger(apiOf(self), value, "DataType")));
    return 0;
  });
}

PyObject* getQuality(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    return Checked(apiOf(self), apiOf(self).PyLong_FromLongLong(itemOf(item).Quality()));
  });
}

int setQuality(PyObject* self, PyObject* value, void*) {
  return Guarded(apiOf(self), -1, [&] {
    TWrapperObject& item = BoundWrapper(self);
    const int64_t quality = CheckInteger(apiOf(self), value, "Quality");
    // Only the three known qualities are stored; others are ignored.
    if (quality >= 0 && quality <= 2) itemOf(item).SetQuality(static_cast<uint8_t>(quality));
    return 0;
  });
}

// The text form of a value: Empty and Null, and values without one, give "".
std::string valueText(const platform::Variant& value) {
  if (value.vt == platform::vtEmpty || value.vt == platform::vtNull) return {};
  platform::OleVariant text;
  if (platform::failed(platform::variantChangeType(&text.raw(), &value, 0, platform::vtBstr))) return {};
  const platform::Bstr chars = text.raw().bstrVal;
  return chars ? platform::wideToAnsi(std::u16string_view(chars, platform::sysStringLen(chars))) : std::string();
}

PyObject* itemRepr(PyObject* self) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& item = BoundWrapper(self);
    TkivParamsListItem& native = itemOf(item);
    return engineOf(item).TextToPython("(" + std::string(native.Name().view()) + ", " + valueText(native.ValueRef()) +
                                       ")");
  });
}

// ---- Lists --------------------------------------------------------------------------

Py_ssize_t itemsCount(const TAccessTarget& target) { return static_cast<TkivParamsList*>(target.Native)->Count(); }

Object itemAt(const TAccessTarget& target, Py_ssize_t index) {
  TkivParamsListItem* item = static_cast<TkivParamsList*>(target.Native)->Items(static_cast<int32_t>(index));
  return target.Wrapper->WrapItem(NativeObject(item), *target.Guard, item != nullptr ? item->ClassRef() : nullptr);
}

Py_ssize_t itemIndexOf(const TAccessTarget& target, Handle object) {
  TWrapperObject* wrapper = target.Wrapper->AsWrapper(object);
  if (wrapper == nullptr || !wrapper->Base.Link.Alive()) return -1;
  const auto* list = static_cast<TkivParamsList*>(target.Native);
  for (int32_t i = 0; i < list->Count(); ++i) {
    if (list->Items(i) == wrapper->Native) return i;
  }
  return -1;
}

TNativeObject nativeItemAt(const TAccessTarget& target, Py_ssize_t index, const void** classId) {
  TkivParamsListItem* item = static_cast<TkivParamsList*>(target.Native)->Items(static_cast<int32_t>(index));
  *classId = item != nullptr ? item->ClassRef() : nullptr;
  return NativeObject(item);
}

const TContainerAccessDef kItemsAccess{"TkivParamsList.Items", &itemsCount, &itemAt, &itemIndexOf, nullptr,
                                       &nativeItemAt};

TAccessTarget targetOf(TWrapperObject& list) { return {list.Base.Wrapper, list.Native, list.Base.Link.Guard}; }

PyObject* getCount(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    return Checked(apiOf(self), apiOf(self).PyLong_FromLongLong(listOf(BoundWrapper(self)).Count()));
  });
}

PyObject* getItems(PyObject* self, void*) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    return NewContainer(*list.Base.Wrapper, kItemsAccess, targetOf(list));
  });
}

// Parses the arguments of a list method; the parser's own TypeError on a mismatch.
template <class... Targets>
void parse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, const char* format, Targets*... targets) {
  ParseFastArgs(apiOf(self), args, nargs, format, targets...);
}

PyObject* methodAddItem(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    PyObject *name = nullptr, *value = nullptr;
    parse(self, args, nargs, "OO:AddItem", &name, &value);
    std::string storage;
    const std::string_view text = textArgument(engineOf(list), name, storage);
    const THostVariant variant = valueArgument(engineOf(list), value);
    return itemObject(list, listOf(list).AddItem(text, variant.raw()));
  });
}

PyObject* methodClear(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    parse(self, args, nargs, ":Clear");
    list.Base.Link.Guard->RevokeItems();
    listOf(list).Clear();
    return engineOf(list).None();
  });
}

PyObject* methodNewRow(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    parse(self, args, nargs, ":NewRow");
    listOf(list).NewRow();
    return engineOf(list).None();
  });
}

PyObject* methodDelete(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    int index = 0;
    parse(self, args, nargs, "i:Delete", &index);
    if (TkivParamsListItem* item = listOf(list).Items(index)) list.Base.Link.Guard->RevokeItem(item);
    listOf(list).Delete(index);
    return engineOf(list).None();
  });
}

PyObject* methodCopyFrom(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    PyObject* source = nullptr;
    parse(self, args, nargs, "O:CopyFrom", &source);
    if (TWrapperObject* from = CheckObject(*list.Base.Wrapper, source, ParamsListClass(), "The first argument of CopyFrom"))
      listOf(list).CopyFrom(&listOf(*from));
    return engineOf(list).None();
  });
}

// ItemByName, ItemIndexByName, ItemValueByName: name, start (0), end (-1).
struct TNameSearch {
  std::string Name;
  int Start = 0;
  int End = -1;
};

TNameSearch parseSearch(PyObject* self, TWrapperObject& list, PyObject* const* args, Py_ssize_t nargs,
                        const char* format) {
  PyObject* name = nullptr;
  TNameSearch search;
  parse(self, args, nargs, format, &name, &search.Start, &search.End);
  search.Name = textArgument(engineOf(list), name);
  return search;
}

PyObject* methodItemByName(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    const TNameSearch s = parseSearch(self, list, args, nargs, "O|ii:ItemByName");
    return itemObject(list, listOf(list).ItemByName(s.Name, s.Start, s.End));
  });
}

PyObject* methodItemIndexByName(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    const TNameSearch s = parseSearch(self, list, args, nargs, "O|ii:ItemIndexByName");
    return Checked(apiOf(self), apiOf(self).PyLong_FromLongLong(listOf(list).ItemIndexByName(s.Name, s.Start, s.End)));
  });
}

PyObject* methodItemValueByName(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    const TNameSearch s = parseSearch(self, list, args, nargs, "O|ii:ItemValueByName");
    // Read in place: no copy of the value is needed to convert it.
    const TkivParamsListItem* item = listOf(list).ItemByName(s.Name, s.Start, s.End);
    if (item == nullptr) return engineOf(list).None();
    return valueResult(engineOf(list), item->ValueRef());
  });
}

PyObject* methodItemValueByNameDef(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    PyObject *name = nullptr, *fallback = nullptr;
    int start = 0, end = -1;
    parse(self, args, nargs, "OO|ii:ItemValueByNameDef", &name, &fallback, &start, &end);
    const std::string text = textArgument(engineOf(list), name);
    const THostVariant variant = valueArgument(engineOf(list), fallback);
    const platform::OleVariant value = listOf(list).ItemValueByNameDef(text, variant.raw(), start, end);
    return valueResult(engineOf(list), value.raw());
  });
}

PyObject* methodInsertItem(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    int index = 0;
    PyObject *name = nullptr, *value = nullptr;
    parse(self, args, nargs, "iOO:InsertItem", &index, &name, &value);
    const std::string text = textArgument(engineOf(list), name);
    const THostVariant variant = valueArgument(engineOf(list), value);
    return itemObject(list, listOf(list).InsertItem(index, text, variant.raw()));
  });
}

PyObject* methodSetItem(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    PyObject *name = nullptr, *value = nullptr;
    unsigned char create = 0;
    parse(self, args, nargs, "OO|b:SetItem", &name, &value, &create);
    const std::string text = textArgument(engineOf(list), name);
    const THostVariant variant = valueArgument(engineOf(list), value);
    return itemObject(list, listOf(list).SetItem(text, variant.raw(), create != 0));
  });
}

PyObject* methodAddItemCopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    PyObject* source = nullptr;
    parse(self, args, nargs, "O:AddItemCopy", &source);
    TWrapperObject* from =
        CheckObject(*list.Base.Wrapper, source, ParamsListItemClass(), "The first argument of AddItemCopy");
    if (from == nullptr) return engineOf(list).None();
    return itemObject(list, listOf(list).AddItemCopy(&itemOf(*from)));
  });
}

PyObject* methodFindRow(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return GuardedObject(apiOf(self), [&] {
    TWrapperObject& list = BoundWrapper(self);
    const PythonApi& api = apiOf(self);
    int start = 0;
    PyObject *indexHolder = nullptr, *delimiterHolder = nullptr;
    parse(self, args, nargs, "iOO:FindRow", &start, &indexHolder, &delimiterHolder);
    if (!IsVarParam(*list.Base.Wrapper, indexHolder) || !IsVarParam(*list.Base.Wrapper, delimiterHolder))
      throw EPyTypeError("FindRow expects VarParam objects as its second and third arguments");
    // The holders' values must convert to a 32-bit integer and a boolean.
    const auto convert = [&](Handle holder, uint16_t type, const char* what) {
      const THostVariant held = valueArgument(engineOf(list), VarParamValue(api, holder));
      platform::OleVariant converted;
      if (platform::failed(platform::variantChangeType(&converted.raw(), &held.raw(), 0, type)))
        throw EPyTypeError(std::string("FindRow: the ") + what + " holder's value cannot be converted");
      return converted;
    };
    int32_t index = convert(indexHolder, platform::vtI4, "index").raw().lVal;
    bool isDelimiter = convert(delimiterHolder, platform::vtBool, "delimiter").raw().boolVal != 0;
    const bool found = listOf(list).FindRow(start, index, isDelimiter);
    SetVarParamValue(api, indexHolder, Checked(api, api.PyLong_FromLongLong(index)));
    SetVarParamValue(api, delimiterHolder, engineOf(list).Bool(isDelimiter));
    return engineOf(list).Bool(found);
  });
}

PyObject* listRepr(PyObject* self) {
  return GuardedObject(apiOf(self), [&] {
    auto* wrapper = reinterpret_cast<TWrapperObject*>(self);
    if (!wrapper->Base.Link.Alive()) return WrapperRepr(*wrapper, wrapper->Def->Class.Name);
    return WrapperRepr(*wrapper, ChainOf(*wrapper).Classes[0].Name);
  });
}

TWrapperTypeDef makeItemDef(const std::string& typeName) {
  TWrapperTypeDef def;
  def.TypeName = typeName;
  def.Class = ParamsListItemClass();
  def.Doc = "Wrapper of a native TkivParamsListItem: one named value of a parameter list";
  def.Properties = {
      {"Name", &getName, &setName, "The item name.", nullptr},
      {"Value", &getValue, &setValue, "The item value.", nullptr},
      {"LowerName", &getLowerName, &setLowerName, "The item name in lower case.", nullptr},
      {"DataType", &getDataType, &setDataType, "The item data type.", nullptr},
      {"Quality", &getQuality, &setQuality, "The item quality.", nullptr},
  };
  def.Repr = &itemRepr;
  return def;
}

TWrapperTypeDef makeListDef(const std::string& typeName) {
  TWrapperTypeDef def;
  def.TypeName = typeName;
  def.Class = ParamsListClass();
  def.Doc = "Wrapper of a native TkivParamsList: an ordered list of named values";
  // The documentation texts in the order they are registered.
  def.Methods = {
      FastMethod("Clear", &methodClear, "TkivParamsList.Clear()\nClears the list"),
      FastMethod("Delete", &methodDelete, "TkivParamsList.Delete()\nDeletes single item in the list"),
      FastMethod("CopyFrom", &methodCopyFrom, "TkivParamsList.CopyFrom()\nCopies one or more items from the source list"),
      FastMethod("ItemByName", &methodItemByName, "TkivParamsList.ItemByName()\nReturns an item by a name"),
      FastMethod("ItemIndexByName", &methodItemIndexByName, "TkivParamsList.ItemIndexByName()\nReturns an item index by a name"),
      FastMethod("ItemValueByName", &methodItemValueByName, "TkivParamsList.ItemValueByName()\nReturns an item value by a name"),
      FastMethod("ItemValueByNameDef", &methodItemValueByNameDef, "TkivParamsList.ItemValueByNameDef()\nReturns an item value by a name. Returns a default value if the item "
       "does not exist"),
      FastMethod("InsertItem", &methodInsertItem, "TkivParamsList.InsertItem()\nInserts an item to the specified position in the list"),
      FastMethod("SetItem", &methodSetItem, "TkivParamsList.SetItem()\nSets the item value"),
      FastMethod("AddItem", &methodAddItem, "TkivParamsList.AddItem()\nAdds an item to the list"),
      FastMethod("AddItemCopy", &methodAddItemCopy, "TkivParamsList.AddItemCopy()\nAdds a copy of the supplied item"),
      FastMethod("FindRow", &methodFindRow, "TkivParamsList.FindRow()\nFind a virtual row delimiter in the list"),
      FastMethod("NewRow", &methodNewRow, "TkivParamsList.NewRow()\nAdds the end-of-row item"),
  };
  def.Properties = {
      {"Count", &getCount, nullptr, "Indicates the number of items in the list.", nullptr},
      {"Items", &getItems, nullptr, "Lists the items maintained by the list.", nullptr},
  };
  def.Access = &kItemsAccess;
  def.Repr = &listRepr;
  return def;
}

const TWrapperTypeDef& itemDef() {
  static const TWrapperTypeDef def = makeItemDef("kivParamsListItem");
  return def;
}
const TWrapperTypeDef& listDef() {
  static const TWrapperTypeDef def = makeListDef("kivParamsList");
  return def;
}

class TParamsListUnit : public TRegisteredUnit {
 public:
  const char* Name() const override { return "kivParamsList"; }
  void RegisterWrappers(TPyDelphiWrapper& wrapper) override {
    wrapper.RegisterWrapperType(itemDef());
    wrapper.RegisterWrapperType(listDef());
  }
};

}  // namespace

TRegisteredUnit& ParamsListUnit() {
  static TParamsListUnit unit;
  return unit;
}

void RegisterExtendedListWrappers(TPyDelphiWrapper& wrapper) {
  static const TWrapperTypeDef item = makeItemDef("kivParamsListItemEx");
  static const TWrapperTypeDef list = makeListDef("kivParamsListEx");
  wrapper.RegisterWrapperType(item);
  wrapper.RegisterWrapperType(list);
}

}  // namespace corvane::py
