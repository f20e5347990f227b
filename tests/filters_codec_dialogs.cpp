#include "filters/encoder_dialog.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>

#include <memory>
#include <string>
#include <vector>

#include "filters/filter_classes.h"
#include "filters/mpeg4_decoder.h"
#include "filters/mpeg4_encoder.h"
#include "platform/dshow/gst_filter.h"
#include "property_page_testing.h"

// The codec dialogs: the encoder's configuration dialog and its effect on a
// running stream, and the decoder, which has none.

namespace {

struct Encoded {
  bool keyframe = false;
  std::vector<std::uint8_t> bytes;
};

bool StartsWithConfig(const std::vector<std::uint8_t>& bytes) {
  // Visual object sequence first, and a video object layer (00 00 01 2x) before the picture.
  if (bytes.size() < 4 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 || bytes[3] != 0xB0) {
    return false;
  }
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
      if ((bytes[i + 3] & 0xF0) == 0x20) return true;
      if (bytes[i + 3] == 0xB6) return false;
    }
  }
  return false;
}

// Bits a second of `frames` at 30 frames a second.
double BitRateOf(const std::vector<Encoded>& frames) {
  double bytes = 0;
  for (const Encoded& f : frames) bytes += static_cast<double>(f.bytes.size());
  return bytes * 8 * 30 / static_cast<double>(frames.size());
}

class CodecDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CoInitialize(nullptr);
    RegisterPresenterLinkClasses();
    live_at_start_ = ComLiveObjectCount();
    ASSERT_EQ(CoCreateInstance(CLSID_Mpeg4Encoder, &encoder_), S_OK);
    ASSERT_EQ(encoder_.As(&dialogs_), S_OK);
    ASSERT_EQ(encoder_.As(&settings_), S_OK);
    owner_ = std::make_unique<QWidget>();
    owner_->show();
  }
  void TearDown() override {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog was left open";
    if (pipeline_) {
      gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
      gst_bin_remove(GST_BIN(pipeline_.get()), ElementOfFilter(encoder_.Get()));
    }
    src_.Reset();
    sink_.Reset();
    pipeline_.Reset();
    settings_ = nullptr;
    dialogs_ = nullptr;
    encoder_ = nullptr;
    owner_.reset();
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  OAHWND Owner() const { return reinterpret_cast<OAHWND>(owner_.get()); }

  Mpeg4EncoderSettings Current() {
    Mpeg4EncoderSettings s;
    EXPECT_EQ(settings_->GetSettings(&s), S_OK);
    return s;
  }

  // appsrc (I420 640x480 at 30) ! encoder ! appsink, playing.
  void Run() {
    pipeline_ = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* encoder = ElementOfFilter(encoder_.Get());
    gst_bin_add_many(GST_BIN(pipeline_.get()), src, encoder, sink, nullptr);
    ASSERT_TRUE(gst_element_link_many(src, encoder, sink, nullptr));
    src_ = GstElementRef::Share(src);
    sink_ = GstElementRef::Share(sink);
    GstCapsRef caps = GstCapsRef::Adopt(
        gst_caps_from_string("video/x-raw,format=I420,width=640,height=480,framerate=30/1"));
    g_object_set(src, "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }

  // Pushes `count` frames of a moving pattern and takes as many encoded ones.
  // The pattern needs about 330 kbit/s at the coarsest quantizer and about
  // 2 Mbit/s at the finest: rates in between show.
  std::vector<Encoded> Encode(int count) {
    constexpr int kWidth = 640;
    constexpr int kHeight = 480;
    constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;
    for (int n = 0; n < count; ++n, ++pushed_) {
      GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kLuma * 3 / 2, nullptr);
      GstMapInfo map;
      gst_buffer_map(buffer, &map, GST_MAP_WRITE);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          map.data[y * kWidth + x] = static_cast<std::uint8_t>(((x + 3 * pushed_) ^ (y + pushed_)) & 0xFF);
        }
      }
      std::fill(map.data + kLuma, map.data + kLuma * 3 / 2, 128);
      gst_buffer_unmap(buffer, &map);
      GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(static_cast<guint64>(pushed_), GST_SECOND, 30);
      GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
      EXPECT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_.get()), buffer), GST_FLOW_OK);
    }
    std::vector<Encoded> frames;
    while (frames.size() < static_cast<std::size_t>(count)) {
      GstSampleRef sample = GstSampleRef::Adopt(
          gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), 10 * GST_SECOND));
      if (!sample) break;
      GstBuffer* buffer = gst_sample_get_buffer(sample.get());
      Encoded frame{!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT),
                    std::vector<std::uint8_t>(gst_buffer_get_size(buffer))};
      gst_buffer_extract(buffer, 0, frame.bytes.data(), frame.bytes.size());
      frames.push_back(std::move(frame));
    }
    return frames;
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> encoder_;
  ComPtr<IAMVfwCompressDialogs> dialogs_;
  ComPtr<IMpeg4EncoderSettings> settings_;
  std::unique_ptr<QWidget> owner_;
  GstElementRef pipeline_;
  GstElementRef src_;
  GstElementRef sink_;
  int pushed_ = 0;
};

