#include "platform/dshow/event_queue.h"

#include <chrono>

void EventQueue::Push(const GraphEvent& event) {
  std::lock_guard lock(mutex_);
  events_.push_back(event);
  queued_.notify_one();
  if (flags_ != AM_MEDIAEVENT_NONOTIFY && window_ != 0) {
    PostWindowMessage(window_, message_, 0, instance_);
  }
}

HRESULT EventQueue::Take(LONG timeout_ms, GraphEvent* event) {
  std::unique_lock lock(mutex_);
  const auto has_event = [this] { return !events_.empty(); };
  if (timeout_ms < 0) {
    queued_.wait(lock, has_event);
  } else if (timeout_ms > 0) {
    queued_.wait_for(lock, std::chrono::milliseconds(timeout_ms), has_event);
  }
  if (events_.empty()) {
    *event = GraphEvent{};
    return E_ABORT;
  }
  *event = events_.front();
  events_.pop_front();
  return S_OK;
}

void EventQueue::SetNotifyWindow(OAHWND window, std::uint32_t message, LONG_PTR instance) {
  std::lock_guard lock(mutex_);
  window_ = window;
  message_ = message;
  instance_ = instance;
}

void EventQueue::SetNotifyFlags(LONG flags) {
  std::lock_guard lock(mutex_);
  flags_ = flags;
}

LONG EventQueue::NotifyFlags() const {
  std::lock_guard lock(mutex_);
  return flags_;
}
