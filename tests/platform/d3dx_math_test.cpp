// D3DX maths: row vectors, left-handed, D3DX's quaternion order.
#include <gtest/gtest.h>

#include <cmath>

#include "d3d9/d3dx9.h"

namespace {

void ExpectNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float eps = 1e-5f) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a(i, j), b(i, j), eps) << i << "," << j;
}

void ExpectNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

D3DXQUATERNION Axis(float x, float y, float z, float angle) {
  D3DXQUATERNION q;
  D3DXVECTOR3 a(x, y, z);
  D3DXQuaternionRotationAxis(&q, &a, angle);
  return q;
}

TEST(D3dxMath, QuaternionProductIsFirstThenSecond) {
  const D3DXQUATERNION q1 = Axis(1, 0, 0, 0.7f), q2 = Axis(0, 1, 1, -1.1f);
  D3DXQUATERNION q;
  D3DXQuaternionMultiply(&q, &q1, &q2);
  D3DXMATRIX m, m1, m2;
  D3DXMatrixRotationQuaternion(&m, &q);
  D3DXMatrixRotationQuaternion(&m1, &q1);
  D3DXMatrixRotationQuaternion(&m2, &q2);
  ExpectNear(m, m1 * m2);
  // Non-coaxial turns do not commute, so the order above is a real check.
  D3DXMATRIX swapped = m2 * m1;
  EXPECT_GT(std::fabs(swapped._12 - m._12) + std::fabs(swapped._31 - m._31), 1e-2f);
}

TEST(D3dxMath, RotationQuaternionTurnsRowVectors) {
  // 90 degrees about z takes x to y for a row vector v·M.
  D3DXMATRIX m;
  const D3DXQUATERNION q = Axis(0, 0, 1, D3DX_PI / 2);
  D3DXMatrixRotationQuaternion(&m, &q);
  D3DXVECTOR3 v(1, 0, 0), out;
  D3DXVec3TransformCoord(&out, &v, &m);
  ExpectNear(out, D3DXVECTOR3(0, 1, 0));
  D3DXMATRIX rz;
  D3DXMatrixRotationZ(&rz, D3DX_PI / 2);
  ExpectNear(m, rz);
}

TEST(D3dxMath, MatrixQuaternionMatrixRoundTripsIncludingHalfTurns) {
  const D3DXQUATERNION cases[] = {Axis(1, 0, 0, D3DX_PI), Axis(0, 1, 0, D3DX_PI), Axis(0, 0, 1, D3DX_PI),
                                  Axis(1, 1, 0, D3DX_PI), Axis(1, -2, 3, 2.5f), Axis(0, 0, 1, 0.1f)};
  for (const D3DXQUATERNION& q : cases) {
    D3DXMATRIX m, back;
    D3DXMatrixRotationQuaternion(&m, &q);
    D3DXQUATERNION r;
    D3DXQuaternionRotationMatrix(&r, &m);
    D3DXMatrixRotationQuaternion(&back, &r);
    ExpectNear(back, m);
    EXPECT_NEAR(D3DXQuaternionLength(&r), 1.0f, 1e-5f);
  }
}

TEST(D3dxMath, LookAtTakesTheEyeToTheOriginAndTheTargetOntoPlusZ) {
  const D3DXVECTOR3 eye(3, 4, -5), at(-1, 2, 7), up(0, 1, 0);
  D3DXMATRIX v;
  D3DXMatrixLookAtLH(&v, &eye, &at, &up);
  D3DXVECTOR3 e, a;
  D3DXVec3TransformCoord(&e, &eye, &v);
  D3DXVec3TransformCoord(&a, &at, &v);
  ExpectNear(e, D3DXVECTOR3(0, 0, 0), 1e-4f);
  const D3DXVECTOR3 d = at - eye;
  ExpectNear(a, D3DXVECTOR3(0, 0, D3DXVec3Length(&d)), 1e-4f);
}

