// A module whose options live in the settings store, for the suites that
// drive a plug-in library through its exports. Its load step makes the
// instance's configuration and loads it, its unload step frees it, the
// settings events are bound to it, and its options dialog always reports a
// change, as a confirmed dialog does.
#include "plugin/data_source_cfg.h"
#include "plugin/plugin_library.h"
#include "plugin/plugin_module.h"

namespace corvane {
namespace {

class SettingsModule : public TkivPlugin {
 public:
  SettingsModule(uintptr_t moduleDllHandle, const TPluginCreation* creation) : TkivPlugin(moduleDllHandle, creation) {
    OnCreate = [](TkivPlugin& self) {
      self.SetDescription("Settings test module");
      BindSettingsEvents(self);
      self.OnLoad = [](TkivPlugin& module, TPluginCallRecord*, int32_t&) {
        TDataSourceCfg::Create(module).LoadSettings();
      };
      self.OnUnload = [](TkivPlugin& module, TPluginCallRecord*, int32_t&) { delete FindDataSourceCfg(module); };
      self.OnShowOptionsDialog = [](TkivPlugin&, TPluginCallRecord*, int32_t& result) { result = 1; };
    };
  }
};

const PluginClassRegistration registration([](uintptr_t handle, const TPluginCreation* creation) {
  return std::unique_ptr<TkivPlugin>(TkivPlugin::Create<SettingsModule>(handle, creation));
});

}  // namespace
}  // namespace corvane
