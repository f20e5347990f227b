#pragma once

#include <gst/gst.h>

// A GstBin that tells its filter about its state changes, so the filter opens
// and closes what it owns at fixed points: on the way up once the children have
// changed, on the way down before they do.
class NetworkBinListener {
 public:
  // Called on the thread that changes the state, for each single step.
  virtual void OnStateChange(GstStateChange transition) = 0;

 protected:
  ~NetworkBinListener() = default;
};

// A new bin (floating reference).
GstElement* NewNetworkBin(const char* name);
// `listener` (borrowed) hears every state change from now on; null stops that,
// after a call in progress has returned.
void SetNetworkBinListener(GstElement* bin, NetworkBinListener* listener);
