#pragma once

#include <gst/gst.h>

#include <cstdint>

#include "platform/dshow/filter.h"

// How GStreamer states and state-change answers read as filter states and
// statuses. Shared by the filters and the graph manager, so both answer alike.
//
//   NULL, READY -> State_Stopped      PAUSED -> State_Paused      PLAYING -> State_Running

FILTER_STATE FilterStateOf(GstState state);

// SUCCESS and NO_PREROLL: S_OK. ASYNC: S_FALSE (the change completes on the
// streaming threads). FAILURE: VFW_E_STREAM_FAILED (the element has posted why).
HRESULT StatusOfStateChange(GstStateChangeReturn change);

// A wait in milliseconds as GStreamer takes it: negative (or INFINITE as a
// DWORD) waits for ever, 0 does not wait.
GstClockTime WaitOf(std::int64_t timeout_ms);

// The element's state, waiting at most `wait` for a change in progress. S_OK and
// the state once it is settled; VFW_S_STATE_INTERMEDIATE and the state it is
// heading for while a change is still pending; VFW_E_STREAM_FAILED when the last
// change failed (the state is then the one it stands in).
HRESULT ElementState(GstElement* element, GstClockTime wait, FILTER_STATE* state);
