#pragma once
// The presentation parameters the device tests create their devices with.
#include "d3d9/d3d9.h"

namespace d3dtest {

// Windowed, the swap chain discarded; `depthBuffer` adds the 16-bit depth
// buffer that the scenes draw with.
D3DPRESENT_PARAMETERS WindowedPresentation(bool depthBuffer);

}  // namespace d3dtest
