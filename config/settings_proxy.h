// The configuration proxy: a component whose published properties stand for
// the controls of the options dialog, so that the settings store can copy
// them without knowing the dialog. The store resolves an item's property
// path against the proxy itself, with "." read as "_" ("edtFile.Text" is the
// proxy's property edtFile_Text).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/component.h"

namespace corvane {

class TProxyCodeCustomObject : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  using TComponent::TComponent;
  // Copying a proxy onto another copies nothing at this level.
  virtual void Assign(const TProxyCodeCustomObject& source) {}
};

// The options of this module: the dialog's position and size, the script
// file and the Python runtime library.
class TProxyCodeObject : public TProxyCodeCustomObject {
  CV_DECLARE_CLASS_INFO

 public:
  static constexpr int32_t DefaultLeft = 314;
  static constexpr int32_t DefaultTop = 184;
  static constexpr int32_t DefaultHeight = 215;
  static constexpr int32_t DefaultWidth = 451;

  using TProxyCodeCustomObject::TProxyCodeCustomObject;

  // Copies all six values when the source is a TProxyCodeObject.
  void Assign(const TProxyCodeCustomObject& source) override;

  int32_t Left = DefaultLeft;
  int32_t Top = DefaultTop;
  int32_t Height = DefaultHeight;  // not among the stored items
  int32_t Width = DefaultWidth;
  std::string edtFile_Text;
  std::string edtPyDLL_Text;
};

// The item lines of the module's options, as the options dialog stores them
// too: Left, Top, Width, the script file and the runtime library, in the
// instance's key or INI section ("Common" unless the prefix says otherwise).
const std::vector<std::string>& ProxyCodeObjectItems();

// Where an instance keeps its settings (the module object's fields).
struct TSettingsLocation {
  uint8_t RegistryRoot1 = 2;  // local machine
  uint8_t RegistryRoot2 = 1;  // current user
  std::string RegistryPath;
  std::string INISectionPrefix;
  std::string INIFile;  // empty: the registry
};

enum class TSettingsOperation : uint8_t { Load, Save };

// One settings operation on root with a store made for this call from the
// location and the item lines; false for an empty item list.
bool RunSettings(TSettingsOperation operation, const std::vector<std::string>& items,
                 const TSettingsLocation& location, TPersistent& root);

}  // namespace corvane
