#pragma once
// A fixture for tests that feed bad input on purpose: error reports are
// swallowed instead of printed, and the error status starts and ends clear.
#include <gtest/gtest.h>

#include "cvcompat/errstatus.h"

class Quiet : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = cvcompat::SetErrorHandler([](const cvcompat::ErrorReport&) {});
    cvcompat::ClearErrStatus();
  }
  void TearDown() override {
    cvcompat::SetErrorHandler(previous_);
    cvcompat::ClearErrStatus();
  }
  cvcompat::ErrorHandler previous_;
};
