#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Finding the V4L2 capture device that a stored camera selection names. A stored
// selection names a camera by a Plug and Play device path,
//   @device:pnp:\\?\usb#vid_046d&pid_0870#5&35bc3a4b&0&1#{65e8773d-...}\global
// of which only the USB vendor and product ids carry over to this machine: the
// instance part is another system's bookkeeping.

inline constexpr std::u16string_view kPnpDisplayNamePrefix = u"@device:pnp:";

// One video4linux node, as the device list reports it.
struct CaptureDevice {
  std::string path;          // /dev/videoN
  std::string name;          // the card's name
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  bool captures_video = false;  // metadata and output nodes do not
  std::string instance;      // the USB port path (1-2.3), for display names we make

  friend bool operator==(const CaptureDevice&, const CaptureDevice&) = default;
};

struct UsbIds {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  friend bool operator==(const UsbIds&, const UsbIds&) = default;
};

// The USB ids of a "@device:pnp:\\?\usb#vid_VVVV&pid_PPPP..." name (any case;
// exactly four hexadecimal digits each), or none for any other or malformed name.
std::optional<UsbIds> ParseUsbDisplayName(std::u16string_view display_name);

// The first video capture node (in the order given) whose USB ids match the name.
std::optional<CaptureDevice> MatchCaptureDevice(std::u16string_view display_name,
                                                const std::vector<CaptureDevice>& devices);

// The display name under which a device is offered to users and resolved again.
std::u16string DisplayNameOf(const CaptureDevice& device);

// The video4linux nodes attached now, from udev, sorted by path.
std::vector<CaptureDevice> ListCaptureDevices();

// Replaces the device list that the camera resolver consults (empty function:
// back to udev). For tests, which cannot plug a camera in.
using CaptureDeviceLister = std::function<std::vector<CaptureDevice>()>;
void SetCaptureDeviceListerForTesting(CaptureDeviceLister lister);
std::vector<CaptureDevice> CurrentCaptureDevices();
