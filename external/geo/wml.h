#pragma once
// Vector and matrix types of the orientation library, on Eigen.
#include <Eigen/Dense>

namespace Wml {

template <class Real>
using Vector3 = Eigen::Matrix<Real, 3, 1>;
template <class Real>
using Point3 = Eigen::Matrix<Real, 3, 1>;
template <class Real>
using Point2 = Eigen::Matrix<Real, 2, 1>;

template <class Real>
class Matrix3 : public Eigen::Matrix<Real, 3, 3> {
 public:
  using Base = Eigen::Matrix<Real, 3, 3>;
  Matrix3() : Base(Base::Identity()) {}
  template <class Other>
  Matrix3(const Eigen::MatrixBase<Other>& other) : Base(other) {}
  template <class Other>
  Matrix3& operator=(const Eigen::MatrixBase<Other>& other) {
    Base::operator=(other);
    return *this;
  }

  // Rx(omega) * Ry(phi) * Rz(kappa), radians; turns camera-frame vectors into ground-frame vectors.
  static Matrix3 FromEulerAnglesXYZ(Real omega, Real phi, Real kappa);
};

using Vector3d = Vector3<double>;
using Point3d = Point3<double>;
using Point2d = Point2<double>;
using Matrix3d = Matrix3<double>;

}  // namespace Wml
