#include "geometry/ChainedHashMap.hpp"

namespace meshcodec::detail {

namespace {
bool isPrime(size_t n) {
  if (n < 2) return false;
  if (n % 2 == 0) return n == 2;
  for (size_t d = 3; d <= n / d; d += 2) {
    if (n % d == 0) return false;
  }
  return true;
}
}  // namespace

size_t nextPrimeAtLeast(size_t n) {
  if (n == 0) return 0;
  // Called only when a table grows, with n about twice its size: trial division up to
  // sqrt(n) is cheap next to the relinking that follows.
  while (!isPrime(n)) ++n;
  return n;
}

}  // namespace meshcodec::detail
