#include "media/directshow_error.h"

#include <cstdint>
#include <cstdio>

namespace {

// The buffer the status text is written into, as the platform call expects it.
constexpr std::uint32_t kStatusTextBufferSize = 255;

}  // namespace

std::string DirectShowErrorMessage(HRESULT status) {
  char text[kStatusTextBufferSize + 1] = {};
  AMGetErrorText(status, text, kStatusTextBufferSize);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, " ($%X).", static_cast<unsigned>(status));
  return std::string(text) + suffix;
}

EDirectShowException::EDirectShowException(HRESULT status)
    : Exception(DirectShowErrorMessage(status)), status_(status) {}

HRESULT CheckDSError(HRESULT status) {
  if (FAILED(status)) throw EDirectShowException(status);
  return status;
}
