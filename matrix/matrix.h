// matrix<T>: the dense, reference-counted matrix that carries every vector and matrix of Velmoth.
//
// A handle is one pointer to a shared MatrixRep. Copies share the representation; the first change
// through a handle gives it a private copy (copy on write). Elements are addressed 0-based as
// (row, col) through rowPtr, never computed from data, because inversion exchanges row pointers.
// Misuse (an index out of range, mismatched shapes, a singular inversion) is fatal: MatrixFatal
// prints one line on standard output and ends the process with status 1. Code that inverts what
// its input made, which may be singular, calls TryInverse and decides itself.
//
// The order of every floating-point operation below is part of the contract: results are compared
// bit for bit with other builds, so loops and operand orders must not be rearranged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "matrix/matrix_block.h"

// Writes message and an end of line to standard output and exits with status 1.
[[noreturn]] void MatrixFatal(const char* message);

inline constexpr const char kMatrixIndexMessage[] = "matrix<T>::operator(): Index out of range!";
inline constexpr const char kMatrixAddMessage[] =
    "matrix<T>::operator+= : Inconsistent matrix sizes in addition!";
inline constexpr const char kMatrixSubtractMessage[] =
    "matrix<T>::operator-= : Inconsistent matrix sizes in subtraction!";
inline constexpr const char kMatrixMultiplyMessage[] =
    "matrix<T>::operator*= : Inconsistent matrix sizes in multiplication!";
inline constexpr const char kMatrixNonSquareMessage[] =
    "matrix<T>::operator!: Inversion of a non-square matrix";
inline constexpr const char kMatrixSingularMessage[] =
    "matrix<T>::operator!: Inversion of a singular matrix";

template <typename T>
struct MatrixRep {
  T** rowPtr;          // allocRows entries; entry i points at the first element of row i
  T* data;             // allocRows x allocCols elements in one block
  uint32_t rows;       // logical row count
  uint32_t cols;       // logical column count
  uint32_t allocRows;  // row count the storage was made for
  uint32_t allocCols;  // column count the storage was made for
  int32_t refCount;    // number of handles holding this representation
};

template <typename T>
class matrix;

template <typename T>
matrix<T> operator!(matrix<T> m);

template <typename T>
bool TryInverse(const matrix<T>& m, matrix<T>& inverse);

template <typename T>
class matrix {
 public:
  matrix(uint32_t rows, uint32_t cols) : rep_(NewRep(rows, cols)) {}
  explicit matrix(uint32_t rows) : rep_(NewRep(rows, 1)) {}
  matrix() : rep_(NewRep(1, 1)) {}
  matrix(const matrix& other) : rep_(other.rep_) { ++rep_->refCount; }
  ~matrix() { Release(rep_); }

  // Gains the other representation before releasing its own, so assigning between two handles
  // that already share one representation never frees it.
  matrix& operator=(const matrix& other) {
    if (this == &other) {
      return *this;
    }
    ++other.rep_->refCount;
    Release(rep_);
    rep_ = other.rep_;
    return *this;
  }

  uint32_t RowCount() const { return rep_->rows; }
  uint32_t ColCount() const { return rep_->cols; }

  // Modifiable access: bounds test, then a private copy if shared (even when only read).
  T& operator()(uint32_t row, uint32_t col) {
    if (!(row < rep_->rows) || !(col < rep_->cols)) {
      MatrixFatal(kMatrixIndexMessage);
    }
    if (rep_->refCount > 1) {
      Detach();
    }
    return rep_->rowPtr[row][col];
  }

  // Read-only access: bounds test only; never detaches.
  T operator()(uint32_t row, uint32_t col) const {
    if (!(row < rep_->rows) || !(col < rep_->cols)) {
      MatrixFatal(kMatrixIndexMessage);
    }
    return rep_->rowPtr[row][col];
  }

  void SetZero() {
    if (rep_->refCount > 1) {
      Detach();
    }
    for (uint32_t i = 0; i < rep_->rows; ++i) {
      T* row = rep_->rowPtr[i];
      for (uint32_t j = 0; j < rep_->cols; ++j) {
        row[j] = T(0);
      }
    }
  }

