#pragma once
// D3DX maths in single precision: row vectors (v' = v·M), row-major
// matrices with the translation in _41.._43, left-handed views, depth 0..1.
#include "d3d9/d3d9.h"

struct D3DXVECTOR2 {
  float x = 0, y = 0;
  D3DXVECTOR2() = default;
  D3DXVECTOR2(float x_, float y_) : x(x_), y(y_) {}
  D3DXVECTOR2 operator+(const D3DXVECTOR2& o) const { return {x + o.x, y + o.y}; }
  D3DXVECTOR2 operator-(const D3DXVECTOR2& o) const { return {x - o.x, y - o.y}; }
  D3DXVECTOR2 operator*(float s) const { return {x * s, y * s}; }
  D3DXVECTOR2 operator/(float s) const { return {x / s, y / s}; }
  D3DXVECTOR2& operator+=(const D3DXVECTOR2& o) { x += o.x; y += o.y; return *this; }
  D3DXVECTOR2& operator*=(float s) { x *= s; y *= s; return *this; }
  bool operator==(const D3DXVECTOR2& o) const { return x == o.x && y == o.y; }
  bool operator!=(const D3DXVECTOR2& o) const { return !(*this == o); }
};

struct D3DXVECTOR3 : D3DVECTOR {
  D3DXVECTOR3() : D3DVECTOR{0, 0, 0} {}
  D3DXVECTOR3(float x_, float y_, float z_) : D3DVECTOR{x_, y_, z_} {}
  D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
  D3DXVECTOR3 operator+(const D3DXVECTOR3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  D3DXVECTOR3 operator-(const D3DXVECTOR3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
  D3DXVECTOR3 operator*(float s) const { return {x * s, y * s, z * s}; }
  D3DXVECTOR3 operator/(float s) const { return {x / s, y / s, z / s}; }
  D3DXVECTOR3& operator+=(const D3DXVECTOR3& o) { x += o.x; y += o.y; z += o.z; return *this; }
  D3DXVECTOR3& operator-=(const D3DXVECTOR3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
  D3DXVECTOR3& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
  bool operator==(const D3DXVECTOR3& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const D3DXVECTOR3& o) const { return !(*this == o); }
};
inline D3DXVECTOR3 operator*(float s, const D3DXVECTOR3& v) { return v * s; }

struct D3DXVECTOR4 {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXVECTOR4() = default;
  D3DXVECTOR4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
};

struct D3DXMATRIX : D3DMATRIX {
  D3DXMATRIX() : D3DMATRIX{} {}
  D3DXMATRIX(const D3DMATRIX& m) : D3DMATRIX(m) {}
  D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24, float m31,
             float m32, float m33, float m34, float m41, float m42, float m43, float m44);
  float& operator()(int row, int column) { return m[row][column]; }
  float operator()(int row, int column) const { return m[row][column]; }
  D3DXMATRIX operator*(const D3DXMATRIX& o) const;
  D3DXMATRIX& operator*=(const D3DXMATRIX& o) { return *this = *this * o; }
  bool operator==(const D3DXMATRIX& o) const;
  bool operator!=(const D3DXMATRIX& o) const { return !(*this == o); }
};

// The platform's 16-byte aligned matrix for SIMD loads.
struct alignas(16) D3DXMATRIXA16 : D3DXMATRIX {
  D3DXMATRIXA16() = default;
  D3DXMATRIXA16(const D3DMATRIX& m) : D3DXMATRIX(m) {}
  D3DXMATRIXA16& operator=(const D3DMATRIX& m) {
    static_cast<D3DMATRIX&>(*this) = m;
    return *this;
  }
};

struct D3DXQUATERNION {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXQUATERNION() = default;
  D3DXQUATERNION(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  // The product in D3DX order: this first, then o.
  D3DXQUATERNION operator*(const D3DXQUATERNION& o) const;
  bool operator==(const D3DXQUATERNION& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
  bool operator!=(const D3DXQUATERNION& o) const { return !(*this == o); }
};

struct D3DXPLANE {
  float a = 0, b = 0, c = 0, d = 0;
  D3DXPLANE() = default;
  D3DXPLANE(float a_, float b_, float c_, float d_) : a(a_), b(b_), c(c_), d(d_) {}
};

struct D3DXCOLOR {
  float r = 0, g = 0, b = 0, a = 0;
  D3DXCOLOR() = default;
  D3DXCOLOR(float r_, float g_, float b_, float a_) : r(r_), g(g_), b(b_), a(a_) {}
  D3DXCOLOR(DWORD argb);
  operator DWORD() const;
};

constexpr float D3DX_PI = 3.141592654f;
constexpr float D3DXToRadian(float degree) { return degree * (D3DX_PI / 180.0f); }
constexpr float D3DXToDegree(float radian) { return radian * (180.0f / D3DX_PI); }

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
bool D3DXMatrixIsIdentity(const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
// Null, with out untouched, when m is singular.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
float D3DXMatrixDeterminant(const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle);
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);
D3DXMATRIX* D3DXMatrixPerspectiveOffCenterLH(D3DXMATRIX* out, float l, float r, float b, float t, float zn,
                                             float zf);
D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf);

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out);
// q1 then q2: M(Multiply(q1, q2)) = M(q1)·M(q2).
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1, const D3DXQUATERNION* q2);
D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q);
D3DXQUATERNION* D3DXQuaternionConjugate(D3DXQUATERNION* out, const D3DXQUATERNION* q);
D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle);
D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m);
float D3DXQuaternionLength(const D3DXQUATERNION* q);

float D3DXVec2Length(const D3DXVECTOR2* v);
float D3DXVec3Length(const D3DXVECTOR3* v);
float D3DXVec3LengthSq(const D3DXVECTOR3* v);
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
// The zero vector stays zero.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* out, const D3DXVECTOR2* v);
D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s);
D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// Divides by the resulting w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// Null matrices count as identity.
D3DXVECTOR3* D3DXVec3Project(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DVIEWPORT9* viewport,
                             const D3DXMATRIX* projection, const D3DXMATRIX* view, const D3DXMATRIX* world);
D3DXVECTOR3* D3DXVec3Unproject(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DVIEWPORT9* viewport,
                               const D3DXMATRIX* projection, const D3DXMATRIX* view, const D3DXMATRIX* world);

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal);
float D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v);
// The infinite line through v1 and v2; null when it runs parallel to the plane.
D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* out, const D3DXPLANE* p, const D3DXVECTOR3* v1,
                                    const D3DXVECTOR3* v2);
