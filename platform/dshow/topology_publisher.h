#pragma once

#include <gst/gst.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>

// Keeps a file with a pipeline's live topology in Graphviz form, for outside
// tools, while the graph is published. Every write replaces the file whole
// (temporary file, then rename), so a reader never sees half a graph.
class TopologyPublisher : public std::enable_shared_from_this<TopologyPublisher> {
 public:
  // Starts publishing to `file` and writes it at once.
  void Start(const std::filesystem::path& file, GstBin* pipeline);
  // Stops writing; once it returns, no write is in progress or still to come.
  void Stop();
  // Writes the file again now, if publishing (the caller's thread).
  void Refresh(GstBin* pipeline);
  // The same from a streaming thread: the write is left to GStreamer's own
  // thread pool, so the stream does not wait on the disk.
  void RefreshLater(GstElement* pipeline);

 private:
  void WriteLocked(GstBin* pipeline);

  std::mutex mutex_;             // held while writing
  std::filesystem::path file_;   // guarded by mutex_; empty: not publishing
  std::atomic<bool> publishing_{false};
};
