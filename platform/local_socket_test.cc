#include "platform/local_socket.h"

#include <gtest/gtest.h>

#include "platform/env.h"

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

}  // namespace
}  // namespace marrowgate::platform
