#include "support/media_window_test.h"

#include <QCoreApplication>
#include <QImage>
#include <QWidget>

#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "platform/com/com.h"
#include "support/test_world.h"

void MediaWindowTest::SetUp() {
  TestApplication();
  CoInitialize(nullptr);
  RegisterPresenterLinkClasses();
  live_at_start_ = ComLiveObjectCount();
}

void MediaWindowTest::TearDown() {
  form_.reset();
  QCoreApplication::processEvents();
  CoUninitialize();
}

void MediaWindowTest::Open(const std::string& layout) {
  form_ = TForm1::Create(layout);
  ASSERT_NE(form_, nullptr);
  form_->Show();
}

std::optional<std::uint16_t> MediaWindowTest::ShownFrame() const {
  auto* window = reinterpret_cast<QWidget*>(form_->Handle());
  const QImage shot =
      window->grab(QRect(208, 128, 160, 120)).toImage().convertToFormat(QImage::Format_RGB32);
  if (shot.width() != 160 || shot.height() != 120) return std::nullopt;
  return frame_stamp::ReadRgb32(shot.constBits(), static_cast<int>(shot.bytesPerLine()),
                                shot.width(), shot.height());
}
