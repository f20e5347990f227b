#include "filters/camera_devices.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/com/com.h"

namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

// Case-insensitive: consumes `literal` from the front of `text`.
bool Consume(std::u16string_view& text, std::u16string_view literal) {
  if (text.size() < literal.size()) return false;
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (Lower(text[i]) != Lower(literal[i])) return false;
  }
  text.remove_prefix(literal.size());
  return true;
}

std::optional<std::uint16_t> ConsumeHex4(std::u16string_view& text) {
  if (text.size() < 4) return std::nullopt;
  std::uint16_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const char16_t c = Lower(text[i]);
    int digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else {
      return std::nullopt;
    }
    value = static_cast<std::uint16_t>(value * 16 + digit);
  }
  text.remove_prefix(4);
  return value;
}

std::optional<std::uint16_t> HexAttribute(const char* text) {
  if (!text) return std::nullopt;
  const std::u16string wide = Utf8ToUtf16(text);
  std::u16string_view view = wide;
  auto value = ConsumeHex4(view);
  if (!value || !view.empty()) return std::nullopt;
  return value;
}

// udev's v4l_id writes ID_V4L_CAPABILITIES (":capture:" for capture nodes);
// where no rule ran, ask the driver.
bool CapturesVideo(udev_device* device, const char* node) {
  if (const char* caps = udev_device_get_property_value(device, "ID_V4L_CAPABILITIES")) {
    return std::string_view(caps).find(":capture:") != std::string_view::npos;
  }
  const int fd = ::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  v4l2_capability capability{};
  const bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
  ::close(fd);
  if (!ok) return false;
  const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS)
                                 ? capability.device_caps
                                 : capability.capabilities;
  return (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::mutex lister_mutex;
CaptureDeviceLister& Lister() {
  static CaptureDeviceLister lister;  // guarded by lister_mutex
  return lister;
}

}  // namespace

std::optional<UsbIds> ParseUsbDisplayName(std::u16string_view name) {
  if (!Consume(name, kPnpDisplayNamePrefix)) return std::nullopt;
  if (!Consume(name, u"\\\\?\\usb#vid_")) return std::nullopt;
  const auto vendor = ConsumeHex4(name);
  if (!vendor || !Consume(name, u"&pid_")) return std::nullopt;
  const auto product = ConsumeHex4(name);
  if (!product) return std::nullopt;
  // The hardware id ends here, or goes on with more "&..." (an interface of a
  // composite device) before the instance after '#'.
  if (!name.empty() && name.front() != u'#' && name.front() != u'&') return std::nullopt;
  return UsbIds{*vendor, *product};
}

std::optional<CaptureDevice> MatchCaptureDevice(std::u16string_view display_name,
                                                const std::vector<CaptureDevice>& devices) {
  const auto ids = ParseUsbDisplayName(display_name);
  if (!ids) return std::nullopt;
  for (const CaptureDevice& device : devices) {
    if (device.captures_video && device.vendor_id == ids->vendor_id &&
        device.product_id == ids->product_id) {
      return device;
    }
  }
  return std::nullopt;
}

std::u16string DisplayNameOf(const CaptureDevice& device) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", device.vendor_id, device.product_id);
  std::string instance = device.instance.empty() ? device.path : device.instance;
  // '#' and '\' separate the parts of the name.
  std::replace(instance.begin(), instance.end(), '#', '&');
  std::replace(instance.begin(), instance.end(), '\\', '&');
  std::replace(instance.begin(), instance.end(), '/', '&');
  return std::u16string(kPnpDisplayNamePrefix) + u"\\\\?\\usb#" + Utf8ToUtf16(ids) + u"#" +
         Utf8ToUtf16(instance) + u"#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

std::vector<CaptureDevice> ListCaptureDevices() {
  std::vector<CaptureDevice> devices;
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return devices;
  std::unique_ptr<udev_enumerate, UdevDeleter> enumerate(udev_enumerate_new(context.get()));
  if (!enumerate) return devices;
  udev_enumerate_add_match_subsystem(enumerate.get(), "video4linux");
  udev_enumerate_scan_devices(enumerate.get());
  for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry;
       entry = udev_list_entry_get_next(entry)) {
    std::unique_ptr<udev_device, UdevDeleter> device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!device) continue;
    const char* node = udev_device_get_devnode(device.get());
    if (!node) continue;
    // Borrowed from `device`, which keeps its parents.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
    if (!usb) continue;  // not a USB camera: a stored selection cannot name it
    const auto vendor = HexAttribute(udev_device_get_sysattr_value(usb, "idVendor"));
    const auto product = HexAttribute(udev_device_get_sysattr_value(usb, "idProduct"));
    if (!vendor || !product) continue;
    CaptureDevice info;
    info.path = node;
    const char* name = udev_device_get_property_value(device.get(), "ID_V4L_PRODUCT");
    if (!name) name = udev_device_get_sysattr_value(device.get(), "name");
    info.name = name ? name : node;
    info.vendor_id = *vendor;
    info.product_id = *product;
    info.captures_video = CapturesVideo(device.get(), node);
    if (const char* port = udev_device_get_sysname(usb)) info.instance = port;
    devices.push_back(std::move(info));
  }
  std::sort(devices.begin(), devices.end(),
            [](const CaptureDevice& a, const CaptureDevice& b) {
              // /dev/video2 before /dev/video10
              if (a.path.size() != b.path.size()) return a.path.size() < b.path.size();
              return a.path < b.path;
            });
  return devices;
}

void SetCaptureDeviceListerForTesting(CaptureDeviceLister lister) {
  std::lock_guard lock(lister_mutex);
  Lister() = std::move(lister);
}

std::vector<CaptureDevice> CurrentCaptureDevices() {
  CaptureDeviceLister lister;
  {
    std::lock_guard lock(lister_mutex);
    lister = Lister();
  }
  return lister ? lister() : ListCaptureDevices();
}
