#include "filters/network_filters.h"

#include "filters/filter_classes.h"
#include "filters/network_receiver.h"
#include "filters/network_sender.h"
#include "platform/com/com.h"

void RegisterNetworkClasses() {
  RegisterClass(CLSID_NetworkSender, "Network Sender", FactoryFor<NetworkSender>());
  RegisterClass(CLSID_NetworkReceiver, "Network Receiver", FactoryFor<NetworkReceiver>());
}
