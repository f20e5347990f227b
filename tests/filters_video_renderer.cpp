#include "filters/video_renderer.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filters/frame_stamp.h"
#include "platform/com/com.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/gst_filter.h"

namespace {

// The renderer paints into widgets: the program gets one QApplication.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!QCoreApplication::instance()) app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "filters_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop until `done` holds. The deadline only keeps a broken
// build from hanging; no test depends on how fast anything is.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool Near(QColor actual, QColor expected, int tolerance = 24) {
  return std::abs(actual.red() - expected.red()) <= tolerance &&
         std::abs(actual.green() - expected.green()) <= tolerance &&
         std::abs(actual.blue() - expected.blue()) <= tolerance;
}

std::string Describe(QColor colour) {
  return "rgb(" + std::to_string(colour.red()) + "," + std::to_string(colour.green()) + "," +
         std::to_string(colour.blue()) + ")";
}

QColor PixelOf(QWidget& widget, QPoint point) { return widget.grab().toImage().pixelColor(point); }

// A plain widget that records the input it gets, in one line.
class RecordingWidget : public QWidget {
 public:
  using QWidget::QWidget;
  std::string log;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    log += "press(" + std::to_string(event->position().toPoint().x()) + "," +
           std::to_string(event->position().toPoint().y()) + ")";
  }
  void keyPressEvent(QKeyEvent* event) override {
    log += "key(" + event->text().toStdString() + ")";
  }
};

// An owner the size of the main window's client area, in a colour of its own.
std::unique_ptr<RecordingWidget> MakeOwner(QColor colour = Qt::white) {
  auto owner = std::make_unique<RecordingWidget>();
  owner->resize(671, 412);
  QPalette palette = owner->palette();
  palette.setColor(QPalette::Window, colour);
  owner->setPalette(palette);
  owner->setAutoFillBackground(true);
  owner->show();
  return owner;
}

constexpr LONG kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
const QRect kVideoArea(208, 128, 160, 120);

// A pipeline of the test's own, ending in the renderer's element.
class TestPipeline {
 public:
  TestPipeline(const char* upstream, IBaseFilter* renderer) {
    GErrorOwner error;
    pipeline_ = AdoptFloating(gst_parse_launch(upstream, error.out()));
    if (!pipeline_ || error.error) {
      ADD_FAILURE() << "cannot build " << upstream << ": "
                    << (error.error ? error.error->message : "");
      return;
    }
    GstElement* sink = ElementOfFilter(renderer);
    GstElementRef last =
        GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "last"));
    gst_bin_add(GST_BIN(pipeline_.get()), sink);
    EXPECT_TRUE(gst_element_link(last.get(), sink));
  }
  ~TestPipeline() {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }

  void Play() {
    ASSERT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }
  void Stop() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }
  GstElementRef Named(const char* name) const {
    return GstElementRef::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), name));
  }
  GstBusRef Bus() const { return GstBusRef::Adopt(gst_element_get_bus(pipeline_.get())); }

 private:
  GstElementRef pipeline_;
};

// Pushes one frame into an appsrc named "src", with its caps.
void PushFrame(GstElement* src, const char* caps_text, std::vector<std::uint8_t> bytes) {
  const GstCapsRef caps = GstCapsRef::Adopt(gst_caps_from_string(caps_text));
  g_object_set(src, "caps", caps.get(), nullptr);
  const std::size_t size = bytes.size();
  auto* owned = new std::vector<std::uint8_t>(std::move(bytes));
  GstBuffer* buffer = gst_buffer_new_wrapped_full(
      GST_MEMORY_FLAG_READONLY, owned->data(), size, 0, size, owned,
      [](gpointer data) { delete static_cast<std::vector<std::uint8_t>*>(data); });
  ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), buffer), GST_FLOW_OK);
}

