// The product library's module class.
#include "plugin/plugin_library.h"
#include "script_host/ta_plugin.h"

namespace corvane {
namespace {

const PluginClassRegistration registration([](uintptr_t handle, const TPluginCreation* creation) {
  return std::unique_ptr<TkivPlugin>(TkivPlugin::Create<TaPlugin>(handle, creation));
});

}  // namespace
}  // namespace corvane