struct QuestionCase {
  const char* name;
  int code;
  bool with_window;
  HRESULT encoder;
  HRESULT decoder;
};

class CodecQuestionTest : public CodecDialogTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(CodecQuestionTest, AnswersWithoutShowingAnything) {
  ComPtr<IBaseFilter> decoder;
  ASSERT_EQ(CoCreateInstance(CLSID_Mpeg4Decoder, &decoder), S_OK);
  ComPtr<IAMVfwCompressDialogs> decoder_dialogs;
  ASSERT_EQ(decoder.As(&decoder_dialogs), S_OK);
  const OAHWND window = GetParam().with_window ? Owner() : 0;
  ModalDialogWatch watch;
  EXPECT_EQ(dialogs_->ShowDialog(GetParam().code, window), GetParam().encoder);
  EXPECT_EQ(decoder_dialogs->ShowDialog(GetParam().code, window), GetParam().decoder);
  QCoreApplication::processEvents();
  EXPECT_EQ(watch.Shown(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CodecQuestionTest,
    ::testing::Values(
        // Only the encoder has a configuration dialog; neither has an about box.
        QuestionCase{"HasConfigDialog", VfwCompressDialog_QueryConfig, false, S_OK, E_NOTIMPL},
        QuestionCase{"HasAboutBox", VfwCompressDialog_QueryAbout, false, E_NOTIMPL, E_NOTIMPL},
        QuestionCase{"ShowAboutBox", VfwCompressDialog_About, true, E_NOTIMPL, E_NOTIMPL},
        QuestionCase{"UnknownCode", 3, false, E_INVALIDARG, E_NOTIMPL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CodecDialogTest, DecoderShowsNoConfigurationDialog) {
  ComPtr<IBaseFilter> decoder;
  ASSERT_EQ(CoCreateInstance(CLSID_Mpeg4Decoder, &decoder), S_OK);
  ComPtr<IAMVfwCompressDialogs> decoder_dialogs;
  ASSERT_EQ(decoder.As(&decoder_dialogs), S_OK);
  ModalDialogWatch watch;
  EXPECT_EQ(decoder_dialogs->ShowDialog(VfwCompressDialog_Config, Owner()), E_NOTIMPL);
  QCoreApplication::processEvents();
  EXPECT_EQ(watch.Shown(), 0);
}

TEST_F(CodecDialogTest, ConfigDialogIsOwnedByTheWindowShowsTheSettingsAndOkHandsThemOver) {
  Mpeg4EncoderSettings start;
  start.bit_rate = 800'000;
  start.keyframe_interval = 12;
  start.quantizer_min = 3;
  start.quantizer_max = 20;
  ASSERT_EQ(settings_->SetSettings(start), S_OK);

  QWidget* parent = nullptr;
  std::vector<int> shown;
  WhenModal step([&](QDialog* dialog) {
    parent = dialog->parentWidget();
    for (const char* name : {"bitRate", "keyframeInterval", "quantizerMin", "quantizerMax"}) {
      shown.push_back(dialog->findChild<QSpinBox*>(QString::fromLatin1(name))->value());
    }
    dialog->findChild<QSpinBox*>(QStringLiteral("bitRate"))->setValue(0);
    dialog->findChild<QSpinBox*>(QStringLiteral("keyframeInterval"))->setValue(5);
    dialog->findChild<QSpinBox*>(QStringLiteral("quantizerMax"))->setValue(25);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  EXPECT_EQ(dialogs_->ShowDialog(VfwCompressDialog_Config, Owner()), S_OK);
  EXPECT_EQ(parent, owner_.get());
  EXPECT_EQ(shown, (std::vector<int>{800, 12, 3, 20}));
  EXPECT_EQ(Current(), (Mpeg4EncoderSettings{0, 5, 3, 25}));
}

TEST_F(CodecDialogTest, CancelLeavesTheSettings) {
  WhenModal step([&](QDialog* dialog) {
    dialog->findChild<QSpinBox*>(QStringLiteral("bitRate"))->setValue(300);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(dialogs_->ShowDialog(VfwCompressDialog_Config, Owner()), S_OK);
  EXPECT_EQ(Current(), Mpeg4EncoderSettings{});
}

TEST_F(CodecDialogTest, RefusedSettingsKeepTheDialogOpenSayingWhy) {
  bool open_after_ok = false;
  QString status;
  WhenModal step([&](QDialog* dialog) {
    QPointer<QDialog> shown = dialog;
    dialog->findChild<QSpinBox*>(QStringLiteral("quantizerMin"))->setValue(20);
    dialog->findChild<QSpinBox*>(QStringLiteral("quantizerMax"))->setValue(10);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    open_after_ok = shown && shown->isVisible();
    status = dialog->findChild<QLabel*>(QStringLiteral("status"))->text();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(dialogs_->ShowDialog(VfwCompressDialog_Config, Owner()), S_OK);
  EXPECT_TRUE(open_after_ok);
  EXPECT_TRUE(status.contains(QStringLiteral("80070057"))) << status.toStdString();
  EXPECT_EQ(Current(), Mpeg4EncoderSettings{});
}

TEST_F(CodecDialogTest, SettingsOutOfRangeAreRefused) {
  const Mpeg4EncoderSettings refused[] = {
      {5'000, 0, 2, 31}, {60'000'000, 0, 2, 31}, {0, -1, 2, 31}, {0, 601, 2, 31},
      {0, 0, 0, 31},     {0, 0, 2, 32},          {0, 0, 12, 11},
  };
  for (const Mpeg4EncoderSettings& s : refused) {
    EXPECT_EQ(settings_->SetSettings(s), E_INVALIDARG)
        << s.bit_rate << " " << s.keyframe_interval << " " << s.quantizer_min << " " << s.quantizer_max;
  }
  EXPECT_EQ(Current(), Mpeg4EncoderSettings{});
  EXPECT_EQ(settings_->SetSettings({10'000, 1, 1, 1}), S_OK);
  EXPECT_EQ(settings_->SetSettings({50'000'000, 600, 31, 31}), S_OK);
}

TEST_F(CodecDialogTest, ChangeWhileRunning_StreamGoesOnFromAKeyframeWithConfigAtTheNewRate) {
  ASSERT_NO_FATAL_FAILURE(Run());
  const std::vector<Encoded> before = Encode(60);
  ASSERT_EQ(before.size(), 60u);

  // Through the dialog, as a user would, while the encoder runs.
  WhenModal step([&](QDialog* dialog) {
    dialog->findChild<QSpinBox*>(QStringLiteral("bitRate"))->setValue(450);
    dialog->findChild<QSpinBox*>(QStringLiteral("keyframeInterval"))->setValue(10);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_EQ(dialogs_->ShowDialog(VfwCompressDialog_Config, Owner()), S_OK);
  GstState state = GST_STATE_VOID_PENDING;
  gst_element_get_state(pipeline_.get(), &state, nullptr, 0);
  EXPECT_EQ(state, GST_STATE_PLAYING) << "the change needs no stop";

  const std::vector<Encoded> after = Encode(90);
  ASSERT_EQ(after.size(), 90u) << "every frame in gives one out";
  EXPECT_TRUE(after[0].keyframe);
  EXPECT_TRUE(StartsWithConfig(after[0].bytes)) << "a decoder can start at the first frame after the change";
  for (std::size_t i = 1; i < after.size(); ++i) {
    EXPECT_EQ(after[i].keyframe, i % 10 == 0) << "frame " << i << " after the change";
  }

  const double old_rate = BitRateOf(std::vector<Encoded>(before.begin() + 30, before.end()));
  const double new_rate = BitRateOf(std::vector<Encoded>(after.begin() + 30, after.end()));
  EXPECT_NEAR(new_rate, 450'000, 110'000) << "the rate asked for";
  EXPECT_GT(old_rate, 1.8 * new_rate) << "the default before the change";
}

TEST_F(CodecDialogTest, ChangeWhileStopped_TakesEffectWhenTheStreamStarts) {
  ASSERT_EQ(settings_->SetSettings({0, 7, 2, 31}), S_OK);
  ASSERT_NO_FATAL_FAILURE(Run());
  const std::vector<Encoded> frames = Encode(22);
  ASSERT_EQ(frames.size(), 22u);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].keyframe, i % 7 == 0) << i;
}

}  // namespace
