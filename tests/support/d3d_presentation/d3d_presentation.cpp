#include "d3d_presentation/d3d_presentation.h"

namespace d3dtest {

D3DPRESENT_PARAMETERS WindowedPresentation(bool depthBuffer) {
  D3DPRESENT_PARAMETERS pp{};
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  if (depthBuffer) {
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
  }
  return pp;
}

}  // namespace d3dtest
