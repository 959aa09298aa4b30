// The instance's configuration: a configuration proxy owned by the module
// object that loads and saves itself through the settings store, at the
// instance's registry path or INI file, with the item lines of the module's
// options. The concrete module creates it in its load step and frees it in
// its unload step; the settings events reach it through BindSettingsEvents.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/settings_proxy.h"
#include "plugin/plugin_module.h"

namespace corvane {

class TDataSourceCfg : public TProxyCodeObject {
  CV_DECLARE_CLASS_INFO

 public:
  // A configuration with the defaults, owned by the instance (freed with it,
  // or earlier by delete).
  static TDataSourceCfg& Create(TkivPlugin& plugin);
  TDataSourceCfg(TComponent* owner, TkivPlugin& plugin);

  // The item lines: the module's option lines until the options dialog's
  // own list replaces them.
  std::vector<std::string> Items = ProxyCodeObjectItems();
  // Runs after every LoadSettings: the owner applies what was loaded.
  std::function<void(TDataSourceCfg&)> OnApply;

  // Loads from the instance's storage (values missing there keep their
  // current value), then applies. True when a value was found.
  bool LoadSettings();
  // Writes every item to the instance's storage. True when something was
  // processed and the storage was written.
  bool SaveSettings();

  TkivPlugin& Plugin() const { return plugin_; }

 private:
  TkivPlugin& plugin_;
};

// The instance's configuration among its owned components; nullptr before
// its load step made one.
TDataSourceCfg* FindDataSourceCfg(TkivPlugin& plugin);

// One settings operation with the instance's storage parameters: its
// registry roots, registry path and section prefix, and iniFile when given,
// else its own INI file. The instance is marked settings-busy meanwhile.
bool RunSettings(TkivPlugin& plugin, TSettingsOperation operation, const std::vector<std::string>& items,
                 const std::string* iniFile, TPersistent& root);

// OnLoadSettingsNow loads (and applies) the instance's configuration,
// OnSaveSettingsNow saves it; both do nothing while there is none.
void BindSettingsEvents(TkivPlugin& plugin);

}  // namespace corvane
