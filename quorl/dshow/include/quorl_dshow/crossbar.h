#pragma once
// Every route from a physical (non-audio) crossbar input to the capture
// filter's analogue input, and switching between them.
#include "dshow/interfaces.h"

namespace DShow {

struct CRouting {
  CRouting* left = nullptr;   // upstream, towards the physical input
  CRouting* right = nullptr;  // downstream, towards the capture filter
  long inputIndex = 0;
  long outputIndex = 0;
  long relatedInputIndex = -1;
  long relatedOutputIndex = -1;
  IAMCrossbar* crossbar = nullptr;  // one reference while stored in a route
  long inputPhysicalType = 0;
  long outputPhysicalType = 0;
  long depth = 0;
};

class CCrossbar {
 public:
  // startPin: only walked while building, not kept. *result receives the
  // build result.
  CCrossbar(IPin* startPin, HRESULT* result);
  ~CCrossbar();
  // A copy would release the routes' crossbars twice.
  CCrossbar(const CCrossbar&) = delete;
  CCrossbar& operator=(const CCrossbar&) = delete;

  HRESULT GetInputCount(int* count);
  HRESULT GetInputIndex(long* index);
  HRESULT SetInputIndex(long index);
  HRESULT GetInputType(long index, long* physicalType);
  HRESULT GetInputName(long index, char* name, long size);

  static const char* StringFromPinType(long type);

 private:
  HRESULT BuildRoutingList(IPin* pin, CRouting* step, int depth);
  HRESULT SaveRouting(CRouting* last);
  HRESULT DestroyRoutingList();
  static HRESULT GetCrossbarIPinAtIndex(IAMCrossbar* crossbar, long index, bool isInput, IPin** pin);
  static HRESULT GetCrossbarIndexFromIPin(IAMCrossbar* crossbar, long* index, bool isInput, IPin* pin);
  CRouting* Route(long index) const;

  CRouting working_;
  CGenericList<CRouting>* routingList_ = nullptr;
  long currentIndex_ = 0;
};

}  // namespace DShow
