#pragma once
// The station's operator messages: a modal message box with an empty caption.
// The text is also written to stderr, so that unattended runs leave a trace.
// With VARNEX2_MESSAGE_TIMEOUT_MS set (automated runs), the box closes itself
// after that many milliseconds instead of waiting for the operator.

#include <QString>

#include <functional>

#include "station/station_view.h"

class QWidget;

namespace varnex2::dialogs {

using station::MessageIcon;

// `caption`: the box's title ("COM InitPort Error"); empty for the station's own messages.
void ShowStationMessage(QWidget* parent, const QString& text, MessageIcon icon, const QString& caption = {});

// Tests: every message goes to `hook` instead of a box (still on stderr); an empty hook
// restores the boxes. Window thread only.
using MessageHook = std::function<void(const QString& text, MessageIcon icon)>;
void SetMessageHook(MessageHook hook);

}  // namespace varnex2::dialogs
