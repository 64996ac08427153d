// Fixed-size spatial algebra for the recursive engine: 3-vectors and 3 x 3 matrices as plain
// structs, motion vectors (angular velocity, linear velocity of the frame origin), force vectors
// (moment about the frame origin, force), rigid transforms between a link frame and its parent,
// and the symmetric 6 x 6 inertias in 3 x 3 blocks. Everything is inline and allocates nothing;
// every sum is written out, so the results are the same on every run.
#pragma once

namespace spatial {

struct Vec3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

inline Vec3 operator+(const Vec3& a, const Vec3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(double s, const Vec3& a) {
  return {s * a.x, s * a.y, s * a.z};
}
inline double Dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Component k (0, 1, 2) of a.
inline double Get(const Vec3& a, int k) {
  return k == 0 ? a.x : k == 1 ? a.y : a.z;
}
inline void Add(Vec3& a, int k, double s) {
  (k == 0 ? a.x : k == 1 ? a.y : a.z) += s;
}

// A general 3 x 3 matrix, row-major.
struct Mat3 {
  double m[3][3] = {};
};

inline Vec3 Row(const Mat3& a, int i) {
  return {a.m[i][0], a.m[i][1], a.m[i][2]};
}
inline Vec3 Col(const Mat3& a, int j) {
  return {a.m[0][j], a.m[1][j], a.m[2][j]};
}
inline void SetCol(Mat3& a, int j, const Vec3& v) {
  a.m[0][j] = v.x;
  a.m[1][j] = v.y;
  a.m[2][j] = v.z;
}
// a v
inline Vec3 operator*(const Mat3& a, const Vec3& v) {
  return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z,
          a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
          a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}
// a^T v
inline Vec3 MulTransposed(const Mat3& a, const Vec3& v) {
  return {a.m[0][0] * v.x + a.m[1][0] * v.y + a.m[2][0] * v.z,
          a.m[0][1] * v.x + a.m[1][1] * v.y + a.m[2][1] * v.z,
          a.m[0][2] * v.x + a.m[1][2] * v.y + a.m[2][2] * v.z};
}
// a b
inline Mat3 operator*(const Mat3& a, const Mat3& b) {
  Mat3 c;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      c.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
  }
  return c;
}

// A symmetric 3 x 3 matrix.
struct Sym3 {
  double xx = 0.0, yy = 0.0, zz = 0.0, xy = 0.0, xz = 0.0, yz = 0.0;
};

inline Vec3 operator*(const Sym3& s, const Vec3& v) {
  return {s.xx * v.x + s.xy * v.y + s.xz * v.z, s.xy * v.x + s.yy * v.y + s.yz * v.z,
          s.xz * v.x + s.yz * v.y + s.zz * v.z};
}
inline Sym3 operator+(const Sym3& a, const Sym3& b) {
  return {a.xx + b.xx, a.yy + b.yy, a.zz + b.zz, a.xy + b.xy, a.xz + b.xz, a.yz + b.yz};
}
// Column k of s.
inline Vec3 Col(const Sym3& s, int k) {
  return k == 0 ? Vec3{s.xx, s.xy, s.xz} : k == 1 ? Vec3{s.xy, s.yy, s.yz} : Vec3{s.xz, s.yz, s.zz};
}
// s - u w^T / d, for s - U U^T / d with u = w: the symmetric rank-one downdate.
inline Sym3 Downdate(const Sym3& s, const Vec3& u, double inverseD) {
  const Vec3 w = inverseD * u;
  return {s.xx - u.x * w.x, s.yy - u.y * w.y, s.zz - u.z * w.z,
          s.xy - u.x * w.y, s.xz - u.x * w.z, s.yz - u.y * w.z};
}
// r s r^T, formed on and above the diagonal.
inline Sym3 Rotate(const Mat3& r, const Sym3& s) {
  const Vec3 c0 = s * Row(r, 0), c1 = s * Row(r, 1), c2 = s * Row(r, 2);  // columns of s r^T
  return {Dot(Row(r, 0), c0), Dot(Row(r, 1), c1), Dot(Row(r, 2), c2),
          Dot(Row(r, 0), c1), Dot(Row(r, 0), c2), Dot(Row(r, 1), c2)};
}

// Angular velocity (or acceleration) w and the linear one v of the frame origin, in frame axes.
struct Motion {
  Vec3 w;
  Vec3 v;
};
// Moment n about the frame origin and force f, in frame axes.
struct Force {
  Vec3 n;
  Vec3 f;
};

inline Motion operator+(const Motion& a, const Motion& b) {
  return {a.w + b.w, a.v + b.v};
}
inline Force operator+(const Force& a, const Force& b) {
  return {a.n + b.n, a.f + b.f};
}
inline Force operator-(const Force& a, const Force& b) {
  return {a.n - b.n, a.f - b.f};
}
// a x m: the rate of change of motion m carried along with velocity a.
inline Motion CrossMotion(const Motion& a, const Motion& m) {
  return {Cross(a.w, m.w), Cross(a.w, m.v) + Cross(a.v, m.w)};
}
// a x* f: the rate of change of force f carried along with velocity a.
inline Force CrossForce(const Motion& a, const Force& f) {
  return {Cross(a.w, f.n) + Cross(a.v, f.f), Cross(a.w, f.f)};
}
// m . f: power.
inline double Dot(const Motion& m, const Force& f) {
  return Dot(m.w, f.n) + Dot(m.v, f.f);
}
// Component j of a motion (0..2 angular, 3..5 linear) and of a force (0..2 moment, 3..5 force).
inline double Get(const Motion& m, int j) {
  return j < 3 ? Get(m.w, j) : Get(m.v, j - 3);
}
inline double Get(const Force& f, int j) {
  return j < 3 ? Get(f.n, j) : Get(f.f, j - 3);
}
inline void Add(Motion& m, int j, double s) {
  j < 3 ? Add(m.w, j, s) : Add(m.v, j - 3, s);
}

// A link frame seen from its parent: x_parent = r x_child + p.
struct Transform {
  Mat3 r;
  Vec3 p;
};

// A parent's motion in the child frame: (r^T w, r^T (v - p x w)).
inline Motion ToChild(const Transform& x, const Motion& m) {
  return {MulTransposed(x.r, m.w), MulTransposed(x.r, m.v - Cross(x.p, m.w))};
}
// The child frame of y seen from x's parent: out = x y = (r_x r_y, r_x p_y + p_x), element by
// element (out must not be x or y).
inline void Compose(const Transform& x, const Transform& y, Transform& out) {
  for (int i = 0; i < 3; ++i) {
    const double a0 = x.r.m[i][0], a1 = x.r.m[i][1], a2 = x.r.m[i][2];
    out.r.m[i][0] = a0 * y.r.m[0][0] + a1 * y.r.m[1][0] + a2 * y.r.m[2][0];
    out.r.m[i][1] = a0 * y.r.m[0][1] + a1 * y.r.m[1][1] + a2 * y.r.m[2][1];
    out.r.m[i][2] = a0 * y.r.m[0][2] + a1 * y.r.m[1][2] + a2 * y.r.m[2][2];
  }
  out.p = x.r * y.p + x.p;
}

// A child's force in the parent frame: (r n + p x r f, r f).
inline Force ToParent(const Transform& x, const Force& f) {
  const Vec3 rf = x.r * f.f;
  return {x.r * f.n + Cross(x.p, rf), rf};
}

// The inertia of a rigid body about the frame origin: mass m, first moment h = m c (c the centre
// of mass), and the rotational inertia i about the origin.
struct RigidInertia {
  double m = 0.0;
  Vec3 h;
  Sym3 i;
};

// (i w + h x v, m v - h x w)
inline Force operator*(const RigidInertia& a, const Motion& m) {
  return {a.i * m.w + Cross(a.h, m.v), a.m * m.v - Cross(a.h, m.w)};
}

inline void AddTo(RigidInertia& a, const RigidInertia& b) {
  a.m += b.m;
  a.h = a.h + b.h;
  a.i = a.i + b.i;
}

// A symmetric 6 x 6 inertia [[a, b], [b^T, c]] (an articulated-body inertia): the force (a w +
// b v, b^T w + c v) for the motion (w, v).
struct Inertia6 {
  Sym3 a;
  Mat3 b;
  Sym3 c;
};

inline Inertia6 FromRigid(const RigidInertia& r) {
  // b = [h]x, c = m E
  Inertia6 s;
  s.a = r.i;
  s.b.m[0][1] = -r.h.z;
  s.b.m[0][2] = r.h.y;
  s.b.m[1][0] = r.h.z;
  s.b.m[1][2] = -r.h.x;
  s.b.m[2][0] = -r.h.y;
  s.b.m[2][1] = r.h.x;
  s.c = {r.m, r.m, r.m, 0.0, 0.0, 0.0};
  return s;
}

inline Force operator*(const Inertia6& s, const Motion& m) {
  return {s.a * m.w + s.b * m.v, MulTransposed(s.b, m.w) + s.c * m.v};
}

// Column j of the 6 x 6 matrix as a force (0..2: angular columns, 3..5: linear ones).
inline Force Col(const Inertia6& s, int j) {
  if (j < 3) {
    return {Col(s.a, j), Row(s.b, j)};
  }
  return {Col(s.b, j - 3), Col(s.c, j - 3)};
}

// out = s + t, element by element (out may be s or t).
inline void Sum(const Inertia6& s, const Inertia6& t, Inertia6& out) {
  out.a = s.a + t.a;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.b.m[i][j] = s.b.m[i][j] + t.b.m[i][j];
    }
  }
  out.c = s.c + t.c;
}

