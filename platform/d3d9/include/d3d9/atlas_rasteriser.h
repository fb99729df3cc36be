#pragma once
// What a font atlas needs of a text rasteriser: the GDI calls of a memory
// device context (font by height, extents, opaque white-on-black glyphs into
// a 32-bit top-down DIB section). The fonts and D3DX fonts share it.
#include <cstdint>
#include <memory>

#include "win/types.h"

namespace d3d9 {

class AtlasRasteriser {
 public:
  virtual ~AtlasRasteriser() = default;
  // Logical pixels per inch in y.
  virtual int LogPixelsY() const = 0;
  // height > 0: cell height, < 0: em height (pixels); weight < 550 regular.
  virtual bool SelectFont(const char* face, int height, int weight, bool italic) = 0;
  virtual SIZE Extent(const char* text, int length) const = 0;
  // A black surface of this size; false when it cannot be made.
  virtual bool CreateSurface(int width, int height) = 0;
  virtual void DrawOpaque(int x, int y, const char* text, int length) = 0;
  // Rows of the surface, top-down, width pixels each.
  virtual const std::uint32_t* Pixels() = 0;
};

std::unique_ptr<AtlasRasteriser> CreateAtlasRasteriser();

}  // namespace d3d9
