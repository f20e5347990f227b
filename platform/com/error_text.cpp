#include "platform/com/hresult.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct StatusTextRow {
  HRESULT status;
  const char* text;
};

// The texts of the statuses this program and its filters produce.
constexpr StatusTextRow kStatusTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed, with nothing to do."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_OUTOFMEMORY, "Not enough memory to complete this operation."},
    {E_INVALIDARG, "One or more arguments are invalid."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called on this thread."},
    {MK_E_NOOBJECT, "The object named by this moniker could not be found."},
    {MK_E_SYNTAX, "The display name is not valid for this moniker."},
    {MK_E_UNAVAILABLE, "Operation unavailable."},
    {STG_E_READFAULT, "The stream ended before the data could be read."},
    {STG_E_INVALIDFUNCTION, "Unable to perform requested operation on the stream."},
    {STG_E_INVALIDPOINTER, "Invalid pointer passed to the stream."},
    {VFW_E_INVALIDMEDIATYPE, "The specified media type is invalid."},
    {VFW_E_ALREADY_CONNECTED, "The pin is already connected."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter graph is not stopped."},
    {VFW_E_WRONG_STATE, "The operation cannot be performed in the current state."},
    {VFW_E_NOT_IN_GRAPH, "The filter is not in a filter graph."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name is already in the graph."},
    {VFW_E_DEVICE_LOST, "The capture device has been removed."},
    {VFW_E_STREAM_FAILED, "The media stream failed."},
    {VFW_S_DUPLICATE_NAME, "The filter was added under a name that was changed to make it unique."},
    {VFW_S_STATE_INTERMEDIATE, "The state transition has not completed."},
    {VFW_S_PARTIAL_RENDER, "The stream was only partly connected."},
};

std::string TextOf(HRESULT status) {
  const auto* row = std::find_if(std::begin(kStatusTexts), std::end(kStatusTexts),
                                 [status](const StatusTextRow& r) { return r.status == status; });
  if (row != std::end(kStatusTexts)) return row->text;
  char text[64];
  std::snprintf(text, sizeof text, "Unknown status 0x%08X.", static_cast<unsigned>(status));
  return text;
}

}  // namespace

std::uint32_t AMGetErrorText(HRESULT status, char* buffer, std::uint32_t max_length) {
  if (!buffer || max_length == 0) return 0;
  const std::string text = TextOf(status);
  const std::size_t length = std::min<std::size_t>(text.size(), max_length - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint32_t>(length);
}

std::string StatusText(HRESULT status) { return TextOf(status); }
