#pragma once

#include <memory>

#include "platform/dshow/gst_filter.h"
#include "platform/dshow/video_window.h"

// The video renderer: one input pin "in" that takes I420 or BGRx frames of any
// size (for other formats the builder puts a colour converter in front of it)
// and paints each frame, as soon as it arrives, into a widget of its own,
// stretched to the widget's rectangle; I420 is scaled to the widget's size
// first and only then converted to RGB.
// IVideoWindow places that widget: owner, style, position, caption, and where
// mouse and keyboard input on the picture goes.
//
// Threads: the filter and its widget belong to the window's (GUI) thread; it is
// created there and every IVideoWindow call is made there. The streaming thread
// only leaves the newest frame in a guarded slot and wakes the window; it never
// waits on it. A change of the picture size is posted as EC_VIDEO_SIZE_CHANGED
// (param1: height << 16 | width).
//
// The widget is a child of the owner (found there by the object name
// "VideoRendererWindow"), shown whenever the element goes to paused or playing
// with an owner set (by the graph or by the filter's own Run), and keeps its last
// picture when stopped. It is deleted with the filter; if the owner deletes it
// first, the next call makes a fresh one without an owner.
class VideoRenderer final : public ComExtends<GstFilter, IVideoWindow> {
 public:
  VideoRenderer();
  ~VideoRenderer() override;

  // IVideoWindow
  HRESULT put_Owner(OAHWND owner) override;
  HRESULT get_Owner(OAHWND* owner) override;
  // WS_CHILD with an owner: a child widget of the owner; otherwise a window of its
  // own. WS_VISIBLE shows or hides it.
  HRESULT put_WindowStyle(LONG style) override;
  HRESULT get_WindowStyle(LONG* style) override;
  HRESULT put_WindowStyleEx(LONG style) override;
  HRESULT get_WindowStyleEx(LONG* style) override;
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT put_Caption(const WCHAR* caption) override;
  HRESULT get_Caption(BSTR* caption) override;
  HRESULT put_MessageDrain(OAHWND drain) override;
  HRESULT get_MessageDrain(OAHWND* drain) override;
  HRESULT put_Visible(LONG visible) override;
  HRESULT get_Visible(LONG* visible) override;

  // The widget the picture is painted in (a QWidget* as a number).
  OAHWND WidgetHandle();

 private:
  struct Stream;  // shared with the streaming thread
  struct Window;  // the widget and its settings; window's thread only

  std::shared_ptr<Stream> stream_;
  std::unique_ptr<Window> window_;
};

// The renderer's widget (a QWidget* as a number), or 0 when `renderer` is not a
// VideoRenderer. For tests, which read its pixels and geometry.
OAHWND VideoRendererWidgetForTesting(IUnknown* renderer);

// Registers CLSID_VideoRenderer ("Video Renderer"). Creating one needs a
// QApplication (E_UNEXPECTED without) and the GUI thread.
void RegisterVideoRendererClass();
