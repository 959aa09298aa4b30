#include "config/settings_proxy.h"

#include "config/settings_store.h"

namespace corvane {

const TClassInfo& TProxyCodeCustomObject::StaticClassInfo() {
  static const TClassInfo info{"TProxyCodeCustomObject", &TComponent::StaticClassInfo(), {}};
  return info;
}

const TClassInfo& TProxyCodeObject::StaticClassInfo() {
  static const TClassInfo info{
      "TProxyCodeObject",
      &TProxyCodeCustomObject::StaticClassInfo(),
      {
          {"Left", TPropertyKind::Integer, FieldGetter(&TProxyCodeObject::Left), FieldSetter(&TProxyCodeObject::Left), {}},
          {"Top", TPropertyKind::Integer, FieldGetter(&TProxyCodeObject::Top), FieldSetter(&TProxyCodeObject::Top), {}},
          {"Height", TPropertyKind::Integer, FieldGetter(&TProxyCodeObject::Height),
           FieldSetter(&TProxyCodeObject::Height), {}},
          {"Width", TPropertyKind::Integer, FieldGetter(&TProxyCodeObject::Width),
           FieldSetter(&TProxyCodeObject::Width), {}},
          {"edtFile_Text", TPropertyKind::String, FieldGetter(&TProxyCodeObject::edtFile_Text),
           FieldSetter(&TProxyCodeObject::edtFile_Text), {}},
          {"edtPyDLL_Text", TPropertyKind::String, FieldGetter(&TProxyCodeObject::edtPyDLL_Text),
           FieldSetter(&TProxyCodeObject::edtPyDLL_Text), {}},
      }};
  return info;
}

void TProxyCodeObject::Assign(const TProxyCodeCustomObject& source) {
  TProxyCodeCustomObject::Assign(source);
  if (!source.InheritsFrom(TProxyCodeObject::StaticClassInfo())) return;
  const auto& other = static_cast<const TProxyCodeObject&>(source);
  Left = other.Left;
  Top = other.Top;
  Height = other.Height;
  Width = other.Width;
  edtFile_Text = other.edtFile_Text;
  edtPyDLL_Text = other.edtPyDLL_Text;
}

const std::vector<std::string>& ProxyCodeObjectItems() {
  // The last line, a single space, is skipped like any blank line.
  static const std::vector<std::string> items = {
      "Left,Left", "Top,Top", "Width,Width", ";---short---", "edtFile.Text,Script file", "edtPyDLL.Text,Python DLL",
      " "};
  return items;
}

bool RunSettings(TSettingsOperation operation, const std::vector<std::string>& items,
                 const TSettingsLocation& location, TPersistent& root) {
  auto rootOf = [](uint8_t selector) { return selector < rrNone ? static_cast<TRegistryRoot>(selector) : rrNone; };
  TWreg store;
  store.RegistryRoot = rootOf(location.RegistryRoot1);
  store.SecondRegistryRoot = rootOf(location.RegistryRoot2);
  store.RegistryPath = location.RegistryPath;
  store.INIFileSectionPrefix = location.INISectionPrefix;
  store.INIFile = location.INIFile;
  store.Components = items;
  return operation == TSettingsOperation::Load ? store.Load(root) : store.Save(root);
}

}  // namespace corvane
