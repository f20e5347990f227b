#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Unit1.h"
#include "support/test_layout.h"

// The main window with the real filters, made from a stored layout (the test
// pattern camera in place of the USB camera unless a test says otherwise).
class MediaWindowTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void Open(const std::string& layout = TestPatternLayout());

  // The frame number stamped into the picture that the main window shows over
  // its video area, if any.
  std::optional<std::uint16_t> ShownFrame() const;

  long live_at_start_ = 0;
  std::unique_ptr<TForm1> form_;
};
