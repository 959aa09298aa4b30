#include "plugin/data_source_cfg.h"

namespace corvane {

const TClassInfo& TDataSourceCfg::StaticClassInfo() {
  static const TClassInfo info{"TDataSourceCfg", &TProxyCodeObject::StaticClassInfo(), {}};
  return info;
}

TDataSourceCfg& TDataSourceCfg::Create(TkivPlugin& plugin) { return TComponent::CreateOwned<TDataSourceCfg>(plugin, plugin); }

TDataSourceCfg::TDataSourceCfg(TComponent* owner, TkivPlugin& plugin) : TProxyCodeObject(owner), plugin_(plugin) {}

bool TDataSourceCfg::LoadSettings() {
  const bool found = RunSettings(plugin_, TSettingsOperation::Load, Items, nullptr, *this);
  if (OnApply) OnApply(*this);
  return found;
}

bool TDataSourceCfg::SaveSettings() { return RunSettings(plugin_, TSettingsOperation::Save, Items, nullptr, *this); }

TDataSourceCfg* FindDataSourceCfg(TkivPlugin& plugin) {
  for (int32_t i = 0; i < plugin.ComponentCount(); ++i) {
    TComponent* component = plugin.Components(i);
    if (component->InheritsFrom(TDataSourceCfg::StaticClassInfo())) return static_cast<TDataSourceCfg*>(component);
  }
  return nullptr;
}

bool RunSettings(TkivPlugin& plugin, TSettingsOperation operation, const std::vector<std::string>& items,
                 const std::string* iniFile, TPersistent& root) {
  TSettingsLocation location;
  location.RegistryRoot1 = plugin.ModuleRegistryRoot1();
  location.RegistryRoot2 = plugin.ModuleRegistryRoot2();
  location.RegistryPath = plugin.ModuleRegistryPath();
  location.INISectionPrefix = plugin.INISectionPrefix();
  location.INIFile = iniFile != nullptr ? *iniFile : plugin.INIFile();
  struct BusyMark {
    TkivPlugin& plugin;
    ~BusyMark() { plugin.SetSettingsBusy(false); }
  } busy{plugin};
  plugin.SetSettingsBusy(true);
  return RunSettings(operation, items, location, root);
}

void BindSettingsEvents(TkivPlugin& plugin) {
  plugin.OnLoadSettingsNow = [](TkivPlugin& self) {
    if (TDataSourceCfg* cfg = FindDataSourceCfg(self)) cfg->LoadSettings();
  };
  plugin.OnSaveSettingsNow = [](TkivPlugin& self) {
    if (TDataSourceCfg* cfg = FindDataSourceCfg(self)) cfg->SaveSettings();
  };
}

}  // namespace corvane
