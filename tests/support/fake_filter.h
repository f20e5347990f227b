#pragma once

#include <map>
#include <string>
#include <vector>

#include "net/net_endpoint_config.h"
#include "platform/com/com.h"
#include "platform/dshow/dialogs.h"
#include "platform/dshow/video_window.h"

// Fake filters for the window's and the components' tests. Each records the calls
// it gets in a readable line ("GetState(0) Stop() JoinFilterGraph(null)"), also in
// the shared journal under its name in the graph, can answer any status, and
// offers what its class was configured with.

// Test classes, selectable by "@device:sw:{083863F1-…}\{clsid}" records.
inline constexpr CLSID CLSID_FakeCamera = MakeGuid("{A1F0C3E2-0001-4D6B-9E21-7C3B5A0F1D01}");
inline constexpr CLSID CLSID_FakeEncoder = MakeGuid("{A1F0C3E2-0002-4D6B-9E21-7C3B5A0F1D02}");
inline constexpr CLSID CLSID_FakeSender = MakeGuid("{A1F0C3E2-0003-4D6B-9E21-7C3B5A0F1D03}");
inline constexpr CLSID CLSID_FakeReceiver = MakeGuid("{A1F0C3E2-0004-4D6B-9E21-7C3B5A0F1D04}");
inline constexpr CLSID CLSID_FakeDecoder = MakeGuid("{A1F0C3E2-0005-4D6B-9E21-7C3B5A0F1D05}");
inline constexpr CLSID CLSID_FakeRenderer = MakeGuid("{A1F0C3E2-0006-4D6B-9E21-7C3B5A0F1D06}");
inline constexpr CLSID CLSID_FakeConverter = MakeGuid("{A1F0C3E2-0007-4D6B-9E21-7C3B5A0F1D07}");
// A class identifier that nothing registers.
inline constexpr CLSID CLSID_NotRegistered = MakeGuid("{A1F0C3E2-00FF-4D6B-9E21-7C3B5A0F1DFF}");

// What a fake filter class offers and how it answers.
struct FakeFilterConfig {
  std::string label;  // its name in the journal until it joins a graph
  bool offers_endpoint = false;       // INetEndpointConfig
  bool offers_pages = false;          // ISpecifyPropertyPages
  bool offers_codec_dialogs = false;  // IAMVfwCompressDialogs
  bool offers_video_window = false;   // IVideoWindow
  int inputs = 1;
  int outputs = 1;
  std::vector<CLSID> pages = {MakeGuid("{A1F0C3E2-0100-4D6B-9E21-7C3B5A0F1E00}")};
  // Status by call ("Stop", "GetState", "Disconnect", "GetPages", "ShowDialog(4)",
  // "put_Owner", "QueryFilterInfo" …); S_OK where none is given.
  std::map<std::string, HRESULT> answers;
};

class FakePin;

class FakeFilter : public ComObject<IBaseFilter, INetEndpointConfig, ISpecifyPropertyPages,
                                    IAMVfwCompressDialogs, IVideoWindow> {
 public:
  FakeFilter(REFCLSID clsid, FakeFilterConfig config);
  ~FakeFilter() override;

  HRESULT QueryInterface(REFIID riid, void** object) override;

  // IPersist, IMediaFilter, IBaseFilter
  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) override;
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  // INetEndpointConfig: the argument bytes as they stand in memory.
  HRESULT SetParameter(std::uint32_t value) override;
  HRESULT GetEndpoint(std::uint32_t* address, std::uint32_t* port) override;
  HRESULT SetEndpoint(std::uint32_t address, std::uint32_t port) override;
  // ISpecifyPropertyPages
  HRESULT GetPages(CAUUID* pages) override;
  // IAMVfwCompressDialogs
  HRESULT ShowDialog(int dialog, OAHWND window) override;
  // IVideoWindow
  HRESULT put_Owner(OAHWND owner) override;
  HRESULT get_Owner(OAHWND* owner) override;
  HRESULT put_WindowStyle(LONG style) override;
  HRESULT get_WindowStyle(LONG* style) override;
  HRESULT put_WindowStyleEx(LONG style) override;
  HRESULT get_WindowStyleEx(LONG* style) override;
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT put_Caption(const WCHAR* caption) override;
  HRESULT get_Caption(BSTR* caption) override;
  HRESULT put_MessageDrain(OAHWND drain) override;
  HRESULT get_MessageDrain(OAHWND* drain) override;
  HRESULT put_Visible(LONG visible) override;
  HRESULT get_Visible(LONG* visible) override;

  // Every call so far, in one line.
  std::string Calls() const;
  void ClearCalls() { calls_.clear(); }
  // Its name in the graph while it stands in one, else its label.
  std::string Label() const;
  FILTER_STATE State() const { return state_; }
  bool InGraph() const { return graph_ != nullptr; }
  void SetAnswer(const std::string& call, HRESULT status) { config_.answers[call] = status; }
  const std::vector<FakePin*>& Pins() const { return pins_; }
  FakePin* Input(int index = 0) const;
  FakePin* Output(int index = 0) const;
  bool AnyPinConnected() const;

  // Record a call and answer it (pins record through their filter).
  HRESULT Record(const std::string& call, const std::string& answer_key);

  // The fake behind a reference, or null.
  static FakeFilter* From(IUnknown* object);

 private:
  CLSID clsid_;
  FakeFilterConfig config_;
  std::vector<std::string> calls_;
  std::vector<FakePin*> pins_;  // counted: one reference each
  IFilterGraph* graph_ = nullptr;  // uncounted, as the contract says
  std::u16string name_;
  FILTER_STATE state_ = State_Stopped;
  std::uint32_t address_ = 0, port_ = 0;
  OAHWND owner_ = 0, drain_ = 0;
  LONG style_ = 0, style_ex_ = 0;
  LONG left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  std::u16string caption_;
};

class FakePin : public ComObject<IPin> {
 public:
  FakePin(FakeFilter* filter, PIN_DIRECTION direction, std::string name);
  HRESULT Connect(IPin* receive_pin) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** peer) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryFormats(char** formats) override;

  FakePin* Peer() const { return peer_; }
  PIN_DIRECTION Direction() const { return direction_; }
  // Breaks the link without recording (the filter going away).
  void Unlink();

 private:
  friend class FakeFilter;
  FakeFilter* filter_;  // borrowed: the filter owns its pins
  PIN_DIRECTION direction_;
  std::string name_;
  FakePin* peer_ = nullptr;  // uncounted, so two linked pins never keep each other
};

// Registers a fake class (replacing any class of that identifier) and keeps its
// configuration, which new instances copy.
void RegisterFakeFilterClass(REFCLSID clsid, FakeFilterConfig config);
FakeFilterConfig& FakeClassConfig(REFCLSID clsid);
// Live instances of a class, oldest first, and how many were ever made.
std::vector<FakeFilter*> FakeInstances(REFCLSID clsid);
FakeFilter* LastFakeInstance(REFCLSID clsid);
int FakeCreatedCount(REFCLSID clsid);
void ResetFakeCounts();

// "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\{clsid}"
std::u16string SoftwareFilterDisplayName(REFCLSID clsid);
// The bytes as they stand in memory, "EB 01 02 03".
std::string MemoryBytes(std::uint32_t value);
