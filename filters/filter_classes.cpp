#include "filters/filter_classes.h"

#include "filters/camera.h"
#include "filters/camera_devices.h"
#include "filters/mpeg4_decoder.h"
#include "filters/mpeg4_encoder.h"
#include "filters/network_filters.h"
#include "filters/property_pages.h"
#include "filters/test_pattern_camera.h"
#include "filters/video_renderer.h"
#include "platform/com/com.h"
#include "platform/com/storage.h"
#include "platform/dshow/graph.h"

// Registering replaces what was there, so a second call leaves the same state.
void RegisterPresenterLinkClasses() {
  RegisterGraphClasses();
  RegisterNetworkClasses();
  RegisterVideoRendererClass();
  RegisterPropertyPageClasses();

  RegisterClass(CLSID_TestPatternCamera, "Test Pattern Camera", CreateTestPatternCamera);
  RegisterClass(CLSID_Mpeg4Encoder, "Xvid MPEG-4 Codec", CreateMpeg4Encoder);
  RegisterClass(CLSID_Mpeg4Decoder, kMpeg4DecoderFriendlyName, CreateMpeg4Decoder);

  // A camera is reached only through its device's display name: the class alone
  // does not say which device.
  RegisterDisplayNameResolver(std::u16string(kPnpDisplayNamePrefix), ResolveCameraDisplayName);
  RegisterDisplayNameResolver(u"@device:cm:", ResolveCompressorDisplayName);
}
