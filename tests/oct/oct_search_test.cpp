// The UDP device search over loopback broadcast.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "oct_fixture.h"

namespace octc::test {
namespace {

TEST_F(OctTest, SearchReportsEachAnswerThenTheEnd) {
  ASSERT_TRUE(dev->StartSearchResponder("127.255.255.255", 0));
  ASSERT_EQ(octc_set_search_target("127.255.255.255", dev->search_port(), "127.0.0.1"), 0);
  ASSERT_EQ(octc_start_search_device_service(0, 29999, 0, OnSearch), 0);
  EXPECT_EQ(octc_start_search_device_service(0, 29999, 0, OnSearch), OCTC_ERR_BUSY);
  ASSERT_EQ(octc_search_device(0, 300), 0);
  EXPECT_EQ(octc_search_device(0, 300), OCTC_ERR_BUSY);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.searches.size() >= 2; }));
  rec.Locked([&] {
    ASSERT_EQ(rec.searches.size(), 2u);
    const SearchEvent& e = rec.searches[0];
    EXPECT_EQ(e.event, OCTC_SEARCH_FOUND);
    EXPECT_EQ(e.device_id, config.device_id);
    EXPECT_EQ(e.name, config.name);
    EXPECT_EQ(e.address, "127.0.0.1");
    EXPECT_EQ(e.port, dev->port());
    EXPECT_EQ(e.channel_count, 2);
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(rec.searches[1].event, OCTC_SEARCH_END);
  });
  // A second search after the end works again; no device: only the end.
  dev->Stop();
  ASSERT_EQ(octc_search_device(0, 200), 0);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.searches.size() >= 3; }));
  EXPECT_EQ(rec.Locked([&] { return rec.searches[2].event; }), OCTC_SEARCH_END);
  EXPECT_EQ(octc_stop_search_device_service(), 0);
  EXPECT_EQ(octc_search_device(0, 200), OCTC_ERR_FAILED);

  // A local port already in use: the start fails and can be retried elsewhere.
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  EXPECT_LT(octc_start_search_device_service(ntohs(sa.sin_port), 29999, 0, OnSearch), 0);
  EXPECT_EQ(octc_start_search_device_service(0, 29999, 0, OnSearch), 0);
  ::close(fd);
  octc_set_search_target("127.255.255.255", 0, "127.0.0.1");
}

}  // namespace
}  // namespace octc::test