// A BGRx picture in four coloured quadrants.
std::vector<std::uint8_t> Quadrants(int width, int height, QColor top_left, QColor top_right,
                                    QColor bottom_left, QColor bottom_right) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      const QColor c =
          bottom ? (right ? bottom_right : bottom_left) : (right ? top_right : top_left);
      std::uint8_t* p = &bytes[(static_cast<std::size_t>(y) * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(c.blue());
      p[1] = static_cast<std::uint8_t>(c.green());
      p[2] = static_cast<std::uint8_t>(c.red());
      p[3] = 0xFF;
    }
  }
  return bytes;
}

std::vector<std::uint8_t> Solid(int width, int height, QColor colour) {
  return Quadrants(width, height, colour, colour, colour, colour);
}

std::string BgrxCaps(int width, int height) {
  return "video/x-raw,format=BGRx,width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=0/1";
}

// A grey I420 picture carrying `number` as a frame stamp.
std::vector<std::uint8_t> StampedI420(int width, int height, std::uint32_t number) {
  const int chroma_width = width / 2;
  const int chroma_height = height / 2;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height +
                                      2 * static_cast<std::size_t>(chroma_width) * chroma_height,
                                  0x80);
  std::uint8_t* luma = bytes.data();
  std::uint8_t* u = luma + static_cast<std::size_t>(width) * height;
  std::uint8_t* v = u + static_cast<std::size_t>(chroma_width) * chroma_height;
  frame_stamp::StampLuma(luma, width, width, height, number);
  frame_stamp::StampChroma(u, v, chroma_width, width, height);
  return bytes;
}

class VideoRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGStreamer();
    CoInitialize(nullptr);
    RegisterVideoRendererClass();
    live_at_start_ = ComLiveObjectCount();
  }
  void TearDown() override {
    renderer_ = nullptr;
    window_ = nullptr;
    // Widgets given to deleteLater go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    CoUninitialize();
  }

  void CreateRenderer() {
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, &renderer_), S_OK);
    ASSERT_EQ(renderer_.As(&window_), S_OK);
  }

  QWidget* Picture() const {
    return reinterpret_cast<QWidget*>(VideoRendererWidgetForTesting(renderer_.Get()));
  }

  // The six placement calls the main window makes before the receive graph runs.
  void Place(QWidget* owner, QWidget* drain, QRect area, LONG style = kChildStyle) {
    ASSERT_EQ(window_->put_Owner(reinterpret_cast<OAHWND>(owner)), S_OK);
    ASSERT_EQ(window_->put_WindowStyle(style), S_OK);
    ASSERT_EQ(window_->put_WindowStyleEx(0), S_OK);
    ASSERT_EQ(window_->SetWindowPosition(area.left(), area.top(), area.width(), area.height()),
              S_OK);
    ASSERT_EQ(window_->put_Caption(u"VideoWindow1"), S_OK);
    ASSERT_EQ(window_->put_MessageDrain(reinterpret_cast<OAHWND>(drain)), S_OK);
  }

  long live_at_start_ = 0;
  ComPtr<IBaseFilter> renderer_;
  ComPtr<IVideoWindow> window_;
};

TEST_F(VideoRendererTest, Class_IsRegisteredWithOneInputPinTakingBgrx) {
  bool listed = false;
  for (const ClassInfo& info : RegisteredClasses()) {
    if (info.clsid == CLSID_VideoRenderer) listed = info.friendly_name == "Video Renderer";
  }
  EXPECT_TRUE(listed);

  CreateRenderer();
  CLSID clsid{};
  ASSERT_EQ(renderer_->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_VideoRenderer);

  const std::vector<ComPtr<IPin>> pins = PinsOf(renderer_.Get());
  ASSERT_EQ(pins.size(), 1u);
  PIN_DIRECTION direction{};
  ASSERT_EQ(pins[0]->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_INPUT);
  char* formats = nullptr;
  ASSERT_EQ(pins[0]->QueryFormats(&formats), S_OK);
  ASSERT_NE(formats, nullptr);
  EXPECT_NE(std::string(formats).find("BGRx"), std::string::npos) << formats;
  CoTaskMemFree(formats);
}

