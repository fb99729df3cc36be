#include <cmath>

#include "d3d9/d3dx9.h"

D3DXMATRIX::D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
                       float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
    : D3DMATRIX{} {
  const float v[16] = {m11, m12, m13, m14, m21, m22, m23, m24, m31, m32, m33, m34, m41, m42, m43, m44};
  for (int i = 0; i < 16; ++i) m[i / 4][i % 4] = v[i];
}

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& o) const {
  D3DXMATRIX r;
  D3DXMatrixMultiply(&r, this, &o);
  return r;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& o) const {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (m[i][j] != o.m[i][j]) return false;
  return true;
}

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& o) const {
  D3DXQUATERNION r;
  D3DXQuaternionMultiply(&r, this, &o);
  return r;
}

D3DXCOLOR::D3DXCOLOR(DWORD argb)
    : r(((argb >> 16) & 0xFF) / 255.0f),
      g(((argb >> 8) & 0xFF) / 255.0f),
      b((argb & 0xFF) / 255.0f),
      a(((argb >> 24) & 0xFF) / 255.0f) {}

namespace {
DWORD Channel(float c) {
  if (c >= 1.0f) return 255;
  if (c <= 0.0f) return 0;
  return DWORD(c * 255.0f + 0.5f);
}
}  // namespace

D3DXCOLOR::operator DWORD() const { return (Channel(a) << 24) | (Channel(r) << 16) | (Channel(g) << 8) | Channel(b); }

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

bool D3DXMatrixIsIdentity(const D3DXMATRIX* m) {
  D3DXMATRIX i;
  D3DXMatrixIdentity(&i);
  return *m == i;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] + a->m[i][3] * b->m[3][j];
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  *out = r;
  return out;
}

namespace {
// Cofactor expansion in double: the inverse of a near-singular float matrix
// keeps its digits.
bool Invert(const D3DXMATRIX& m, D3DXMATRIX* out, double* determinant) {
  double a[16], inv[16];
  for (int i = 0; i < 16; ++i) a[i] = m.m[i / 4][i % 4];
  inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
           a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
           a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
           a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
            a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
           a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
           a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
           a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
            a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
           a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
  inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
           a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
            a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
            a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
           a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
  inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
           a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
  inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
            a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
  inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
            a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
  const double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
  if (determinant) *determinant = det;
  if (det == 0.0 || !std::isfinite(det)) return false;
  for (int i = 0; i < 16; ++i) out->m[i / 4][i % 4] = float(inv[i] / det);
  return true;
}
}  // namespace

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  double det = 0;
  const bool ok = Invert(*m, &r, &det);
  if (determinant) *determinant = float(det);
  if (!ok) return nullptr;
  *out = r;
  return out;
}