TEST(D3dxMath, ProjectionsMapNearToZeroFarToOneAndEdgesToPlusMinusOne) {
  D3DXMATRIX p;
  const float zn = 0.5f, zf = 100.0f;
  D3DXMatrixPerspectiveFovLH(&p, D3DX_PI / 2, 2.0f, zn, zf);
  D3DXVECTOR3 out, v(0, 0, zn);
  D3DXVec3TransformCoord(&out, &v, &p);
  EXPECT_NEAR(out.z, 0.0f, 1e-6f);
  v = D3DXVECTOR3(0, 0, zf);
  D3DXVec3TransformCoord(&out, &v, &p);
  EXPECT_NEAR(out.z, 1.0f, 1e-6f);
  // fovy 90: the top edge at depth d is y = d; aspect 2: the right edge x = 2d.
  v = D3DXVECTOR3(20, 10, 10);
  D3DXVec3TransformCoord(&out, &v, &p);
  EXPECT_NEAR(out.x, 1.0f, 1e-6f);
  EXPECT_NEAR(out.y, 1.0f, 1e-6f);

  const float l = -0.2f, r = 0.6f, b = -0.1f, t = 0.3f;
  D3DXMatrixPerspectiveOffCenterLH(&p, l, r, b, t, zn, zf);
  const struct {
    D3DXVECTOR3 v;
    D3DXVECTOR3 expected;
  } cases[] = {{{l, b, zn}, {-1, -1, 0}}, {{r, t, zn}, {1, 1, 0}}, {{l * 200, t * 200, zf}, {-1, 1, 1}}};
  for (const auto& c : cases) {
    D3DXVec3TransformCoord(&out, &c.v, &p);
    ExpectNear(out, c.expected, 1e-5f);
  }
}

TEST(D3dxMath, SingularInverseIsNullAndLeavesTheOutputAlone) {
  D3DXMATRIX singular(1, 2, 3, 0, 2, 4, 6, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  D3DXMATRIX out(7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7);
  const D3DXMATRIX before = out;
  EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &singular), nullptr);
  EXPECT_EQ(out, before);
  D3DXMATRIX m, inv, id;
  D3DXMatrixRotationYawPitchRoll(&m, 0.3f, -0.4f, 1.2f);
  m._41 = 5;
  float det = 0;
  ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &m), &inv);
  EXPECT_NEAR(det, 1.0f, 1e-5f);
  ExpectNear(m * inv, *D3DXMatrixIdentity(&id));
}

TEST(D3dxMath, YawPitchRollIsRollThenPitchThenYaw) {
  D3DXMATRIX m, x, y, z;
  D3DXMatrixRotationYawPitchRoll(&m, 0.3f, -0.4f, 1.2f);
  D3DXMatrixRotationX(&x, -0.4f);
  D3DXMatrixRotationY(&y, 0.3f);
  D3DXMatrixRotationZ(&z, 1.2f);
  ExpectNear(m, z * x * y);
}

TEST(D3dxMath, ProjectPutsViewportCornersAtTheCorners) {
  const D3DVIEWPORT9 vp{10, 20, 200, 100, 0.25f, 0.75f};
  const struct {
    D3DXVECTOR3 ndc;
    D3DXVECTOR3 screen;
  } cases[] = {{{-1, 1, 0}, {10, 20, 0.25f}}, {{1, -1, 1}, {210, 120, 0.75f}}, {{0, 0, 0.5f}, {110, 70, 0.5f}}};
  for (const auto& c : cases) {
    D3DXVECTOR3 out;
    D3DXVec3Project(&out, &c.ndc, &vp, nullptr, nullptr, nullptr);
    ExpectNear(out, c.screen);
  }
}

TEST(D3dxMath, NormalizeKeepsZeroAndPlanesIntersectInfiniteLines) {
  D3DXVECTOR3 zero(0, 0, 0), n;
  D3DXVec3Normalize(&n, &zero);
  EXPECT_EQ(n, zero);

  D3DXPLANE plane;
  const D3DXVECTOR3 point(0, 0, 5), normal(0, 0, 1);
  D3DXPlaneFromPointNormal(&plane, &point, &normal);
  EXPECT_FLOAT_EQ(plane.d, -5.0f);
  D3DXVECTOR3 a(1, 2, 0), b(1, 2, 1), hit;
  // The hit lies beyond v2: the line, not the segment.
  ASSERT_EQ(D3DXPlaneIntersectLine(&hit, &plane, &a, &b), &hit);
  ExpectNear(hit, D3DXVECTOR3(1, 2, 5));
  D3DXVECTOR3 c(4, 2, 0);
  EXPECT_EQ(D3DXPlaneIntersectLine(&hit, &plane, &a, &c), nullptr);
}

TEST(D3dxMath, ColourConversionClampsAndRounds) {
  const D3DXCOLOR c(0xFF804020u);
  EXPECT_FLOAT_EQ(c.a, 1.0f);
  EXPECT_FLOAT_EQ(c.r, 128 / 255.0f);
  EXPECT_EQ(DWORD(c), 0xFF804020u);
  EXPECT_EQ(DWORD(D3DXCOLOR(1.5f, -0.2f, 0.5f, 1.0f)), 0xFFFF0080u);
  EXPECT_EQ(DWORD(D3DXCOLOR(0.999f, 0.001f, 0, 0)), 0x00FF0000u);
}

TEST(D3dxMath, AlignedMatrixIsAlignedTo16) { EXPECT_EQ(alignof(D3DXMATRIXA16), 16u); }

}  // namespace
