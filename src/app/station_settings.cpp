#include "app/station_settings.h"

#include <map>
#include <mutex>
#include <string>
#include <variant>

namespace varnex2::app {

namespace {

class MemoryStore final : public platform::SettingsStore {
 public:
  using Value = std::variant<std::int32_t, std::string>;

  platform::SettingsStatus GetDword(std::string_view key, std::string_view name, std::int32_t& value) override {
    std::lock_guard lock(mutex_);
    const Value* v = Find(key, name);
    if (!v) return Missing(key);
    if (!std::holds_alternative<std::int32_t>(*v)) return platform::SettingsStatus::WrongType;
    value = std::get<std::int32_t>(*v);
    return platform::SettingsStatus::Ok;
  }
  platform::SettingsStatus SetDword(std::string_view key, std::string_view name, std::int32_t value) override {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = value;
    return platform::SettingsStatus::Ok;
  }
  platform::SettingsStatus GetString(std::string_view key, std::string_view name, std::string& value,
                                     std::size_t maxBytes) override {
    std::lock_guard lock(mutex_);
    const Value* v = Find(key, name);
    if (!v) return Missing(key);
    if (!std::holds_alternative<std::string>(*v)) return platform::SettingsStatus::WrongType;
    if (std::get<std::string>(*v).size() > maxBytes) return platform::SettingsStatus::TooLong;
    value = std::get<std::string>(*v);
    return platform::SettingsStatus::Ok;
  }
  platform::SettingsStatus SetString(std::string_view key, std::string_view name, std::string_view value) override {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = std::string(value);
    return platform::SettingsStatus::Ok;
  }
  platform::SettingsStatus DeleteValue(std::string_view key, std::string_view name) override {
    std::lock_guard lock(mutex_);
    auto k = keys_.find(std::string(key));
    if (k == keys_.end()) return platform::SettingsStatus::NoKey;
    return k->second.erase(std::string(name)) ? platform::SettingsStatus::Ok : platform::SettingsStatus::NoValue;
  }

 private:
  const Value* Find(std::string_view key, std::string_view name) const {
    auto k = keys_.find(std::string(key));
    if (k == keys_.end()) return nullptr;
    auto v = k->second.find(std::string(name));
    return v == k->second.end() ? nullptr : &v->second;
  }
  platform::SettingsStatus Missing(std::string_view key) const {
    return keys_.count(std::string(key)) ? platform::SettingsStatus::NoValue : platform::SettingsStatus::NoKey;
  }

  std::mutex mutex_;
  std::map<std::string, std::map<std::string, Value>> keys_;
};

}  // namespace

std::unique_ptr<platform::SettingsStore> CreateMemorySettingsStore() { return std::make_unique<MemoryStore>(); }

}  // namespace varnex2::app
