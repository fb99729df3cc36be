#pragma once
// The network record that image-list slots can be filled from. It arrives
// from another program: only its bytes are held, and readers take the
// fields they need at fixed byte offsets, checking the length first.
#include <vector>

#include "win/types.h"

namespace QuorlMFC::Tarvesh::Network {

struct DataPacket {
  std::vector<BYTE> bytes;
};

}  // namespace QuorlMFC::Tarvesh::Network
