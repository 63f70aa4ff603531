#include "support/test_channel.h"

namespace qcsdk::test {

std::atomic<int> TestChannel::destroyed{0};
std::atomic<bool> TestChannelFactory::connectAnswer{true};

TestChannel::TestChannel(int32_t nChannel, bool bOct) : Channel(nChannel), m_bOct(bOct) {}

TestChannel::~TestChannel() {
  destroyed.fetch_add(1);
}

bool TestChannel::Note(std::string call) {
  m_calls.Add(std::move(call));
  return answer.load();
}

bool TestChannel::Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel,
                          int32_t nStream, const char* szUser, const char* szPassword,
                          bool bByNumber, void* pUserData) {
  if (!Channel::Connect(szAddress, nPort, nDeviceChannel, nStream, szUser, szPassword, bByNumber,
                        pUserData))
    return false;
  Note("Connect(" + std::string(szAddress != nullptr ? szAddress : "null") + "," + Num(nPort) +
       "," + Num(nDeviceChannel) + "," + Num(nStream) + "," + Bit(bByNumber) + ")");
  return TestChannelFactory::connectAnswer.load();
}

bool TestChannel::Disconnect() {
  Note("Disconnect");
  OnLinkEvent(7, nullptr);
  return true;
}

TestChannelFactory::TestChannelFactory() {
  connectAnswer.store(true);
  SetChannelFactory([](int32_t nChannel, bool bOct) -> ChannelPtr {
    return std::make_shared<TestChannel>(nChannel, bOct);
  });
}

TestChannelFactory::~TestChannelFactory() {
  RemoveAllChannels();
  SetChannelFactory(nullptr);
}

std::shared_ptr<TestChannel> FindTestChannel(int32_t nChannel) {
  return std::dynamic_pointer_cast<TestChannel>(FindChannel(nChannel));
}

}  // namespace qcsdk::test