float D3DXMatrixDeterminant(const D3DXMATRIX* m) {
  D3DXMATRIX r;
  double det = 0;
  Invert(*m, &r, &det);
  return float(det);
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  D3DXMatrixIdentity(out);
  out->_41 = x;
  out->_42 = y;
  out->_43 = z;
  return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float x, float y, float z) {
  *out = D3DXMATRIX(x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float a) {
  const float c = std::cos(a), s = std::sin(a);
  *out = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float a) {
  const float c = std::cos(a), s = std::sin(a);
  *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float a) {
  const float c = std::cos(a), s = std::sin(a);
  *out = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle) {
  D3DXQUATERNION q;
  D3DXQuaternionRotationAxis(&q, axis, angle);
  return D3DXMatrixRotationQuaternion(out, &q);
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll) {
  D3DXMATRIX z, x, y;
  D3DXMatrixRotationZ(&z, roll);
  D3DXMatrixRotationX(&x, pitch);
  D3DXMatrixRotationY(&y, yaw);
  *out = z * x * y;
  return out;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  *out = D3DXMATRIX(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,  //
                    2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,  //
                    2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0,  //
                    0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
  D3DXVECTOR3 z = *at - *eye, x, y;
  D3DXVec3Normalize(&z, &z);
  D3DXVec3Cross(&x, up, &z);
  D3DXVec3Normalize(&x, &x);
  D3DXVec3Cross(&y, &z, &x);
  *out = D3DXMATRIX(x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -D3DXVec3Dot(&x, eye),
                    -D3DXVec3Dot(&y, eye), -D3DXVec3Dot(&z, eye), 1);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float ys = 1.0f / std::tan(fovy / 2), xs = ys / aspect;
  *out = D3DXMATRIX(xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveOffCenterLH(D3DXMATRIX* out, float l, float r, float b, float t, float zn,
                                             float zf) {
  *out = D3DXMATRIX(2 * zn / (r - l), 0, 0, 0, 0, 2 * zn / (t - b), 0, 0, (l + r) / (l - r), (t + b) / (b - t),
                    zf / (zf - zn), 1, 0, 0, zn * zf / (zn - zf), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  *out = D3DXMATRIX(2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1 / (zf - zn), 0, 0, 0, zn / (zn - zf), 1);
  return out;
}

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out) {
  *out = D3DXQUATERNION(0, 0, 0, 1);
  return out;
}

D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2) {
  // Hamilton product q2·q1.
  const D3DXQUATERNION a = *q2, b = *q1;
  *out = D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,  //
                        a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,  //
                        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,  //
                        a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
  return out;
}

float D3DXQuaternionLength(const D3DXQUATERNION* q) {
  return std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w);
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
  const float n = D3DXQuaternionLength(q);
  *out = n > 0 ? D3DXQUATERNION(q->x / n, q->y / n, q->z / n, q->w / n) : D3DXQUATERNION(0, 0, 0, 0);
  return out;
}

D3DXQUATERNION* D3DXQuaternionConjugate(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
  *out = D3DXQUATERNION(-q->x, -q->y, -q->z, q->w);
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, axis);
  const float s = std::sin(angle / 2);
  *out = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, std::cos(angle / 2));
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m) {
  // The largest of the four diagonal combinations keeps the square root away
  // from zero, so turns of 180 degrees come out exactly.
  const float t = m->_11 + m->_22 + m->_33;
  D3DXQUATERNION q;
  if (t > 0) {
    const float s = std::sqrt(t + 1) * 2;
    q = {(m->_23 - m->_32) / s, (m->_31 - m->_13) / s, (m->_12 - m->_21) / s, s / 4};
  } else if (m->_11 >= m->_22 && m->_11 >= m->_33) {
    const float s = std::sqrt(1 + m->_11 - m->_22 - m->_33) * 2;
    q = {s / 4, (m->_12 + m->_21) / s, (m->_13 + m->_31) / s, (m->_23 - m->_32) / s};
  } else if (m->_22 >= m->_33) {
    const float s = std::sqrt(1 + m->_22 - m->_11 - m->_33) * 2;
    q = {(m->_12 + m->_21) / s, s / 4, (m->_23 + m->_32) / s, (m->_31 - m->_13) / s};
  } else {
    const float s = std::sqrt(1 + m->_33 - m->_11 - m->_22) * 2;
    q = {(m->_13 + m->_31) / s, (m->_23 + m->_32) / s, s / 4, (m->_12 - m->_21) / s};
  }
  *out = q;
  return out;
}

float D3DXVec2Length(const D3DXVECTOR2* v) { return std::sqrt(v->x * v->x + v->y * v->y); }
float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3LengthSq(v)); }
float D3DXVec3LengthSq(const D3DXVECTOR3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  const float n = D3DXVec3Length(v);
  *out = n > 0 ? *v / n : D3DXVECTOR3(0, 0, 0);
  return out;
}

