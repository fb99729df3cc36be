#pragma once
// Registration of two 512 x 512 grey images (target and source) by the
// bilinear control-grid engine, or by its rectified twin that moves control
// points horizontally only. The object keeps its engine: afterwards it warps
// images through the result, reports horizontal disparities, and copies the
// grids of every level into a BiTranPyr.
//
// Warps take a level L and use grid level min(L + 1, 4) (level 0 for a
// negative L); disparities and control points use grid level L itself.
#include "bi_tran_pyr.h"

#include <memory>

namespace Quorl {
namespace Registration {

class CMIREngine {
 public:
  enum RegistrationType { Bilinear = 0, Rectified = 2 };

  CMIREngine(RegistrationType type = Bilinear);
  ~CMIREngine();
  // Copies share the finished engines (each query selects its grid level
  // before use, so copies do not disturb one another).
  CMIREngine(const CMIREngine& other);
  CMIREngine& operator=(const CMIREngine& other);

  bool IsRegisteredBilinear();
  bool IsRegisteredRectified();
  bool IsRegisteredCubic();
  // Registers source onto target (512 x 512 bytes each, no row gaps) with
  // the engine of this object's type, replacing this object's earlier result
  // of that type. Null images or another type: nothing.
  void Register(unsigned char* target, unsigned char* source);
  // Every grid level of the result (levels 0 .. 4) into pyramid; nothing
  // before a registration of this object's type.
  void GetTransformation(BiTranPyr* pyramid);

 private:
  friend class CMIREngineTestAccess;
  int RegisterBilinear(unsigned char* target, unsigned char* source);
  int RegisterRectified(unsigned char* target, unsigned char* source);
  int RegisterCubic(unsigned char* target, unsigned char* source);
  void GetBiControlPoints(int level, double* points, int* columns, int* rows);
  void GetRctControlPoints(int level, double* points, int* columns, int* rows);
  void GetBiTranPyr(BiTranPyr* pyramid);
  void GetRectTranPyr(BiTranPyr* pyramid);
  void WarpBilinear(unsigned char* input, unsigned char* output, int level);
  void WarpRectified(unsigned char* input, unsigned char* output, int level);
  void WarpRgbBilinear(unsigned char* input, unsigned char* output, int level);
  void WarpRgbRectified(unsigned char* input, unsigned char* output, int level);
  void GetBiDisparity(float* map, int level, float* minimum, float* maximum);
  void GetRctDisparity(float* map, int level, float* minimum, float* maximum);

  bool registeredRectified_;
  bool registeredBilinear_;
  bool registeredCubic_;
  RegistrationType type_;
  int width_;
  int height_;
  int log2Size_;
  // The finished engines of each kind (internal types, held opaquely).
  std::shared_ptr<void> bilinearEngine_;
  std::shared_ptr<void> rectifiedEngine_;
};

}  // namespace Registration
}  // namespace Quorl
