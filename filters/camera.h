#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filters/camera_devices.h"
#include "platform/dshow/dialogs.h"
#include "platform/dshow/gst_filter.h"

// One raw format a capture device offers: a pixel format at a size and a rate.
struct CameraFormat {
  std::string pixel_format;  // GStreamer's name: "YUY2", "NV12", …; empty: the filter chooses
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t rate_numerator = 0;
  std::int32_t rate_denominator = 1;

  friend bool operator==(const CameraFormat&, const CameraFormat&) = default;
};

// An image control of the device (brightness, contrast, …) and its range.
struct CameraControl {
  std::string name;  // as the device labels it
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  std::int32_t value = 0;

  friend bool operator==(const CameraControl&, const CameraControl&) = default;
};

// Our own settings interface of the camera, for its property page.
struct ICameraControls : IUnknown {
  static constexpr IID iid = MakeGuid("{12BEC2D8-A752-486F-939C-390D47937C68}");
  // The device the filter captures from.
  virtual HRESULT GetDevice(CaptureDevice* device) = 0;
  // The raw formats the device offers, as its source pad reports them. While the
  // filter is stopped the device is opened for the question and closed again;
  // E_FAIL when it cannot be opened.
  virtual HRESULT GetFormats(std::vector<CameraFormat>* formats) = 0;
  // The format asked for; S_FALSE and an empty pixel format while the filter
  // chooses (640x480 at 30 frames a second where offered, else what is offered).
  virtual HRESULT GetFormat(CameraFormat* format) = 0;
  // Takes effect when the graph next starts; only while the filter is stopped
  // (VFW_E_NOT_STOPPED otherwise). An empty pixel format hands the choice back to
  // the filter; E_INVALIDARG for a format without a size or a rate.
  virtual HRESULT SetFormat(const CameraFormat& format) = 0;
  // The device's image controls and their values now (opened as above).
  virtual HRESULT GetControls(std::vector<CameraControl>* controls) = 0;
  // Sets a control on the device at once, also while it captures (the driver
  // keeps the value after it is closed). E_INVALIDARG for a name the device does
  // not have or a value out of its range.
  virtual HRESULT SetControl(const std::string& name, std::int32_t value) = 0;
};

// A V4L2 video capture device as a source filter: raw frames, 640x480 at 30
// frames a second where the device offers that, else what it offers, or the
// format chosen on its page. One output pin, "out". Made by the "@device:pnp:"
// display-name resolver for the device that a stored selection names
// (filters/camera_devices.h). Its image controls go through GStreamer's
// colour-balance interface of v4l2src.
class V4l2Camera : public ComExtends<GstFilter, ICameraControls, ISpecifyPropertyPages> {
 public:
  explicit V4l2Camera(CaptureDevice device);

  const std::string& DevicePath() const { return device_.path; }
  // Whether the GStreamer elements it needs were found.
  bool IsComplete() const { return complete_; }

  // ICameraControls
  HRESULT GetDevice(CaptureDevice* device) override;
  HRESULT GetFormats(std::vector<CameraFormat>* formats) override;
  HRESULT GetFormat(CameraFormat* format) override;
  HRESULT SetFormat(const CameraFormat& format) override;
  HRESULT GetControls(std::vector<CameraControl>* controls) override;
  HRESULT SetControl(const std::string& name, std::int32_t value) override;
  // ISpecifyPropertyPages: the camera page.
  HRESULT GetPages(CAUUID* pages) override;

 private:
  ~V4l2Camera() override;
  bool IsStopped();
  // The filter's own source while it has the device open, else a new source
  // opened on the device for a question (null when it cannot be opened).
  GstElementRef OpenSource();

  CaptureDevice device_;
  bool complete_ = false;
  GstElement* source_ = nullptr;       // borrowed: owned by the filter's bin
  GstElement* caps_filter_ = nullptr;  // borrowed: owned by the filter's bin
  CameraFormat format_;                // empty pixel format: the filter chooses
};

// Creates a camera on `device_path` (or the device described), answering `riid`.
// No device is opened until the filter leaves the stopped state.
HRESULT CreateV4l2Camera(const std::string& device_path, REFIID riid, void** object);
HRESULT CreateV4l2Camera(const CaptureDevice& device, REFIID riid, void** object);

// Resolver of "@device:pnp:..." names: the capture device whose USB ids the name
// carries, from the current device list. MK_E_SYNTAX for a name that is not a
// USB device path; MK_E_NOOBJECT when no such device is attached, and then no
// filter is made.
HRESULT ResolveCameraDisplayName(std::u16string_view display_name, REFIID riid, void** object);

// The raw formats in `caps` as v4l2src's pad reports them: one per pixel format,
// size and rate, in the order given, without repeats. Structures that give a
// range of sizes are left out; a range of rates gives its two ends.
std::vector<CameraFormat> RawFormatsOf(const GstCaps* caps);
