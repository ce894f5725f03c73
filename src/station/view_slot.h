#pragma once
// The core's window, attached once the window exists (the window is built over the core's
// node map, so the core comes first). Until then posts and sends do nothing.

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "station/station_view.h"

namespace varnex2::station {

class ViewSlot final : public StationView {
 public:
  void Attach(StationView* view) { view_.store(view); }

  void Post(std::function<void()> call) override {
    if (auto* v = view_.load()) v->Post(std::move(call));
  }
  bool Send(std::function<void()> call, std::stop_token stop = {}) override {
    auto* v = view_.load();
    return v && v->Send(std::move(call), stop);
  }
  void SetTitle(const std::string& title) override {
    if (auto* v = view_.load()) v->SetTitle(title);
  }
  void SetStatusPane(int pane, const std::string& text, std::uint32_t textColour, std::uint32_t backColour) override {
    if (auto* v = view_.load()) v->SetStatusPane(pane, text, textColour, backColour);
  }
  void SetStatusPaneWidth(int pane, int width) override {
    if (auto* v = view_.load()) v->SetStatusPaneWidth(pane, width);
  }
  void EnableTopMenus(bool enabled) override {
    if (auto* v = view_.load()) v->EnableTopMenus(enabled);
  }
  void RepaintGrid() override {
    if (auto* v = view_.load()) v->RepaintGrid();
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    if (auto* v = view_.load()) v->ShowMessage(text, icon);
  }
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override {
    if (auto* v = view_.load()) v->ShowMessage(caption, text, icon);
  }
  void PlaySound(Sound sound) override {
    if (auto* v = view_.load()) v->PlaySound(sound);
  }
  void ShowRecordNotice(const std::string& text, bool error) override {
    if (auto* v = view_.load()) v->ShowRecordNotice(text, error);
  }
  void ExitProgram(int code) override {
    if (auto* v = view_.load()) v->ExitProgram(code);
  }
  bool CycleTraceEnabled() const override {
    auto* v = view_.load();
    return v && v->CycleTraceEnabled();
  }
  void CycleTrace(const std::string& line) override {
    if (auto* v = view_.load()) v->CycleTrace(line);
  }

 private:
  std::atomic<StationView*> view_{nullptr};
};

}  // namespace varnex2::station