TEST_F(VideoRendererTest, Placement_PutsPictureExactlyOverTheControlWithCaption) {
  auto owner = MakeOwner();
  auto control = std::make_unique<RecordingWidget>(owner.get());
  control->setGeometry(kVideoArea);
  control->show();
  CreateRenderer();

  Place(owner.get(), control.get(), kVideoArea);

  QWidget* picture = Picture();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->parentWidget(), owner.get());
  EXPECT_FALSE(picture->isWindow());
  EXPECT_TRUE(picture->isVisible());
  EXPECT_EQ(picture->geometry(), kVideoArea);
  EXPECT_EQ(picture->windowTitle(), QStringLiteral("VideoWindow1"));
  // The picture lies over the control, not inside it.
  EXPECT_EQ(owner->childAt(kVideoArea.center()), picture);

  OAHWND handle = 0;
  EXPECT_EQ(window_->get_Owner(&handle), S_OK);
  EXPECT_EQ(handle, reinterpret_cast<OAHWND>(owner.get()));
  EXPECT_EQ(window_->get_MessageDrain(&handle), S_OK);
  EXPECT_EQ(handle, reinterpret_cast<OAHWND>(control.get()));
  LONG style = 0;
  EXPECT_EQ(window_->get_WindowStyle(&style), S_OK);
  EXPECT_EQ(style, kChildStyle);
  EXPECT_EQ(window_->get_WindowStyleEx(&style), S_OK);
  EXPECT_EQ(style, 0);
  LONG left = 0, top = 0, width = 0, height = 0;
  EXPECT_EQ(window_->GetWindowPosition(&left, &top, &width, &height), S_OK);
  EXPECT_EQ(QRect(left, top, width, height), kVideoArea);
  BSTR caption = nullptr;
  ASSERT_EQ(window_->get_Caption(&caption), S_OK);
  EXPECT_EQ(std::u16string(caption), u"VideoWindow1");
  SysFreeString(caption);

  // Placed again (Receive pressed twice): the same place.
  Place(owner.get(), control.get(), kVideoArea);
  EXPECT_EQ(Picture(), picture);
  EXPECT_EQ(picture->geometry(), kVideoArea);
}

TEST_F(VideoRendererTest, WindowStyle_DecidesChildOrOwnWindowAndVisibility) {
  struct Case {
    bool with_owner;
    LONG style;
    bool child;
    bool visible;
  };
  const Case cases[] = {
      {true, WS_CHILD | WS_VISIBLE, true, true},
      {true, WS_CHILD, true, false},
      {true, WS_VISIBLE, false, true},  // a window of its own, kept by the owner
      {false, WS_CHILD | WS_VISIBLE, false, true},
      {false, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("owner " + std::to_string(c.with_owner) + " style " + std::to_string(c.style));
    auto owner = MakeOwner();
    CreateRenderer();
    ASSERT_EQ(window_->put_Owner(c.with_owner ? reinterpret_cast<OAHWND>(owner.get()) : 0), S_OK);
    ASSERT_EQ(window_->put_WindowStyle(c.style), S_OK);
    QWidget* picture = Picture();
    EXPECT_EQ(picture->isWindow(), !c.child);
    EXPECT_EQ(picture->parentWidget(), c.with_owner ? owner.get() : nullptr);
    EXPECT_EQ(!picture->isHidden(), c.visible);
    LONG style = 0;
    ASSERT_EQ(window_->get_WindowStyle(&style), S_OK);
    EXPECT_EQ(style, c.style);
    renderer_ = nullptr;
    window_ = nullptr;
  }
}

TEST_F(VideoRendererTest, OwnerZero_MakesTheChildAWindowOfItsOwn) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  ASSERT_EQ(Picture()->parentWidget(), owner.get());

  ASSERT_EQ(window_->put_Owner(0), S_OK);
  EXPECT_EQ(Picture()->parentWidget(), nullptr);
  EXPECT_TRUE(Picture()->isWindow());
  EXPECT_TRUE(Picture()->isVisible());
  EXPECT_TRUE(owner->findChildren<QWidget*>().isEmpty());
}

