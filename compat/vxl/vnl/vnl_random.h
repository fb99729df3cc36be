// vnl_random: a seedable pseudo-random generator with VXL's draw names.
#pragma once

#include <cstdint>
#include <random>

class vnl_random {
 public:
  // Seeded from the clock, so two programs started in different seconds differ.
  vnl_random();
  explicit vnl_random(unsigned long seed);

  // A fresh sequence seeded from the clock.
  void reseed();
  // The same seed always gives the same sequence.
  void reseed(unsigned long seed);

  // Uniform over all 32-bit values.
  unsigned long lrand32();
  // Uniform over the integers 0 .. upper, both ends included.
  unsigned long lrand32(unsigned long upper);
  // Uniform over the integers lower .. upper, both ends included.
  int lrand32(int lower, int upper);

  // Uniform in [lower, upper) from one 32-bit draw.
  double drand32(double lower, double upper);
  double drand32(double upper) { return drand32(0.0, upper); }
  double drand32() { return drand32(0.0, 1.0); }

  // Uniform in [lower, upper) from 53 random bits (two 32-bit draws).
  double drand64(double lower, double upper);
  double drand64(double upper) { return drand64(0.0, upper); }
  double drand64() { return drand64(0.0, 1.0); }

  // Standard normal (mean 0, sigma 1), from uniform draws of 32 and 64 bits respectively.
  double normal();
  double normal64();

 private:
  double polar_normal(bool wide);

  std::mt19937 engine_;
  // The polar method yields normals in pairs; the second waits here.
  bool has_spare_ = false;
  double spare_ = 0.0;
};