  // Shrinks the logical shape to min(rows, cols) in place, then writes the identity.
  void SetIdentity() {
    if (rep_->refCount > 1) {
      Detach();
    }
    const uint32_t n = rep_->rows < rep_->cols ? rep_->rows : rep_->cols;
    rep_->rows = n;
    rep_->cols = n;
    for (uint32_t i = 0; i < n; ++i) {
      T* row = rep_->rowPtr[i];
      for (uint32_t j = 0; j < n; ++j) {
        row[j] = i == j ? T(1) : T(0);
      }
    }
  }

  // Keeps the top-left block of the former logical shape and zeroes everything else. Other
  // holders of a shared representation never see the change.
  void Resize(uint32_t newRows, uint32_t newCols) {
    const uint32_t r0 = rep_->rows;
    const uint32_t c0 = rep_->cols;
    if (rep_->refCount == 1 && newRows == rep_->allocRows && newCols == rep_->allocCols) {
      rep_->rows = rep_->allocRows;
      rep_->cols = rep_->allocCols;
    } else {
      Reallocate(newRows, newCols);
    }
    for (uint32_t i = r0; i < newRows; ++i) {
      T* row = rep_->rowPtr[i];
      for (uint32_t j = 0; j < newCols; ++j) {
        row[j] = T(0);
      }
    }
    for (uint32_t i = 0; i < newRows; ++i) {
      T* row = rep_->rowPtr[i];
      for (uint32_t j = c0; j < newCols; ++j) {
        row[j] = T(0);
      }
    }
  }

  // this(i, j) = m(i, j) + this(i, j)
  matrix& operator+=(const matrix& m) {
    if (rep_->rows != m.rep_->rows || rep_->cols != m.rep_->cols) {
      MatrixFatal(kMatrixAddMessage);
    }
    if (rep_->refCount > 1) {
      Detach();
    }
    const MatrixRep<T>* mr = m.rep_;
    for (uint32_t i = 0; i < rep_->rows; ++i) {
      T* row = rep_->rowPtr[i];
      const T* mrow = mr->rowPtr[i];
      for (uint32_t j = 0; j < rep_->cols; ++j) {
        row[j] = mrow[j] + row[j];
      }
    }
    return *this;
  }

  // this(i, j) = this(i, j) - m(i, j)
  matrix& operator-=(const matrix& m) {
    if (rep_->rows != m.rep_->rows || rep_->cols != m.rep_->cols) {
      MatrixFatal(kMatrixSubtractMessage);
    }
    if (rep_->refCount > 1) {
      Detach();
    }
    const MatrixRep<T>* mr = m.rep_;
    for (uint32_t i = 0; i < rep_->rows; ++i) {
      T* row = rep_->rowPtr[i];
      const T* mrow = mr->rowPtr[i];
      for (uint32_t j = 0; j < rep_->cols; ++j) {
        row[j] = row[j] - mrow[j];
      }
    }
    return *this;
  }

  // R(i, j) = sum over k ascending of m(k, j) * this(i, k), starting from 0. Always builds a new
  // representation, so other holders keep the former value and A *= A squares A.
  matrix& operator*=(const matrix& m) {
    const MatrixRep<T>* a = rep_;
    const MatrixRep<T>* b = m.rep_;
    if (a->cols != b->rows) {
      MatrixFatal(kMatrixMultiplyMessage);
    }
    MatrixRep<T>* r = NewRep(a->rows, b->cols);
    const uint32_t inner = a->cols;
    const uint32_t outCols = b->cols;
    T* const* bRows = b->rowPtr;
    for (uint32_t i = 0; i < a->rows; ++i) {
      const T* aRow = a->rowPtr[i];
      T* rRow = r->rowPtr[i];
      for (uint32_t j = 0; j < outCols; ++j) {
        T sum = T(0);
        for (uint32_t k = 0; k < inner; ++k) {
          sum = sum + bRows[k][j] * aRow[k];
        }
        rRow[j] = sum;
      }
    }
    Release(rep_);
    rep_ = r;
    return *this;
  }