TEST_F(VideoRendererTest, Visible_ShowsAndHidesAndShowsInTheStyle) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea, WS_CHILD);
  const struct {
    LONG put;
    LONG got;
  } cases[] = {{OATRUE, OATRUE}, {OAFALSE, OAFALSE}, {1, OATRUE}};
  for (const auto& c : cases) {
    ASSERT_EQ(window_->put_Visible(c.put), S_OK);
    LONG visible = 7;
    ASSERT_EQ(window_->get_Visible(&visible), S_OK);
    EXPECT_EQ(visible, c.got);
    EXPECT_EQ(Picture()->isVisible(), c.got == OATRUE);
    LONG style = 0;
    ASSERT_EQ(window_->get_WindowStyle(&style), S_OK);
    EXPECT_EQ((style & WS_VISIBLE) != 0, c.got == OATRUE);
  }
}

TEST_F(VideoRendererTest, Run_ShowsTheWindowOnlyWhenItHasAnOwner) {
  for (const bool with_owner : {true, false}) {
    SCOPED_TRACE(with_owner ? "with owner" : "without owner");
    auto owner = MakeOwner();
    CreateRenderer();
    ASSERT_EQ(window_->put_Owner(with_owner ? reinterpret_cast<OAHWND>(owner.get()) : 0), S_OK);
    ASSERT_EQ(window_->put_WindowStyle(WS_CHILD), S_OK);
    ASSERT_TRUE(Picture()->isHidden());

    ASSERT_TRUE(SUCCEEDED(renderer_->Run(0)));
    EXPECT_EQ(!Picture()->isHidden(), with_owner);
    ASSERT_TRUE(SUCCEEDED(renderer_->Stop()));
    EXPECT_EQ(!Picture()->isHidden(), with_owner);
    renderer_ = nullptr;
    window_ = nullptr;
  }
}

TEST_F(VideoRendererTest, BadArguments_AreRefused) {
  CreateRenderer();
  EXPECT_EQ(window_->SetWindowPosition(0, 0, -1, 10), E_INVALIDARG);
  EXPECT_EQ(window_->SetWindowPosition(0, 0, 10, -1), E_INVALIDARG);
  EXPECT_EQ(window_->put_Caption(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_Caption(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_Owner(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_MessageDrain(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_WindowStyle(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_WindowStyleEx(nullptr), E_POINTER);
  EXPECT_EQ(window_->get_Visible(nullptr), E_POINTER);
  LONG value = 0;
  EXPECT_EQ(window_->GetWindowPosition(&value, &value, &value, nullptr), E_POINTER);
}

TEST_F(VideoRendererTest, LiveFrames_ShowInThePlacedRectangleOnly_AndStayWhenStopped) {
  auto owner = MakeOwner(Qt::white);
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  const QPoint inside = kVideoArea.center();
  const QPoint outside_points[] = {kVideoArea.topLeft() - QPoint(1, 1),
                                   kVideoArea.bottomRight() + QPoint(1, 1), QPoint(10, 10)};

  // Black until the first frame.
  EXPECT_TRUE(Near(PixelOf(*owner, inside), Qt::black)) << Describe(PixelOf(*owner, inside));

  TestPipeline pipeline(
      "videotestsrc name=src is-live=true pattern=red ! "
      "video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! videoconvert name=last",
      renderer_.Get());
  pipeline.Play();
  EXPECT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::red); }))
      << Describe(PixelOf(*owner, inside));
  const QImage red = owner->grab().toImage();
  EXPECT_TRUE(Near(red.pixelColor(kVideoArea.topLeft()), Qt::red));
  EXPECT_TRUE(Near(red.pixelColor(kVideoArea.bottomRight()), Qt::red));
  for (const QPoint& outside : outside_points) {
    EXPECT_TRUE(Near(red.pixelColor(outside), Qt::white)) << Describe(red.pixelColor(outside));
  }

  // The pattern changes while running: the picture follows.
  gst_util_set_object_arg(G_OBJECT(pipeline.Named("src").get()), "pattern", "blue");
  EXPECT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::blue); }))
      << Describe(PixelOf(*owner, inside));

  pipeline.Stop();
  QCoreApplication::processEvents();
  EXPECT_TRUE(Near(PixelOf(*owner, inside), Qt::blue)) << Describe(PixelOf(*owner, inside));
}

