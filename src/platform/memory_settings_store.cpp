#include "platform/memory_settings_store.h"

#include <map>
#include <mutex>
#include <string>
#include <variant>

namespace varnex2::platform {

namespace {

class MemoryStore final : public SettingsStore {
 public:
  using Value = std::variant<std::int32_t, std::string>;

  SettingsStatus GetDword(std::string_view key, std::string_view name, std::int32_t& value) override {
    std::lock_guard lock(mutex_);
    const Value* v = Find(key, name);
    if (!v) return Missing(key);
    if (!std::holds_alternative<std::int32_t>(*v)) return SettingsStatus::WrongType;
    value = std::get<std::int32_t>(*v);
    return SettingsStatus::Ok;
  }
  SettingsStatus SetDword(std::string_view key, std::string_view name, std::int32_t value) override {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = value;
    return SettingsStatus::Ok;
  }
  SettingsStatus GetString(std::string_view key, std::string_view name, std::string& value,
                           std::size_t maxBytes) override {
    std::lock_guard lock(mutex_);
    const Value* v = Find(key, name);
    if (!v) return Missing(key);
    if (!std::holds_alternative<std::string>(*v)) return SettingsStatus::WrongType;
    if (std::get<std::string>(*v).size() > maxBytes) return SettingsStatus::TooLong;
    value = std::get<std::string>(*v);
    return SettingsStatus::Ok;
  }
  SettingsStatus SetString(std::string_view key, std::string_view name, std::string_view value) override {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = std::string(value);
    return SettingsStatus::Ok;
  }
  SettingsStatus DeleteValue(std::string_view key, std::string_view name) override {
    std::lock_guard lock(mutex_);
    auto k = keys_.find(std::string(key));
    if (k == keys_.end()) return SettingsStatus::NoKey;
    return k->second.erase(std::string(name)) ? SettingsStatus::Ok : SettingsStatus::NoValue;
  }

 private:
  const Value* Find(std::string_view key, std::string_view name) const {
    auto k = keys_.find(std::string(key));
    if (k == keys_.end()) return nullptr;
    auto v = k->second.find(std::string(name));
    return v == k->second.end() ? nullptr : &v->second;
  }
  SettingsStatus Missing(std::string_view key) const {
    return keys_.count(std::string(key)) ? SettingsStatus::NoValue : SettingsStatus::NoKey;
  }

  std::mutex mutex_;
  std::map<std::string, std::map<std::string, Value>> keys_;
};

}  // namespace

std::unique_ptr<SettingsStore> CreateMemorySettingsStore() { return std::make_unique<MemoryStore>(); }

}  // namespace varnex2::platform
