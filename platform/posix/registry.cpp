// POSIX backend: registry keys over the file-backed store.
//
// A RegistryKey remembers its root, path and access; every operation works on
// the root's current content, so a key sees what other processes wrote since
// it was opened, and a key deleted meanwhile reports kErrorKeyDeleted as a
// Windows key handle does.

#include "platform/os_error.h"
#include "platform/posix/registry_store.h"
#include "platform/registry.h"

namespace corvane::platform {

namespace store = registry_store;

struct RegistryKey::State {
  RegistryRoot root;
  store::KeyPath path;
  RegistryAccess access;
};

namespace {

bool fail(uint32_t error) {
  setLastErrorCode(error);
  return false;
}

std::nullopt_t none(uint32_t error) {
  setLastErrorCode(error);
  return std::nullopt;
}

bool succeed() {
  setLastErrorCode(kErrorSuccess);
  return true;
}

}  // namespace

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<RegistryKey> RegistryKey::open(RegistryRoot root, std::string_view path,
                                             RegistryAccess access, RegistryView) {
  auto state = std::make_unique<State>(State{root, {}, access});
  if (!store::splitPath(path, state->path)) return none(kErrorInvalidParameter);
  uint32_t error = kErrorSuccess;
  if (access == RegistryAccess::ReadWrite && !store::rootWritable(root, error))
    return none(error);
  const store::Snapshot snapshot = store::readRoot(root);
  if (snapshot.error != kErrorSuccess) return none(snapshot.error);
  if (store::findKey(*snapshot.tree, state->path) == nullptr)
    return none(kErrorFileNotFound);
  succeed();
  return RegistryKey(std::move(state));
}

std::optional<RegistryKey> RegistryKey::create(RegistryRoot root, std::string_view path,
                                               RegistryView view) {
  std::optional<RegistryKey> existing = open(root, path, RegistryAccess::ReadWrite, view);
  if (existing || lastErrorCode() != kErrorFileNotFound) return existing;

  auto state = std::make_unique<State>(State{root, {}, RegistryAccess::ReadWrite});
  store::splitPath(path, state->path);  // checked by open
  const uint32_t error = store::modifyRoot(root, [&](store::Key& tree, bool& changed) {
    store::Key* key = &tree;
    for (const std::string& part : state->path) key = &key->subKeyOrNew(part, changed);
    return kErrorSuccess;
  });
  if (error != kErrorSuccess) return none(error);
  succeed();
  return RegistryKey(std::move(state));
}

bool RegistryKey::deleteKey(RegistryRoot root, std::string_view path, RegistryView) {
  store::KeyPath parts;
  if (!store::splitPath(path, parts)) return fail(kErrorInvalidParameter);
  if (parts.empty()) return fail(kErrorAccessDenied);  // a root cannot be deleted
  const std::string name = parts.back();
  parts.pop_back();
  const uint32_t error = store::modifyRoot(root, [&](store::Key& tree, bool& changed) {
    store::Key* parent = store::findKey(tree, parts);
    const store::Key* key = parent ? parent->findSubKey(name) : nullptr;
    if (key == nullptr) return kErrorFileNotFound;
    if (!key->subKeys.empty()) return kErrorAccessDenied;  // as the system answers
    changed = parent->removeSubKey(name);
    return kErrorSuccess;
  });
  return error == kErrorSuccess ? succeed() : fail(error);
}

std::optional<RegistryValue> RegistryKey::readValue(std::string_view name) const {
  const store::Snapshot snapshot = store::readRoot(state_->root);
  if (snapshot.error != kErrorSuccess) return none(snapshot.error);
  const store::Key* key = store::findKey(*snapshot.tree, state_->path);
  if (key == nullptr) return none(kErrorKeyDeleted);
  const store::Value* value = key->findValue(name);
  if (value == nullptr) return none(kErrorFileNotFound);
  succeed();
  return RegistryValue{value->type, value->data};
}

bool RegistryKey::valueExists(std::string_view name) const { return readValue(name).has_value(); }

bool RegistryKey::writeValue(std::string_view name, uint32_t type, const void* data,
                             uint32_t size) {
  if (state_->access != RegistryAccess::ReadWrite) return fail(kErrorAccessDenied);
  if (name.size() > store::kMaxValueNameLength || (data == nullptr && size != 0))
    return fail(kErrorInvalidParameter);
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> content(bytes, bytes + size);
  const uint32_t error = store::modifyRoot(state_->root, [&](store::Key& tree, bool& changed) {
    store::Key* key = store::findKey(tree, state_->path);
    if (key == nullptr) return kErrorKeyDeleted;
    changed = key->setValue(name, type, std::move(content));
    return kErrorSuccess;
  });
  return error == kErrorSuccess ? succeed() : fail(error);
}

bool RegistryKey::deleteValue(std::string_view name) {
  if (state_->access != RegistryAccess::ReadWrite) return fail(kErrorAccessDenied);
  const uint32_t error = store::modifyRoot(state_->root, [&](store::Key& tree, bool& changed) {
    store::Key* key = store::findKey(tree, state_->path);
    if (key == nullptr) return kErrorKeyDeleted;
    changed = key->removeValue(name);
    return changed ? kErrorSuccess : kErrorFileNotFound;
  });
  return error == kErrorSuccess ? succeed() : fail(error);
}

namespace {

// The names a key lists (its sub-keys or its values), read from the current
// state of the root; empty with the error set when the key is gone.
template <class Names>
std::vector<std::string> listNames(RegistryRoot root, const store::KeyPath& path, Names names) {
  std::vector<std::string> listed;
  const store::Snapshot snapshot = store::readRoot(root);
  if (snapshot.error != kErrorSuccess) {
    fail(snapshot.error);
    return listed;
  }
  const store::Key* key = store::findKey(*snapshot.tree, path);
  if (key == nullptr) {
    fail(kErrorKeyDeleted);
    return listed;
  }
  names(*key, listed);
  succeed();
  return listed;
}

}  // namespace

std::vector<std::string> RegistryKey::subKeyNames() const {
  return listNames(state_->root, state_->path, [](const store::Key& key, std::vector<std::string>& names) {
    for (const auto& subKey : key.subKeys) names.push_back(subKey->name);
  });
}

std::vector<std::string> RegistryKey::valueNames() const {
  return listNames(state_->root, state_->path, [](const store::Key& key, std::vector<std::string>& names) {
    for (const store::Value& value : key.values) names.push_back(value.name);
  });
}

}  // namespace corvane::platform