TEST_F(VideoRendererTest, InAGraph_RunShowsTheWindowAndPicture_StopKeepsThePicture) {
  RegisterGraphClasses();
  auto owner = MakeOwner(Qt::white);
  CreateRenderer();
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, &graph), S_OK);
  ComPtr<IBaseFilter> source = MakeElementFilter("videotestsrc");
  ASSERT_TRUE(source);
  GstElement* pattern = ElementOfFilter(source.Get());
  gst_util_set_object_arg(G_OBJECT(pattern), "pattern", "red");
  g_object_set(pattern, "is-live", TRUE, nullptr);
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(renderer_.Get(), u"VideoWindow1"), S_OK);
  const std::vector<ComPtr<IPin>> outputs = PinsOf(source.Get());
  const std::vector<ComPtr<IPin>> inputs = PinsOf(renderer_.Get());
  ASSERT_EQ(outputs.size(), 1u);
  ASSERT_EQ(inputs.size(), 1u);
  ASSERT_EQ(graph->Connect(outputs[0].Get(), inputs[0].Get()), S_OK);

  // Placed without WS_VISIBLE: running is what shows it.
  Place(owner.get(), nullptr, kVideoArea, WS_CHILD | WS_CLIPSIBLINGS);
  ASSERT_TRUE(Picture()->isHidden());
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(Picture()->isVisible());

  const QPoint inside = kVideoArea.center();
  EXPECT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::red); }))
      << Describe(PixelOf(*owner, inside));
  ASSERT_TRUE(SUCCEEDED(control->Stop()));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Picture()->isVisible());
  EXPECT_TRUE(Near(PixelOf(*owner, inside), Qt::red)) << Describe(PixelOf(*owner, inside));

  EXPECT_EQ(graph->RemoveFilter(renderer_.Get()), S_OK);
  EXPECT_EQ(graph->RemoveFilter(source.Get()), S_OK);
}

TEST_F(VideoRendererTest, Frame_IsStretchedToFillTheRectangle) {
  const struct { int width, height; } sources[] = {{640, 480}, {320, 120}, {90, 200}};
  const QColor top_left = Qt::red, top_right = Qt::green, bottom_left = Qt::blue,
               bottom_right = Qt::white;
  for (const auto& source : sources) {
    SCOPED_TRACE(std::to_string(source.width) + "x" + std::to_string(source.height));
    auto owner = MakeOwner(Qt::black);
    CreateRenderer();
    Place(owner.get(), nullptr, kVideoArea);
    {
      TestPipeline pipeline("appsrc name=src format=time ! videoconvert name=last",
                            renderer_.Get());
      pipeline.Play();
      PushFrame(
          pipeline.Named("src").get(), BgrxCaps(source.width, source.height).c_str(),
          Quadrants(source.width, source.height, top_left, top_right, bottom_left, bottom_right));
      const QPoint at = kVideoArea.topLeft();
      const auto quadrant = [&](int x, int y) { return PixelOf(*owner, at + QPoint(x, y)); };
      EXPECT_TRUE(WaitUntil([&] { return Near(quadrant(40, 30), top_left); }))
          << Describe(quadrant(40, 30));
      EXPECT_TRUE(Near(quadrant(120, 30), top_right)) << Describe(quadrant(120, 30));
      EXPECT_TRUE(Near(quadrant(40, 90), bottom_left)) << Describe(quadrant(40, 90));
      EXPECT_TRUE(Near(quadrant(120, 90), bottom_right)) << Describe(quadrant(120, 90));
      // The corners of the rectangle are picture too.
      EXPECT_TRUE(Near(quadrant(0, 0), top_left));
      EXPECT_TRUE(Near(quadrant(159, 119), bottom_right));
    }
    renderer_ = nullptr;
    window_ = nullptr;
  }
}

