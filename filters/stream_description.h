#pragma once

#include "platform/com/unknown.h"

// The session description (SDP) a network sender publishes for its stream, for
// its property page: what FFmpeg, VLC or GStreamer need to play the stream.
struct IStreamDescription : IUnknown {
  static constexpr IID iid = MakeGuid("{44793ADB-48D0-49AF-84CB-C0618A3A1D6A}");
  // The text published now, UTF-8 and zero-terminated in task memory (free it
  // with CoTaskMemFree). S_FALSE and null while none is published (the sender
  // needs an endpoint and the stream's configuration first).
  virtual HRESULT GetDescription(char** text) = 0;
};
