// Writers on different threads of one process, through one store and through two stores on
// the same file, lose nothing.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/settings_file_store.h"
#include "platform/settings_test_dir.h"

namespace varnex2::platform {
namespace {

constexpr std::string_view kKey = "Software\\Varnx2\\Test";
constexpr int kWrites = 80;

void WriteMany(SettingsStore& store, int thread, std::vector<SettingsStatus>& statuses) {
  for (int i = 0; i < kWrites; ++i) {
    const std::string name = testing::ValueName("T", {thread, i});
    statuses.push_back(i % 2 == 0 ? store.SetDword(kKey, name, i) : store.SetString(kKey, name, std::to_string(i)));
    std::int32_t n = 0;
    store.GetDword(kKey, "T0_0", n);  // readers run beside the writers
  }
}

void ExpectAll(SettingsStore& store, int threads) {
  for (int t = 0; t < threads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      const std::string name = testing::ValueName("T", {t, i});
      if (i % 2 == 0) {
        std::int32_t n = -1;
        EXPECT_EQ(store.GetDword(kKey, name, n), SettingsStatus::Ok) << name;
        EXPECT_EQ(n, i);
      } else {
        std::string s;
        EXPECT_EQ(store.GetString(kKey, name, s, 16), SettingsStatus::Ok) << name;
        EXPECT_EQ(s, std::to_string(i));
      }
    }
  }
}

TEST(SettingsFileStoreThreads, TwoThreadsOnOneStoreLoseNothing) {
  testing::SettingsTestDir dir;
  auto store = CreateFileSettingsStore(dir.File());
  std::vector<SettingsStatus> a, b;
  std::thread first([&] { WriteMany(*store, 0, a); });
  std::thread second([&] { WriteMany(*store, 1, b); });
  first.join();
  second.join();
  for (const auto s : a) EXPECT_EQ(s, SettingsStatus::Ok);
  for (const auto s : b) EXPECT_EQ(s, SettingsStatus::Ok);
  ExpectAll(*store, 2);
}

TEST(SettingsFileStoreThreads, TwoStoresOnOneFileLoseNothing) {
  testing::SettingsTestDir dir;
  auto one = CreateFileSettingsStore(dir.File());
  auto two = CreateFileSettingsStore(dir.File());
  std::vector<SettingsStatus> a, b;
  std::thread first([&] { WriteMany(*one, 0, a); });
  std::thread second([&] { WriteMany(*two, 1, b); });
  first.join();
  second.join();
  for (const auto s : a) EXPECT_EQ(s, SettingsStatus::Ok);
  for (const auto s : b) EXPECT_EQ(s, SettingsStatus::Ok);
  ExpectAll(*one, 2);
}

}  // namespace
}  // namespace varnex2::platform
