#include <vnl/vnl_random.h>

#include <chrono>
#include <cmath>
#include <ctime>

vnl_random::vnl_random() { reseed(); }

vnl_random::vnl_random(unsigned long seed) { reseed(seed); }

void vnl_random::reseed() {
  // Seconds alone would repeat for generators made in the same second; mix in the
  // sub-second clock too.
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  reseed(static_cast<unsigned long>(std::time(nullptr)) ^ static_cast<unsigned long>(ticks));
}

void vnl_random::reseed(unsigned long seed) {
  std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(std::uint64_t(seed) >> 32)};
  engine_.seed(seq);
  has_spare_ = false;
}

unsigned long vnl_random::lrand32() { return static_cast<unsigned long>(engine_()); }

unsigned long vnl_random::lrand32(unsigned long upper) {
  if (upper >= 0xffffffffUL) return lrand32();
  // Rejection keeps every value equally likely: the top partial block of 2^32 is refused.
  const std::uint64_t span = std::uint64_t(upper) + 1;
  const std::uint64_t limit = (std::uint64_t(1) << 32) - ((std::uint64_t(1) << 32) % span);
  std::uint64_t v;
  do v = engine_(); while (v >= limit);
  return static_cast<unsigned long>(v % span);
}

int vnl_random::lrand32(int lower, int upper) {
  if (upper <= lower) return lower;
  const unsigned long span = static_cast<unsigned long>(static_cast<long long>(upper) - lower);
  return static_cast<int>(static_cast<long long>(lower) + static_cast<long long>(lrand32(span)));
}

double vnl_random::drand32(double lower, double upper) {
  return lower + (upper - lower) * (static_cast<double>(engine_()) / 4294967296.0);
}

double vnl_random::drand64(double lower, double upper) {
  const std::uint64_t hi = engine_() >> 5;  // 27 bits
  const std::uint64_t lo = engine_() >> 6;  // 26 bits
  const double u = static_cast<double>((hi << 26) | lo) / 9007199254740992.0;  // 2^53
  return lower + (upper - lower) * u;
}

double vnl_random::polar_normal(bool wide) {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double x, y, s;
  do {
    x = wide ? drand64(-1.0, 1.0) : drand32(-1.0, 1.0);
    y = wide ? drand64(-1.0, 1.0) : drand32(-1.0, 1.0);
    s = x * x + y * y;
  } while (s >= 1.0 || s == 0.0);
  const double f = std::sqrt(-2.0 * std::log(s) / s);
  spare_ = y * f;
  has_spare_ = true;
  return x * f;
}

double vnl_random::normal() { return polar_normal(false); }

double vnl_random::normal64() { return polar_normal(true); }
