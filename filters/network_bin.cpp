#include "filters/network_bin.h"

#include <mutex>

namespace {

struct ListenerSlot {
  std::mutex mutex;
  NetworkBinListener* listener = nullptr;  // guarded by mutex
};

struct PlNetworkBin {
  GstBin parent;
  ListenerSlot* slot;  // owned
};

struct PlNetworkBinClass {
  GstBinClass parent_class;
};

GType pl_network_bin_get_type();
#define PL_NETWORK_BIN(object) (reinterpret_cast<PlNetworkBin*>(object))

G_DEFINE_TYPE(PlNetworkBin, pl_network_bin, GST_TYPE_BIN)

bool IsUpward(GstStateChange transition) {
  return GST_STATE_TRANSITION_NEXT(transition) > GST_STATE_TRANSITION_CURRENT(transition);
}

void Notify(PlNetworkBin* bin, GstStateChange transition) {
  std::lock_guard lock(bin->slot->mutex);
  if (bin->slot->listener) bin->slot->listener->OnStateChange(transition);
}

GstStateChangeReturn pl_network_bin_change_state(GstElement* element, GstStateChange transition) {
  PlNetworkBin* bin = PL_NETWORK_BIN(element);
  if (!IsUpward(transition)) Notify(bin, transition);
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(pl_network_bin_parent_class)->change_state(element, transition);
  if (IsUpward(transition) && result != GST_STATE_CHANGE_FAILURE) Notify(bin, transition);
  return result;
}

void pl_network_bin_finalize(GObject* object) {
  delete PL_NETWORK_BIN(object)->slot;
  G_OBJECT_CLASS(pl_network_bin_parent_class)->finalize(object);
}

void pl_network_bin_class_init(PlNetworkBinClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = pl_network_bin_finalize;
  GST_ELEMENT_CLASS(klass)->change_state = pl_network_bin_change_state;
}

void pl_network_bin_init(PlNetworkBin* bin) { bin->slot = new ListenerSlot; }

}  // namespace

GstElement* NewNetworkBin(const char* name) {
  return GST_ELEMENT(g_object_new(pl_network_bin_get_type(), "name", name, nullptr));
}

void SetNetworkBinListener(GstElement* bin, NetworkBinListener* listener) {
  ListenerSlot* slot = PL_NETWORK_BIN(bin)->slot;
  std::lock_guard lock(slot->mutex);
  slot->listener = listener;
}