  // this(i, j) = x * this(i, j)
  matrix& operator*=(T x) {
    if (rep_->refCount > 1) {
      Detach();
    }
    for (uint32_t i = 0; i < rep_->rows; ++i) {
      T* row = rep_->rowPtr[i];
      for (uint32_t j = 0; j < rep_->cols; ++j) {
        row[j] = x * row[j];
      }
    }
    return *this;
  }

  // Whether two handles hold one representation, and how many handles hold this one; for tests and
  // diagnostics of sharing.
  bool SharesWith(const matrix& other) const { return rep_ == other.rep_; }
  int32_t HolderCount() const { return rep_->refCount; }

  friend bool TryInverse<T>(const matrix<T>& m, matrix<T>& inverse);

 private:
  static MatrixRep<T>* NewRep(uint32_t rows, uint32_t cols) {
    void* block = MatrixBlockAcquire(MatrixBlockWords<T>(rows, cols));
    auto* rep = static_cast<MatrixRep<T>*>(block);
    auto* rowPtr = reinterpret_cast<T**>(static_cast<unsigned char*>(block) + sizeof(MatrixRep<T>));
    T* data = reinterpret_cast<T*>(rowPtr + rows);
    for (uint32_t i = 0; i < rows; ++i) {
      rowPtr[i] = data + static_cast<std::size_t>(i) * cols;
    }
    rep->rowPtr = rowPtr;
    rep->data = data;
    rep->rows = rows;
    rep->cols = cols;
    rep->allocRows = rows;
    rep->allocCols = cols;
    rep->refCount = 1;
    return rep;
  }

  static void Release(MatrixRep<T>* rep) {
    if (--rep->refCount == 0) {
      MatrixBlockRelease(rep, MatrixBlockWords<T>(rep->allocRows, rep->allocCols));
    }
  }

  // Copy on write: a private representation of the logical shape, rows in logical order.
  void Detach() {
    MatrixRep<T>* old = rep_;
    --old->refCount;
    MatrixRep<T>* fresh = NewRep(old->rows, old->cols);
    for (uint32_t i = 0; i < old->rows; ++i) {
      const T* src = old->rowPtr[i];
      T* dst = fresh->rowPtr[i];
      for (uint32_t j = 0; j < old->cols; ++j) {
        dst[j] = src[j];
      }
    }
    rep_ = fresh;
  }

  // New storage of the given shape keeping the overlapping block of the logical shape; the new
  // elements are left for Resize to zero.
  void Reallocate(uint32_t newRows, uint32_t newCols) {
    MatrixRep<T>* old = rep_;
    MatrixRep<T>* fresh = NewRep(newRows, newCols);
    const uint32_t keepRows = old->rows < newRows ? old->rows : newRows;
    const uint32_t keepCols = old->cols < newCols ? old->cols : newCols;
    for (uint32_t i = 0; i < keepRows; ++i) {
      const T* src = old->rowPtr[i];
      T* dst = fresh->rowPtr[i];
      for (uint32_t j = 0; j < keepCols; ++j) {
        dst[j] = src[j];
      }
    }
    Release(old);
    rep_ = fresh;
  }

  // Chooses the pivot of column k of w and exchanges it into row k by row pointer. Returns -1 when
  // the column is zero from row k down, k when no exchange happened, else the exchanged row.
  static int64_t PivotRow(MatrixRep<T>* w, uint32_t k) {
    T best = T(-1);
    uint32_t p = k;
    for (uint32_t r = k; r < w->rows; ++r) {
      const T v = w->rowPtr[r][k];
      const T a = v < T(0) ? -v : v;
      if (a > best && a != T(0)) {
        best = a;
        p = r;
      }
    }
    if (w->rowPtr[p][k] == T(0)) {
      return -1;
    }
    if (p == k) {
      return k;
    }
    T* tmp = w->rowPtr[p];
    w->rowPtr[p] = w->rowPtr[k];
    w->rowPtr[k] = tmp;
    return p;
  }

