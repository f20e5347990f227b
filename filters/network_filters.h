#pragma once

// Registers the network sender (CLSID_NetworkSender, "Network Sender") and the
// network receiver (CLSID_NetworkReceiver, "Network Receiver") in the class
// registry. Their classes: filters/network_sender.h, filters/network_receiver.h;
// their statistics: filters/network_statistics.h.
void RegisterNetworkClasses();
