#include "filters/network_bin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dshow/gst_ref.h"

namespace {

// Records each transition with the state its child was in at that moment.
class Recorder : public NetworkBinListener {
 public:
  explicit Recorder(GstElement* child) : child_(child) {}
  void OnStateChange(GstStateChange transition) override {
    GstState child_state = GST_STATE_VOID_PENDING;
    gst_element_get_state(child_, &child_state, nullptr, 0);
    calls += std::string(gst_state_change_get_name(transition)) + " (child " +
             gst_element_state_get_name(child_state) + ") ";
  }
  std::string calls;

 private:
  GstElement* child_;
};

TEST(NetworkBin, ToldOfStatesAfterChildrenGoingUpAndBeforeGoingDown) {
  EnsureGStreamer();
  GstElementRef bin = AdoptFloating(NewNetworkBin("bin"));
  GstElement* child = gst_element_factory_make("fakesink", nullptr);
  g_object_set(child, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(bin.get()), child);

  Recorder recorder(child);
  SetNetworkBinListener(bin.get(), &recorder);
  gst_element_set_state(bin.get(), GST_STATE_PLAYING);
  gst_element_set_state(bin.get(), GST_STATE_NULL);
  EXPECT_EQ(recorder.calls,
            "NULL->READY (child READY) READY->PAUSED (child PAUSED) "
            "PAUSED->PLAYING (child PLAYING) PLAYING->PAUSED (child PLAYING) "
            "PAUSED->READY (child PAUSED) READY->NULL (child READY) ");

  SetNetworkBinListener(bin.get(), nullptr);
  recorder.calls.clear();
  gst_element_set_state(bin.get(), GST_STATE_PLAYING);
  gst_element_set_state(bin.get(), GST_STATE_NULL);
  EXPECT_EQ(recorder.calls, "") << "a listener taken away hears nothing";
}

}  // namespace
