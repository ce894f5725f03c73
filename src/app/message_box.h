#pragma once
// The station's operator messages (the dialogs' message box, shared with the window).

#include "dialogs/message_box.h"

namespace varnex2::app {

// The window speaks the core's view vocabulary.
using station::kColourDarkRed;
using station::kColourGreen;
using station::kColourGrey;
using station::kColourRed;
using station::kColourWhite;
using station::MessageIcon;
using station::StationView;

using dialogs::ShowStationMessage;

}  // namespace varnex2::app
