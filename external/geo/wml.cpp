#include "external/geo/wml.h"

#include <cmath>

namespace Wml {

template <class Real>
Matrix3<Real> Matrix3<Real>::FromEulerAnglesXYZ(Real omega, Real phi, Real kappa) {
  using std::cos;
  using std::sin;
  Base rx;
  rx << 1, 0, 0, 0, cos(omega), -sin(omega), 0, sin(omega), cos(omega);
  Base ry;
  ry << cos(phi), 0, sin(phi), 0, 1, 0, -sin(phi), 0, cos(phi);
  Base rz;
  rz << cos(kappa), -sin(kappa), 0, sin(kappa), cos(kappa), 0, 0, 0, 1;
  return Matrix3(rx * ry * rz);
}

template class Matrix3<double>;
template class Matrix3<float>;

}  // namespace Wml
