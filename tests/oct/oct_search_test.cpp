// The UDP device search over loopback broadcast.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "oct_fixture.h"

namespace octc::test {
namespace {

std::mutex g_searchMutex;
std::condition_variable g_searchCv;
std::vector<SearchEvent> g_search;

void OnSearch(int32_t event, const OctSearchInfo* info) {
  SearchEvent e{event, {}, {}, {}, 0, 0, 0, 0};
  if (event == OCTC_SEARCH_FOUND && info) {
    e.device_id = info->device_id;
    e.name = info->name;
    e.address = info->address;
    e.device_type = info->device_type;
    e.channel_count = info->channel_count;
    e.flags = info->flags;
    e.port = info->port;
  }
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    g_search.push_back(e);
  }
  g_searchCv.notify_all();
}

bool WaitSearch(size_t n) {
  std::unique_lock<std::mutex> lock(g_searchMutex);
  return g_searchCv.wait_for(lock, std::chrono::milliseconds(Scaled(5000)),
                             [&] { return g_search.size() >= n; });
}

TEST_F(OctTest, SearchReportsEachAnswerThenTheEnd) {
  g_search.clear();
  ASSERT_TRUE(dev->StartSearchResponder("127.255.255.255", 0));
  ASSERT_EQ(octc_set_search_target("127.255.255.255", dev->search_port(), "127.0.0.1"), 0);
  ASSERT_EQ(octc_start_search_device_service(0, 29999, 0, OnSearch), 0);
  EXPECT_EQ(octc_start_search_device_service(0, 29999, 0, OnSearch), OCTC_ERR_BUSY);
  ASSERT_EQ(octc_search_device(0, 300), 0);
  EXPECT_EQ(octc_search_device(0, 300), OCTC_ERR_BUSY);
  ASSERT_TRUE(WaitSearch(2));
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    ASSERT_EQ(g_search.size(), 2u);
    EXPECT_EQ(g_search[0].event, OCTC_SEARCH_FOUND);
    EXPECT_EQ(g_search[0].device_id, config.device_id);
    EXPECT_EQ(g_search[0].name, config.name);
    EXPECT_EQ(g_search[0].address, "127.0.0.1");
    EXPECT_EQ(g_search[0].port, dev->port());
    EXPECT_EQ(g_search[0].channel_count, 2);
    EXPECT_EQ(g_search[0].flags, 0);
    EXPECT_EQ(g_search[1].event, OCTC_SEARCH_END);
    g_search.clear();
  }
  // A second search after the end works again; no device: only the end.
  dev->Stop();
  ASSERT_EQ(octc_search_device(0, 200), 0);
  ASSERT_TRUE(WaitSearch(1));
  {
    std::lock_guard<std::mutex> lock(g_searchMutex);
    EXPECT_EQ(g_search[0].event, OCTC_SEARCH_END);
  }
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
