#include "filters/property_pages.h"

#include <algorithm>

#include "filters/camera_page.h"
#include "filters/network_receiver_page.h"
#include "filters/network_sender_page.h"
#include "filters/test_pattern_page.h"
#include "platform/com/com.h"

void RegisterPropertyPageClasses() {
  RegisterClass(CLSID_CameraPage, "Camera Property Page", FactoryFor<CameraPage>());
  RegisterClass(CLSID_TestPatternPage, "Test Pattern Property Page", FactoryFor<TestPatternPage>());
  RegisterClass(CLSID_NetworkSenderPage, "Network Sender Property Page",
                FactoryFor<NetworkSenderPage>());
  RegisterClass(CLSID_NetworkReceiverPage, "Network Receiver Property Page",
                FactoryFor<NetworkReceiverPage>());
}

HRESULT PageList(std::initializer_list<CLSID> classes, CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  if (classes.size() == 0) return S_OK;
  auto* list = static_cast<GUID*>(CoTaskMemAlloc(classes.size() * sizeof(GUID)));
  if (!list) return E_OUTOFMEMORY;
  std::copy(classes.begin(), classes.end(), list);
  pages->cElems = static_cast<ULONG>(classes.size());
  pages->pElems = list;
  return S_OK;
}
