#pragma once

#include <string>

#include "platform/com/unknown.h"
#include "platform/ui/component.h"

// A graph component's or the video window's own operation met a failing status.
// The message is the status text followed by " ($XXXXXXXX).".
class EDirectShowException : public Exception {
 public:
  explicit EDirectShowException(HRESULT status);
  const char* ClassName() const override { return "EDirectShowException"; }
  HRESULT ErrorCode() const { return status_; }

 private:
  HRESULT status_;
};

// The message EDirectShowException carries for `status`.
std::string DirectShowErrorMessage(HRESULT status);

// The status check: a status with the high bit set raises EDirectShowException;
// any other (S_FALSE included) passes and is returned.
HRESULT CheckDSError(HRESULT status);

// Anything that answers interface requests the way a component does.
class InterfaceSource {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;

 protected:
  ~InterfaceSource() = default;
};

// The cast a handler makes: only exactly S_OK is accepted, anything else raises
// EIntfCastError ("Interface not supported").
template <class T>
ComPtr<T> IntfCast(InterfaceSource& source) {
  ComPtr<T> result;
  if (source.QueryInterface(T::iid, result.ReleaseAndGetVoidAddress()) != S_OK || !result) {
    throw EIntfCastError();
  }
  return result;
}

template <class T, class U>
ComPtr<T> IntfCast(const ComPtr<U>& source) {
  ComPtr<T> result;
  if (!source || source->QueryInterface(T::iid, result.ReleaseAndGetVoidAddress()) != S_OK ||
      !result) {
    throw EIntfCastError();
  }
  return result;
}
