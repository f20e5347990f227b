#include "filters/mpeg4_decoder.h"

#include "filters/filter_classes.h"

Mpeg4Decoder::Mpeg4Decoder() : ComExtends(CLSID_Mpeg4Decoder) {
  EnsureGStreamer();
  GstElement* bin = gst_bin_new(nullptr);
  // avdec_mpeg4 reads the configuration headers in band, so no parser is needed.
  // The caps filter keeps the input to MPEG-4 Visual elementary streams (the
  // decoder would take DivX-tagged streams too).
  GstElement* input = gst_element_factory_make("capsfilter", nullptr);
  GstElement* decoder = gst_element_factory_make("avdec_mpeg4", nullptr);
  if (input && decoder) {
    gst_bin_add_many(GST_BIN(bin), input, decoder, nullptr);
    GstCapsRef caps = GstCapsRef::Adopt(
        gst_caps_from_string("video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"));
    g_object_set(input, "caps", caps.get(), nullptr);
    g_object_set(decoder, "max-threads", 1, "output-corrupt", FALSE, "discard-corrupted-frames",
                 TRUE, nullptr);
    if (gst_element_link(input, decoder)) {
      GstPadRef sink = GstPadRef::Adopt(gst_element_get_static_pad(input, "sink"));
      GstPadRef src = GstPadRef::Adopt(gst_element_get_static_pad(decoder, "src"));
      gst_element_add_pad(bin, gst_ghost_pad_new("in", sink.get()));
      gst_element_add_pad(bin, gst_ghost_pad_new("out", src.get()));
      complete_ = true;
    }
  } else {
    if (input) gst_object_unref(gst_object_ref_sink(input));
    if (decoder) gst_object_unref(gst_object_ref_sink(decoder));
  }
  SetElement(bin);
}

Mpeg4Decoder::~Mpeg4Decoder() = default;

HRESULT Mpeg4Decoder::ShowDialog(int /*dialog*/, OAHWND /*window*/) { return E_NOTIMPL; }

HRESULT CreateMpeg4Decoder(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto decoder = MakeComObject<Mpeg4Decoder>();
  if (!decoder->IsComplete()) return REGDB_E_CLASSNOTREG;
  return decoder->QueryInterface(riid, object);
}
