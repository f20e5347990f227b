#pragma once

#include "filters/property_page_base.h"
#include "filters/test_pattern_camera.h"

class QCheckBox;
class QTimer;

// The test pattern camera's page: pattern, size, frame rate, pixel format and
// frame-number stamping, through ITestPatternSettings. The camera takes new
// settings only while it is stopped: while its graph runs the editors are
// locked and the page says so.
class TestPatternPage : public PropertyPageBase {
 public:
  TestPatternPage();

  // Looks again whether the camera runs (the page does so every second).
  void RefreshRunningState();

 private:
  HRESULT Attach(IUnknown* object) override;
  void Detach() override;
  void Build(QWidget* page, QVBoxLayout* layout) override;
  HRESULT ApplyChanges() override;
  void Unbuild() override;

  bool CameraRuns() const;

  ComPtr<ITestPatternSettings> settings_;
  ComPtr<IBaseFilter> filter_;  // for its state; may be empty

  // Owned by the page widget.
  QWidget* editors_ = nullptr;
  QComboBox* pattern_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
  QSpinBox* rate_numerator_ = nullptr;
  QSpinBox* rate_denominator_ = nullptr;
  QComboBox* format_ = nullptr;
  QCheckBox* stamping_ = nullptr;
  QLabel* running_note_ = nullptr;
  QTimer* timer_ = nullptr;
};