D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* out, const D3DXVECTOR2* v) {
  const float n = D3DXVec2Length(v);
  *out = n > 0 ? *v / n : D3DXVECTOR2(0, 0);
  return out;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = *a - *b;
  return out;
}
D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = *a + *b;
  return out;
}
D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s) {
  *out = *v * s;
  return out;
}
D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(std::fmin(a->x, b->x), std::fmin(a->y, b->y), std::fmin(a->z, b->z));
  return out;
}
D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  *out = D3DXVECTOR3(std::fmax(a->x, b->x), std::fmax(a->y, b->y), std::fmax(a->z, b->z));
  return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z;
  *out = D3DXVECTOR4(x * m->_11 + y * m->_21 + z * m->_31 + m->_41, x * m->_12 + y * m->_22 + z * m->_32 + m->_42,
                     x * m->_13 + y * m->_23 + z * m->_33 + m->_43, x * m->_14 + y * m->_24 + z * m->_34 + m->_44);
  return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, v, m);
  *out = D3DXVECTOR3(r.x / r.w, r.y / r.w, r.z / r.w);
  return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const float x = v->x, y = v->y, z = v->z;
  *out = D3DXVECTOR3(x * m->_11 + y * m->_21 + z * m->_31, x * m->_12 + y * m->_22 + z * m->_32,
                     x * m->_13 + y * m->_23 + z * m->_33);
  return out;
}

namespace {
D3DXMATRIX WorldViewProjection(const D3DXMATRIX* p, const D3DXMATRIX* v, const D3DXMATRIX* w) {
  D3DXMATRIX m;
  D3DXMatrixIdentity(&m);
  if (w) m = *w;
  if (v) m = m * *v;
  if (p) m = m * *p;
  return m;
}
}  // namespace

D3DXVECTOR3* D3DXVec3Project(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DVIEWPORT9* vp,
                             const D3DXMATRIX* projection, const D3DXMATRIX* view, const D3DXMATRIX* world) {
  const D3DXMATRIX m = WorldViewProjection(projection, view, world);
  D3DXVECTOR3 p;
  D3DXVec3TransformCoord(&p, v, &m);
  if (vp) {
    p = D3DXVECTOR3(float(vp->X) + float(vp->Width) * (1 + p.x) / 2, float(vp->Y) + float(vp->Height) * (1 - p.y) / 2,
                    vp->MinZ + p.z * (vp->MaxZ - vp->MinZ));
  }
  *out = p;
  return out;
}

D3DXVECTOR3* D3DXVec3Unproject(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DVIEWPORT9* vp,
                               const D3DXMATRIX* projection, const D3DXMATRIX* view, const D3DXMATRIX* world) {
  D3DXMATRIX m = WorldViewProjection(projection, view, world), inv;
  if (!D3DXMatrixInverse(&inv, nullptr, &m)) return nullptr;
  D3DXVECTOR3 p = *v;
  if (vp) {
    p = D3DXVECTOR3(2 * (p.x - float(vp->X)) / float(vp->Width) - 1, 1 - 2 * (p.y - float(vp->Y)) / float(vp->Height),
                    (p.z - vp->MinZ) / (vp->MaxZ - vp->MinZ));
  }
  D3DXVec3TransformCoord(out, &p, &inv);
  return out;
}

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal) {
  *out = D3DXPLANE(normal->x, normal->y, normal->z, -D3DXVec3Dot(point, normal));
  return out;
}

float D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v) {
  return p->a * v->x + p->b * v->y + p->c * v->z + p->d;
}

D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* out, const D3DXPLANE* p, const D3DXVECTOR3* v1,
                                    const D3DXVECTOR3* v2) {
  const D3DXVECTOR3 n(p->a, p->b, p->c), d = *v2 - *v1;
  const float denominator = D3DXVec3Dot(&n, &d);
  if (denominator == 0.0f) return nullptr;
  const float t = -(D3DXVec3Dot(&n, v1) + p->d) / denominator;
  *out = *v1 + d * t;
  return out;
}
