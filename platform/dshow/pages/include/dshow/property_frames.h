#pragma once
// The property frame of the video stand-in: a modal dialog on the window
// stand-in. The capture pin's page lists the device's formats and applies
// the choice with SetFormat; the capture filter's page lists its controls.
#include "dshow/platform.h"

namespace dshow {

// Dialog template ids and the ids of the page controls, for tests that
// answer the frame.
constexpr UINT kPropertyFrameTemplate = 0x7D10;
constexpr UINT kPropertyFrameFormats = 0x7D11;   // combo box of formats
constexpr UINT kPropertyFrameControls = 0x7D12;  // combo box of control names

// Registers the template and installs the frame; idempotent.
void InstallPropertyFrames();

}  // namespace dshow
