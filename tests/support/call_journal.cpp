#include "support/call_journal.h"

#include "net/net_endpoint_config.h"
#include "platform/dshow/dialogs.h"
#include "platform/dshow/video_window.h"

namespace {

std::vector<std::string>& Entries() {
  static std::vector<std::string> entries;
  return entries;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

}  // namespace

void Journal(std::string entry) { Entries().push_back(std::move(entry)); }

void ClearJournal() { Entries().clear(); }

std::vector<std::string> JournalEntries() { return Entries(); }

std::string JournalText() { return Join(Entries()); }

std::string JournalOf(std::string_view who) {
  std::vector<std::string> mine;
  const std::string prefix = std::string(who) + ".";
  for (const std::string& entry : Entries()) {
    if (entry.starts_with(prefix)) mine.push_back(entry.substr(prefix.size()));
  }
  return Join(mine);
}

std::string JournalCalls(std::string_view call) {
  std::vector<std::string> found;
  for (const std::string& entry : Entries()) {
    const auto dot = entry.find('.');
    if (dot != std::string::npos && std::string_view(entry).substr(dot + 1).starts_with(call)) {
      found.push_back(entry);
    }
  }
  return Join(found);
}

std::string InterfaceName(const GUID& iid) {
  if (iid == IBaseFilter::iid) return "IBaseFilter";
  if (iid == ICaptureGraphBuilder2::iid) return "ICaptureGraphBuilder2";
  if (iid == IMediaControl::iid) return "IMediaControl";
  if (iid == IMediaEventEx::iid) return "IMediaEventEx";
  if (iid == IFilterGraph2::iid) return "IFilterGraph2";
  if (iid == IVideoWindow::iid) return "IVideoWindow";
  if (iid == INetEndpointConfig::iid) return "INetEndpointConfig";
  if (iid == ISpecifyPropertyPages::iid) return "ISpecifyPropertyPages";
  if (iid == IAMVfwCompressDialogs::iid) return "IAMVfwCompressDialogs";
  return {};
}
