#pragma once

#include <string>

#include "platform/dshow/gst_filter.h"

// A V4L2 video capture device as a source filter: raw frames, 640x480 at 30
// frames a second where the device offers that, else what it offers. One
// output pin, "out". Made by the "@device:pnp:" display-name resolver for the
// device that a stored selection names (filters/camera_devices.h).
class V4l2Camera : public GstFilter {
 public:
  explicit V4l2Camera(std::string device_path);

  const std::string& DevicePath() const { return device_path_; }
  // Whether the GStreamer elements it needs were found.
  bool IsComplete() const { return complete_; }

 private:
  ~V4l2Camera() override;

  std::string device_path_;
  bool complete_ = false;
};

// Creates a camera on `device_path`, answering `riid`. No device is opened
// until the filter leaves the stopped state.
HRESULT CreateV4l2Camera(const std::string& device_path, REFIID riid, void** object);

// Resolver of "@device:pnp:..." names: the capture device whose USB ids the name
// carries, from the current device list. MK_E_SYNTAX for a name that is not a
// USB device path; MK_E_NOOBJECT when no such device is attached, and then no
// filter is made.
HRESULT ResolveCameraDisplayName(std::u16string_view display_name, REFIID riid, void** object);
