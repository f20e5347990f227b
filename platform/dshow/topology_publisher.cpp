#include "platform/dshow/topology_publisher.h"

#include <fstream>
#include <system_error>

#include "platform/dshow/gst_ref.h"

void TopologyPublisher::Start(const std::filesystem::path& file, GstBin* pipeline) {
  std::lock_guard lock(mutex_);
  file_ = file;
  publishing_ = !file_.empty();
  if (publishing_) WriteLocked(pipeline);
}

void TopologyPublisher::Stop() {
  std::lock_guard lock(mutex_);
  file_.clear();
  publishing_ = false;
}

void TopologyPublisher::Refresh(GstBin* pipeline) {
  if (!publishing_) return;
  std::lock_guard lock(mutex_);
  if (!file_.empty()) WriteLocked(pipeline);
}

void TopologyPublisher::RefreshLater(GstElement* pipeline) {
  if (!publishing_) return;
  // The pool holds the pipeline; the publisher is held by the call itself.
  auto* self = new std::shared_ptr<TopologyPublisher>(shared_from_this());
  gst_element_call_async(
      pipeline,
      [](GstElement* element, gpointer data) {
        (*static_cast<std::shared_ptr<TopologyPublisher>*>(data))->Refresh(GST_BIN(element));
      },
      self, [](gpointer data) { delete static_cast<std::shared_ptr<TopologyPublisher>*>(data); });
}

void TopologyPublisher::WriteLocked(GstBin* pipeline) {
  // Publishing serves outside tools only: a failed write leaves the last good
  // file in place and costs the graph nothing.
  const GCharOwner dot(gst_debug_bin_to_dot_data(pipeline, GST_DEBUG_GRAPH_SHOW_ALL));
  std::error_code error;
  std::filesystem::create_directories(file_.parent_path(), error);
  std::filesystem::path temporary = file_;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << dot.c_str();
    if (!out.flush()) {
      std::filesystem::remove(temporary, error);
      return;
    }
  }
  std::filesystem::rename(temporary, file_, error);
  if (error) std::filesystem::remove(temporary, error);
}