TEST_F(VideoRendererTest, InputOnPicture_GoesToTheDrainAtItsOwnPoint) {
  for (const bool with_drain : {true, false}) {
    SCOPED_TRACE(with_drain ? "with drain" : "without drain");
    auto owner = MakeOwner();
    auto control = std::make_unique<RecordingWidget>(owner.get());
    // The control sits 8 pixels left of and above the picture here, to show the mapping.
    control->setGeometry(kVideoArea.translated(-8, -8));
    control->show();
    CreateRenderer();
    Place(owner.get(), with_drain ? control.get() : nullptr, kVideoArea);
    QWidget* picture = Picture();

    const QPointF local(10, 20);
    QMouseEvent press(QEvent::MouseButtonPress, local, picture->mapTo(owner.get(), local),
                      picture->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &press);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(picture, &key);
    QCoreApplication::processEvents();

    if (with_drain) {
      EXPECT_EQ(control->log, "press(18,28)key(a)");
      EXPECT_EQ(owner->log, "");  // handled: nothing reaches the picture's parent
    } else {
      EXPECT_EQ(control->log, "");
      // Not handled by the picture: the owner under it sees the press.
      EXPECT_EQ(owner->log, "press(218,148)key(a)");
    }
    renderer_ = nullptr;
    window_ = nullptr;
  }
}

TEST_F(VideoRendererTest, SizeChange_PostsVideoSizeChangedWithHeightAndWidth) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  TestPipeline pipeline("appsrc name=src format=time ! videoconvert name=last", renderer_.Get());
  pipeline.Play();
  const GstElementRef src = pipeline.Named("src");
  const GstBusRef bus = pipeline.Bus();
  const QPoint inside = kVideoArea.center();

  // Graph events posted on the bus since the last look, as "code:param1:param2".
  const auto events = [&] {
    std::string seen;
    while (GstMessageRef message =
               GstMessageRef::Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ELEMENT))) {
      const GstStructure* s = gst_message_get_structure(message.get());
      if (!s || !gst_structure_has_name(s, kGraphEventMessage)) continue;
      int code = 0, param1 = 0, param2 = 0;
      gst_structure_get_int(s, "code", &code);
      gst_structure_get_int(s, "param1", &param1);
      gst_structure_get_int(s, "param2", &param2);
      seen +=
          std::to_string(code) + ":" + std::to_string(param1) + ":" + std::to_string(param2) + " ";
    }
    return seen;
  };

  PushFrame(src.get(), BgrxCaps(320, 240).c_str(), Solid(320, 240, Qt::red));
  ASSERT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::red); }));
  EXPECT_EQ(events(), "");  // the first size is no change

  PushFrame(src.get(), BgrxCaps(320, 240).c_str(), Solid(320, 240, Qt::green));
  ASSERT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::green); }));
  EXPECT_EQ(events(), "");  // nor is the same size again

  PushFrame(src.get(), BgrxCaps(176, 144).c_str(), Solid(176, 144, Qt::blue));
  ASSERT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, inside), Qt::blue); }));
  EXPECT_EQ(events(), std::to_string(EC_VIDEO_SIZE_CHANGED) + ":" +
                          std::to_string((144 << 16) | 176) + ":0 ");
}

TEST_F(VideoRendererTest, StampedFrames_NumberIsReadBackFromThePaintedPixels) {
  struct Seen {
    std::vector<frame_stamp::PaintRecord> records;
  } seen;
  frame_stamp::SetPaintObserver(
      [](const frame_stamp::PaintRecord& record, void* context) {
        static_cast<Seen*>(context)->records.push_back(record);
      },
      &seen);

  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  TestPipeline pipeline("appsrc name=src format=time ! videoconvert name=last", renderer_.Get());
  pipeline.Play();
  const GstElementRef src = pipeline.Named("src");

  const std::uint16_t numbers[] = {1, 2, 0x1234, 0xFFFE};
  for (const std::uint16_t number : numbers) {
    const auto captured = frame_stamp::Clock::now();
    frame_stamp::NoteCaptured(number, captured);
    PushFrame(src.get(), "video/x-raw,format=I420,width=320,height=240,framerate=0/1",
              StampedI420(320, 240, number));
    ASSERT_TRUE(WaitUntil([&] {
      return !seen.records.empty() && seen.records.back().number == number;
    })) << "frame "
        << number << " not read back";
    EXPECT_GE(seen.records.back().painted, captured);
  }
  frame_stamp::SetPaintObserver(nullptr, nullptr);

  std::vector<std::uint16_t> read;
  for (const auto& record : seen.records) read.push_back(record.number);
  EXPECT_EQ(read, std::vector<std::uint16_t>(std::begin(numbers), std::end(numbers)));
}