  MatrixRep<T>* rep_;
};

// a + b, shape of a.
template <typename T>
matrix<T> operator+(const matrix<T>& a, const matrix<T>& b) {
  matrix<T> r(a);
  r += b;
  return r;
}

// a - b, shape of a.
template <typename T>
matrix<T> operator-(const matrix<T>& a, const matrix<T>& b) {
  matrix<T> r(a);
  r -= b;
  return r;
}

// a x b.
template <typename T>
matrix<T> operator*(const matrix<T>& a, const matrix<T>& b) {
  matrix<T> r(a);
  r *= b;
  return r;
}

// x * m(i, j) for every element.
template <typename T>
matrix<T> operator*(const matrix<T>& m, T x) {
  matrix<T> r(m);
  r *= x;
  return r;
}

template <typename T>
matrix<T> operator*(T x, const matrix<T>& m) {
  return m * x;
}

// t(j, i) = m(i, j); m is read without detaching.
template <typename T>
matrix<T> Transpose(const matrix<T>& m) {
  const uint32_t rows = m.RowCount();
  const uint32_t cols = m.ColCount();
  matrix<T> t(cols, rows);
  for (uint32_t i = 0; i < rows; ++i) {
    for (uint32_t j = 0; j < cols; ++j) {
      t(j, i) = m(i, j);
    }
  }
  return t;
}

// A new 4 x 4 identity.
template <typename T = double>
matrix<T> Identity4() {
  matrix<T> m(4, 4);
  m.SetIdentity();
  return m;
}

// (m(0, k), m(1, k), m(2, k)), read through the modifiable access (a shared m is detached).
template <typename T>
matrix<T> Column3(matrix<T>& m, uint32_t k) {
  matrix<T> v(3);
  for (uint32_t i = 0; i < 3; ++i) {
    v(i, 0) = m(i, k);
  }
  return v;
}

// Inverse by Gauss-Jordan elimination with partial pivoting; rows are exchanged by pointer in the
// working copy and in the result alike. Only an exactly zero pivot column counts as singular: then
// false, and inverse is left as it was. m must be square (else fatal).
template <typename T>
bool TryInverse(const matrix<T>& m, matrix<T>& inverse) {
  const uint32_t n = m.rep_->rows;
  if (m.rep_->rows != m.rep_->cols) {
    MatrixFatal(kMatrixNonSquareMessage);
  }
  matrix<T> r(n, n);
  matrix<T> w(m);
  w.Detach();
  r.SetIdentity();
  MatrixRep<T>* wr = w.rep_;
  MatrixRep<T>* rr = r.rep_;
  for (uint32_t k = 0; k < n; ++k) {
    const int64_t p = matrix<T>::PivotRow(wr, k);
    if (p < 0) {
      return false;
    }
    if (p != k) {
      T* tmp = rr->rowPtr[p];
      rr->rowPtr[p] = rr->rowPtr[k];
      rr->rowPtr[k] = tmp;
    }
    T* wk = wr->rowPtr[k];
    T* rk = rr->rowPtr[k];
    const T d = wk[k];
    for (uint32_t j = 0; j < n; ++j) {
      wk[j] = wk[j] / d;
      rk[j] = rk[j] / d;
    }
    for (uint32_t row = 0; row < n; ++row) {
      if (row == k) {
        continue;
      }
      T* wrow = wr->rowPtr[row];
      T* rrow = rr->rowPtr[row];
      const T f = wrow[k];
      for (uint32_t l = 0; l < n; ++l) {
        wrow[l] = wrow[l] - wk[l] * f;
        rrow[l] = rrow[l] - rk[l] * f;
      }
    }
  }
  inverse = r;
  return true;
}

// The inverse as TryInverse forms it; a singular m is fatal.
template <typename T>
matrix<T> operator!(matrix<T> m) {
  matrix<T> r(0, 0);
  if (!TryInverse(m, r)) {
    MatrixFatal(kMatrixSingularMessage);
  }
  return r;
}