// s - u u^T / d for a force column u.
inline Inertia6 Downdate(const Inertia6& s, const Force& u, double inverseD) {
  Inertia6 t;
  t.a = Downdate(s.a, u.n, inverseD);
  t.c = Downdate(s.c, u.f, inverseD);
  const Vec3 w = inverseD * u.f;
  for (int i = 0; i < 3; ++i) {
    const double ni = Get(u.n, i);
    t.b.m[i][0] = s.b.m[i][0] - ni * w.x;
    t.b.m[i][1] = s.b.m[i][1] - ni * w.y;
    t.b.m[i][2] = s.b.m[i][2] - ni * w.z;
  }
  return t;
}

// A child's inertia in the parent frame, X^T s X for the child's transform X: with the blocks
// turned into parent axes (a', b', c') and t = [p]x c', the parent sees
// c'' = c', b'' = b' + t, a'' = a' + [p]x b'^T - b' [p]x - t [p]x.
// Every element of o is written (o must not be s).
inline void ToParent(const Transform& x, const Inertia6& s, Inertia6& o) {
  const Mat3& r = x.r;
  const Vec3& p = x.p;
  o.c = Rotate(r, s.c);
  const Sym3 a = Rotate(r, s.a);
  // b' = r b r^T
  double rb[3][3], b[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      rb[i][j] = r.m[i][0] * s.b.m[0][j] + r.m[i][1] * s.b.m[1][j] + r.m[i][2] * s.b.m[2][j];
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      b[i][j] = rb[i][0] * r.m[j][0] + rb[i][1] * r.m[j][1] + rb[i][2] * r.m[j][2];
    }
  }
  // t = [p]x c' by columns; k = [p]x b'^T, whose column j is p x (row j of b'); w = t [p]x, whose
  // row i is (row i of t) x p.
  double t[3][3], k[3][3], w[3][3];
  for (int j = 0; j < 3; ++j) {
    const Vec3 tc = Cross(p, Col(o.c, j));
    t[0][j] = tc.x;
    t[1][j] = tc.y;
    t[2][j] = tc.z;
    const Vec3 kc = Cross(p, Vec3{b[j][0], b[j][1], b[j][2]});
    k[0][j] = kc.x;
    k[1][j] = kc.y;
    k[2][j] = kc.z;
  }
  for (int i = 0; i < 3; ++i) {
    const Vec3 wr = Cross(Vec3{t[i][0], t[i][1], t[i][2]}, p);
    w[i][0] = wr.x;
    w[i][1] = wr.y;
    w[i][2] = wr.z;
    for (int j = 0; j < 3; ++j) {
      o.b.m[i][j] = b[i][j] + t[i][j];
    }
  }
  // -b' [p]x has rows p x (row i of b'), the columns of k read as rows.
  const auto entry = [&](int i, int j) { return k[i][j] + k[j][i] - w[i][j]; };
  o.a = {a.xx + entry(0, 0), a.yy + entry(1, 1), a.zz + entry(2, 2),
         a.xy + entry(0, 1), a.xz + entry(0, 2), a.yz + entry(1, 2)};
}

}  // namespace spatial