TEST_F(VideoRendererTest, Release_DeletesTheWidget) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  QPointer<QWidget> picture = Picture();
  ASSERT_EQ(owner->findChildren<QWidget*>(QStringLiteral("VideoRendererWindow")).size(), 1);

  renderer_ = nullptr;
  window_ = nullptr;
  EXPECT_TRUE(picture.isNull());
  EXPECT_TRUE(owner->findChildren<QWidget*>().isEmpty());
}

TEST_F(VideoRendererTest, ReleasedOnAnotherThread_WidgetGoesOnTheWindowThread) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  QPointer<QWidget> picture = Picture();
  window_ = nullptr;
  std::thread([renderer = std::move(renderer_)]() mutable { renderer = nullptr; }).join();

  EXPECT_FALSE(picture.isNull());  // not deleted off its thread
  EXPECT_TRUE(WaitUntil([&] { return picture.isNull(); }));
  EXPECT_TRUE(owner->findChildren<QWidget*>().isEmpty());
}

TEST_F(VideoRendererTest, ReleasedWhileFramesFlow_StreamGoesOnHarmlessly) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  TestPipeline pipeline(
      "videotestsrc is-live=true pattern=red ! "
      "video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! videoconvert name=last",
      renderer_.Get());
  pipeline.Play();
  ASSERT_TRUE(WaitUntil([&] { return Near(PixelOf(*owner, kVideoArea.center()), Qt::red); }));

  // The pipeline still holds the element; frames keep arriving at its sink.
  std::atomic<int> frames{0};
  const GstPadRef src_pad =
      GstPadRef::Adopt(gst_element_get_static_pad(pipeline.Named("last").get(), "src"));
  gst_pad_add_probe(
      src_pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer data) {
        ++*static_cast<std::atomic<int>*>(data);
        return GST_PAD_PROBE_OK;
      },
      &frames, nullptr);
  QPointer<QWidget> picture = Picture();
  renderer_ = nullptr;
  window_ = nullptr;
  EXPECT_TRUE(picture.isNull());
  EXPECT_TRUE(WaitUntil([&] { return frames >= 5; }));
  pipeline.Stop();
  EXPECT_TRUE(owner->findChildren<QWidget*>().isEmpty());
}

TEST_F(VideoRendererTest, OwnerDeletedFirst_LeavesNoDanglingWindow) {
  auto owner = MakeOwner();
  CreateRenderer();
  Place(owner.get(), nullptr, kVideoArea);
  QPointer<QWidget> picture = Picture();
  owner.reset();
  EXPECT_TRUE(picture.isNull());

  OAHWND handle = 1;
  ASSERT_EQ(window_->get_Owner(&handle), S_OK);
  EXPECT_EQ(handle, 0);
  // The renderer goes on with a fresh window of its own, and can be placed again.
  EXPECT_EQ(window_->SetWindowPosition(1, 2, 30, 40), S_OK);
  EXPECT_EQ(Picture()->geometry(), QRect(1, 2, 30, 40));
  BSTR caption = nullptr;
  ASSERT_EQ(window_->get_Caption(&caption), S_OK);
  EXPECT_EQ(std::u16string(caption), u"VideoWindow1");
  EXPECT_EQ(Picture()->windowTitle(), QStringLiteral("VideoWindow1"));
  SysFreeString(caption);
  auto second_owner = MakeOwner();
  Place(second_owner.get(), nullptr, kVideoArea);
  EXPECT_EQ(Picture()->parentWidget(), second_owner.get());
}

}  // namespace
