#include "platform/local_socket.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/env.h"
#include "platform/testing/local_socket_testing.h"

namespace marrowgate::platform {
namespace {

std::string UniqueName(const char* what) {
  return std::string("marrowgate-test-") + what + "-" + std::to_string(TimeNow()) + "-" +
         std::to_string(TickMilliseconds());
}

TEST(LocalSocket, PacketsKeepTheirBoundaries) {
  std::unique_ptr<LocalSocket> a, b;
  ASSERT_TRUE(LocalSocket::MakePair(&a, &b));
  ASSERT_TRUE(a->SendPacket("one", 3));
  ASSERT_TRUE(a->SendPacket("second packet", 13));
  std::string big(70000, 'x');
  ASSERT_TRUE(a->SendPacket(big.data(), big.size()));
  std::string packet;
  ASSERT_EQ(b->ReceivePacket(&packet, 1000), kReceivedPacket);
  EXPECT_EQ(packet, "one");
  ASSERT_EQ(b->ReceivePacket(&packet, 1000), kReceivedPacket);
  EXPECT_EQ(packet, "second packet");
  ASSERT_EQ(b->ReceivePacket(&packet, 1000), kReceivedPacket);
  EXPECT_EQ(packet, big);
}

TEST(LocalSocket, TimeoutAndPeerEnd) {
  std::unique_ptr<LocalSocket> a, b;
  ASSERT_TRUE(LocalSocket::MakePair(&a, &b));
  std::string packet;
  EXPECT_EQ(b->ReceivePacket(&packet, 20), kReceiveTimedOut);
  a.reset();
  EXPECT_EQ(b->ReceivePacket(&packet, 1000), kPeerClosed);
  // Sending to a peer that has gone fails instead of raising a signal.
  EXPECT_FALSE(b->SendPacket("x", 1));
}

TEST(LocalSocket, ListenConnectAccept) {
  std::string name = UniqueName("listen");
  auto listener = LocalListener::Listen(name);
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(LocalListener::Listen(name), nullptr);  // the name is taken
  auto client = LocalSocket::Connect(name);
  ASSERT_NE(client, nullptr);
  auto server = listener->Accept(1000);
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(client->SendPacket("ping", 4));
  std::string packet;
  ASSERT_EQ(server->ReceivePacket(&packet, 1000), kReceivedPacket);
  EXPECT_EQ(packet, "ping");
  EXPECT_EQ(listener->Accept(10), nullptr);  // nobody else is coming
  listener.reset();
  EXPECT_EQ(LocalSocket::Connect(name), nullptr);
  EXPECT_NE(LocalListener::Listen(name), nullptr);  // free again
}

TEST(LocalSocket, NamesThatCannotBeUsed) {
  EXPECT_EQ(LocalSocket::Connect(""), nullptr);
  EXPECT_EQ(LocalListener::Listen(std::string(kMaxLocalSocketName + 1, 'n')), nullptr);
  EXPECT_EQ(LocalSocket::Connect(UniqueName("nobody")), nullptr);
}

// A listener whose queue is full and that never accepts cannot hold a
// connecting caller beyond its timeout.
TEST(LocalSocket, ConnectToAListenerThatNeverAcceptsIsBounded) {
  std::string name = UniqueName("full");
  auto listener = LocalListener::Listen(name, 0);
  ASSERT_NE(listener, nullptr);
  std::vector<std::unique_ptr<LocalSocket>> queued;
  bool refused = false;
  for (int i = 0; i < 8 && !refused; ++i) {
    uint32_t before = TickMilliseconds();
    auto client = LocalSocket::Connect(name, 150);
    uint32_t waited = TickMilliseconds() - before;
    EXPECT_LT(waited, 1500u);
    if (client == nullptr) {
      refused = true;
      EXPECT_GE(waited, 100u);  // it did wait for room before giving up
    } else {
      queued.push_back(std::move(client));
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_FALSE(queued.empty());
}

// A peer that stops reading: every send ends within its timeout, first with
// packets sent, then with kSendTimedOut.
TEST(LocalSocket, SendToAPeerThatStopsReadingIsBounded) {
  std::unique_ptr<LocalSocket> a, b;
  ASSERT_TRUE(LocalSocket::MakePair(&a, &b));
  std::string packet(1000, 'p');
  int sent = 0;
  SendResult result = kSentPacket;
  uint32_t before = TickMilliseconds();
  while (result == kSentPacket && sent < 100000) {
    result = a->SendPacketWithin(packet.data(), packet.size(), 100);
    if (result == kSentPacket) ++sent;
  }
  EXPECT_EQ(result, kSendTimedOut);
  EXPECT_GT(sent, 0);
  EXPECT_LT(TickMilliseconds() - before, 5000u);
  // Once the peer reads again, there is room again.
  std::string got;
  ASSERT_EQ(b->ReceivePacket(&got, 1000), kReceivedPacket);
  EXPECT_EQ(got, packet);
  EXPECT_EQ(a->SendPacketWithin(packet.data(), packet.size(), 1000), kSentPacket);
  b.reset();
  EXPECT_EQ(a->SendPacketWithin("x", 1, 1000), kSendFailed);
}

TEST(LocalSocket, PeerUserIsTheListenersUser) {
  std::string name = UniqueName("own");
  auto listener = LocalListener::Listen(name);
  ASSERT_NE(listener, nullptr);
  auto client = LocalSocket::Connect(name, 1000);
  ASSERT_NE(client, nullptr);
  uint32_t user = 12345;
  ASSERT_TRUE(client->PeerUserId(&user));
  EXPECT_EQ(user, ProcessUserId());

  if (!ListenerOfUser::CanSwitchUser()) GTEST_SKIP() << "needs root to listen as another user";
  std::string foreignName = UniqueName("foreign");
  ListenerOfUser foreign;
  ASSERT_TRUE(foreign.Start(foreignName, 65534, "ok"));
  auto toForeign = LocalSocket::Connect(foreignName, 1000);
  ASSERT_NE(toForeign, nullptr);
  ASSERT_TRUE(toForeign->PeerUserId(&user));
  EXPECT_EQ(user, 65534u);
  toForeign.reset();
  EXPECT_EQ(foreign.Wait(), 0);
}

}  // namespace
}  // namespace marrowgate::platform
