#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/com/window_message.h"
#include "platform/dshow/graph_events.h"

// A graph's queue of events: filled on the streaming threads, taken on the
// window's thread. While notification is on and a window is set, every event
// queued posts one message to that window.
class EventQueue {
 public:
  // Any thread. Never blocks on the taker; posts while holding the queue's lock,
  // so that once SetNotifyWindow has returned nothing reaches the old window.
  void Push(const GraphEvent& event);

  // Takes the oldest event: waits at most `timeout_ms` (0: not at all, negative:
  // for ever). E_ABORT, and a zero event, when nothing was queued in time.
  HRESULT Take(LONG timeout_ms, GraphEvent* event);

  void SetNotifyWindow(OAHWND window, std::uint32_t message, LONG_PTR instance);
  void SetNotifyFlags(LONG flags);
  LONG NotifyFlags() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  // Guarded by mutex_:
  std::deque<GraphEvent> events_;
  OAHWND window_ = 0;
  std::uint32_t message_ = 0;
  LONG_PTR instance_ = 0;
  LONG flags_ = 0;
};
