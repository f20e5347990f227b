#include "platform/dshow/gst_states.h"

FILTER_STATE FilterStateOf(GstState state) {
  switch (state) {
    case GST_STATE_PLAYING:
      return State_Running;
    case GST_STATE_PAUSED:
      return State_Paused;
    default:
      return State_Stopped;
  }
}

HRESULT StatusOfStateChange(GstStateChangeReturn change) {
  switch (change) {
    case GST_STATE_CHANGE_SUCCESS:
    case GST_STATE_CHANGE_NO_PREROLL:  // live sources: running without a prerolled frame
      return S_OK;
    case GST_STATE_CHANGE_ASYNC:
      return S_FALSE;
    case GST_STATE_CHANGE_FAILURE:
      break;
  }
  return VFW_E_STREAM_FAILED;
}

GstClockTime WaitOf(std::int64_t timeout_ms) {
  if (timeout_ms < 0 || timeout_ms == std::int64_t{INFINITE}) return GST_CLOCK_TIME_NONE;
  return static_cast<GstClockTime>(timeout_ms) * GST_MSECOND;
}

HRESULT ElementState(GstElement* element, GstClockTime wait, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  GstState current = GST_STATE_NULL;
  GstState pending = GST_STATE_VOID_PENDING;
  switch (gst_element_get_state(element, &current, &pending, wait)) {
    case GST_STATE_CHANGE_SUCCESS:
    case GST_STATE_CHANGE_NO_PREROLL:
      *state = FilterStateOf(current);
      return S_OK;
    case GST_STATE_CHANGE_ASYNC:
      *state = FilterStateOf(pending != GST_STATE_VOID_PENDING ? pending : current);
      return VFW_S_STATE_INTERMEDIATE;
    case GST_STATE_CHANGE_FAILURE:
      break;
  }
  *state = FilterStateOf(current);
  return VFW_E_STREAM_FAILED;
}
