#pragma once

#include <memory>
#include <string_view>

#include "media/filter_config_dialog.h"
#include "media/filter_graph.h"
#include "media/filter_slot.h"
#include "media/video_window_control.h"
#include "platform/ui/controls.h"

// The stored layout of Form1, compiled into the program.
extern const std::string_view kUnit1Layout;

// The main window: ten buttons, the log box, the video area, and the two graphs
// with their six filter slots, all made from the stored layout.
class TForm1 : public TForm {
 public:
  // Makes the window from `layout` (the stored one unless a test hands its own).
  // An error while the layout is applied destroys what was made and propagates.
  // The window's destruction takes its controls down first (last created first),
  // then the other components, last created first.
  static std::unique_ptr<TForm1> Create(std::string_view layout = kUnit1Layout);

  explicit TForm1(TComponent* owner);
  ~TForm1() override;

  // Controls, in creation order.
  TButton* GO = nullptr;
  TMemo* Memo1 = nullptr;
  TButton* Button4 = nullptr;
  TButton* Button5 = nullptr;
  TButton* Button6 = nullptr;
  TButton* Button7 = nullptr;
  TButton* Button8 = nullptr;
  TButton* Button9 = nullptr;
  TButton* Button10 = nullptr;
  TVideoWindow* VideoWindow1 = nullptr;
  TButton* Button1 = nullptr;
  TButton* Button2 = nullptr;
  // Media components, in creation order.
  TFilterGraph* FilterGraph = nullptr;
  TFilter* DivXEncoder = nullptr;
  TFilter* SenderFilter = nullptr;
  TFilter* SourceFilter = nullptr;
  TFilterGraph* FilterGraph1 = nullptr;
  TFilter* ReceiveFilter = nullptr;
  TFilter* DivxDecoderFilter = nullptr;
  TFilter* RederFilter = nullptr;

  // Send: camera to encoder to network sender, then run the send graph.
  void GOClick(TObject* Sender);
  // Receive: network receiver to decoder to the video window, then run.
  void Button4Click(TObject* Sender);
  // The network endpoint, to the sender filter and to the receiver filter.
  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  // Configuration dialogs: ReceiveFilter, DivxDecoderFilter, RederFilter,
  // SourceFilter, DivXEncoder, SenderFilter.
  void Button5Click(TObject* Sender);
  void Button6Click(TObject* Sender);
  void Button7Click(TObject* Sender);
  void Button8Click(TObject* Sender);
  void Button9Click(TObject* Sender);
  void Button10Click(TObject* Sender);
  // Takes the send graph apart and deactivates it; the window may always close.
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  // One log line per event of the send graph.
  void FilterGraphDSEvent(TObject* sender, LONG Event, LONG Param1, LONG Param2);

 private:
  void SetEndpoint(TFilter& slot);
  void ShowConfig(TFilter& slot, FilterDialogKind kind);
};
