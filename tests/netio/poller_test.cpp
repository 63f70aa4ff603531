// The poller: readiness by key while it lasts, none once unwatched; a wake or a watch ends a wait.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>

#include "netio/address.h"
#include "netio/poller.h"
#include "netio/socket.h"
#include "support/event_log.h"

namespace {

using netio::Events;

netio::Fd LoopbackUdp() {
  std::string error;
  return netio::BindUdp(netio::kLoopback, 0, false, &error);
}

TEST(Poller, ReadinessByKeyUntilUnwatchedAndWaitsEndedFromOtherThreads) {
  const auto poller = netio::MakePoller();
  ASSERT_TRUE(poller->valid());
  netio::Fd a = LoopbackUdp(), b = LoopbackUdp();
  ASSERT_TRUE(a.valid() && b.valid());
  const netio::Endpoint toA{netio::kLoopback, netio::LocalPort(a.get())};
  netio::Readiness ready[4];

  ASSERT_TRUE(poller->Watch(a.get(), 7, Events::kReadable));
  EXPECT_EQ(0, poller->Wait(ready, 4, 0));
  ASSERT_TRUE(netio::SendDatagram(b.get(), toA, "x", 1));
  ASSERT_EQ(1, poller->Wait(ready, 4, qcsdk::test::ScaledMs(5000)));
  EXPECT_EQ(7u, ready[0].key);
  EXPECT_EQ(Events::kReadable, ready[0].events & Events::kReadable);
  // Level-triggered: still ready while the datagram waits; gone once unwatched.
  EXPECT_EQ(1, poller->Wait(ready, 4, 0));
  poller->Unwatch(a.get());
  EXPECT_EQ(0, poller->Wait(ready, 4, 0));

  // A wake given before the wait ends it at once.
  poller->Wake();
  EXPECT_EQ(0, poller->Wait(ready, 4, -1));

  // An endless wait sees a socket watched from another thread (after a few empty wake-ups at most).
  const auto wait = [&] {
    return std::async(std::launch::async, [&] { return poller->Wait(ready, 4, -1); });
  };
  auto waited = wait();
  const std::shared_ptr<void> wakeAtExit(nullptr, [&](void*) { poller->Wake(); });
  ASSERT_TRUE(poller->Watch(a.get(), 9, Events::kReadable | Events::kWritable));
  int count = 0;
  for (int round = 0; round < 3 && count == 0; ++round) {
    if (round > 0) waited = wait();
    ASSERT_EQ(std::future_status::ready, waited.wait_for(qcsdk::test::Scaled(5000)));
    count = waited.get();
  }
  ASSERT_EQ(1, count);
  EXPECT_EQ(9u, ready[0].key);
  EXPECT_EQ(Events::kReadable | Events::kWritable,
            ready[0].events & (Events::kReadable | Events::kWritable));
  poller->Unwatch(a.get());
}

}  // namespace
