#pragma once
// The station's operator messages: a modal message box with an empty caption.
// The text is also written to stderr, so that unattended runs leave a trace.
// With VARNEX2_MESSAGE_TIMEOUT_MS set (automated runs), the box closes itself
// after that many milliseconds instead of waiting for the operator.

#include <QString>

#include "station/station_view.h"

class QWidget;

namespace varnex2::app {

// The window speaks the core's view vocabulary.
using station::kColourDarkRed;
using station::kColourGreen;
using station::kColourGrey;
using station::kColourRed;
using station::kColourWhite;
using station::MessageIcon;
using station::StationView;

void ShowStationMessage(QWidget* parent, const QString& text, MessageIcon icon);

}  // namespace varnex2::app
