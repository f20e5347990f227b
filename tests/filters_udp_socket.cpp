#include "filters/udp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <cerrno>
#include <string>

// The network filters' sockets choosing an interface, without sending anything
// and without joining a group: what goes over a group is shown in
// netns_network.cpp, inside a private network namespace.

namespace {

// An index no interface has (indexes are handed out counting up from 1).
constexpr unsigned kNoInterface = 0x7FFF'FFF0;

TEST(InterfaceIndex, FindsLoopbackAndNothingForUnknownNames) {
  EXPECT_EQ(InterfaceIndex("lo"), ::if_nametoindex("lo"));
  EXPECT_NE(InterfaceIndex("lo"), 0u);
  const std::string unknown[] = {"", "no-such-if9", std::string(IF_NAMESIZE, 'l')};
  for (const std::string& name : unknown) {
    EXPECT_EQ(InterfaceIndex(name), 0u) << '"' << name << '"';
  }
}

TEST(UdpSender, SetsTheMulticastInterfaceTheKernelKnows) {
  UdpSender sender;
  ASSERT_TRUE(sender.ok());
  EXPECT_TRUE(sender.SetMulticastInterface(InterfaceIndex("lo")));
  EXPECT_TRUE(sender.SetMulticastInterface(0)) << "back to the routing table's choice";
  EXPECT_FALSE(sender.SetMulticastInterface(kNoInterface));
  EXPECT_NE(sender.last_error(), 0) << "the reason is kept";
}

TEST(UdpReceiveSocket, RefusesToJoinOnAnInterfaceThatIsNotThere) {
  // Refused before any membership exists: nothing is joined, nothing announced.
  const UdpReceiveSocket socket(UdpEndpoint{inet_addr("235.1.2.3"), 0},
                                UdpReceiveSocket::kDefaultBuffer, kNoInterface);
  EXPECT_FALSE(socket.ok());
  EXPECT_NE(socket.error().find("IP_ADD_MEMBERSHIP"), std::string::npos) << socket.error();
}

}  // namespace
