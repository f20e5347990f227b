#pragma once

#include <vector>

#include "filters/camera.h"
#include "filters/property_page_base.h"

class QTimer;

// The camera's page: the device (name, path, USB ids), the format it delivers,
// chosen from what the device offers (pixel format, then size, then rate), and
// the image controls the device has (brightness, contrast, …). Controls apply at
// once, also while the graph runs; the format only while it is stopped, and the
// page says so while it runs. Works through ICameraControls.
class CameraPage : public PropertyPageBase {
 public:
  CameraPage();

  // Looks again whether the camera runs (the page does so every second).
  void RefreshRunningState();

 private:
  struct ControlEditor {
    CameraControl control;  // its value: the one the device has
    QSpinBox* editor = nullptr;
  };

  HRESULT Attach(IUnknown* object) override;
  void Detach() override;
  void Build(QWidget* page, QVBoxLayout* layout) override;
  HRESULT ApplyChanges() override;
  void Unbuild() override;

  bool CameraRuns() const;
  void FillSizes();
  void FillRates();
  CameraFormat ChosenFormat() const;

  ComPtr<ICameraControls> camera_;
  ComPtr<IBaseFilter> filter_;  // for its state; may be empty

  std::vector<CameraFormat> offered_;
  CameraFormat applied_format_;

  // Owned by the page widget.
  QWidget* format_editors_ = nullptr;
  QComboBox* pixel_format_ = nullptr;
  QComboBox* size_ = nullptr;
  QComboBox* rate_ = nullptr;
  QLabel* running_note_ = nullptr;
  std::vector<ControlEditor> controls_;
  QTimer* timer_ = nullptr;
};
