// Scripted fakes of the four libraries the SDK calls. Constructing a
// FakeLibraries binds all four tables to it; destroying it restores the
// default tables. Every call is recorded with its arguments, results can be
// set per operation, and the callbacks the SDK registers are kept so that a
// test can fire them, from threads of the fake's own like a real library.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/mp4pkg_api.h"
#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "platform/player_api.h"

namespace qcsdk::test {

class FakeLibraries {
 public:
  FakeLibraries();
  // Binds only the scripted player; the other libraries stay ours (for
  // end-to-end tests of a build without the player library: Windows for now).
  struct PlayerOnly {};
  explicit FakeLibraries(PlayerOnly);
  ~FakeLibraries();
  FakeLibraries(const FakeLibraries&) = delete;
  FakeLibraries& operator=(const FakeLibraries&) = delete;

  static FakeLibraries& Current();

  // Every call so far, as "Name(arg, arg, ...)"; strings are quoted, other
  // pointers appear as ptr or null.
  std::vector<std::string> Calls() const;
  // Only the names, in order.
  std::vector<std::string> CallNames() const;
  int CountCalls(const std::string& name) const;
  void ClearCalls();

  // The result an operation returns from now on (default: 1 for Nxl and
  // player truth values, 0 for OCT results, handles counted up from 1).
  void SetResult(const std::string& name, int64_t result) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_results[name] = result;
  }
  // A result computed from the call's first integer argument (for example
  // the local port of a start-service call).
  void SetResultByFirstArg(const std::string& name, std::function<int64_t(int64_t)> result) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_resultFns[name] = std::move(result);
  }

  // Runs fn on a new thread of the fake and waits for it to finish.
  static void RunOnLibraryThread(const std::function<void()>& fn) { std::thread(fn).join(); }

  // Callbacks the SDK registered.
  struct NxlCallbacks {
    QVC_ConnectCallback connect = nullptr;
    QVC_StreamCallback live = nullptr;
    QVC_FileListCallback fileList = nullptr;
    QVC_TalkCallback talk = nullptr;
    QVC_TextCallback text = nullptr;
    QVC_DownloadCallback download = nullptr;
    QVC_StreamCallback playback = nullptr;
  };
  // Search and broadcast callbacks the SDK registered (the last of each).
  struct DiscoveryCallbacks {
    QVC_SearchCallback nxlSearch = nullptr;
    OctSearchCallback octSearch = nullptr;
    QVC_BroadcastCallback broadcast = nullptr;
  };
  // The size the fake player reports for its last picture (default none).
  void SetBitmapSize(int32_t width, int32_t height) { Put(m_bitmapSize, {width, height}); }
  std::pair<int32_t, int32_t> BitmapSize() const { return Get(m_bitmapSize); }

  // Every message sent with QVC_SendData, with its payload; broadcasts of
  // QVC_BroadcastOnce too, with the message id as link and the time-out as
  // type.
  struct Message {
    int32_t link;
    int32_t type;
    std::vector<uint8_t> data;
  };
  std::vector<Message> NxlSent() const { return Get(m_sent); }

  NxlCallbacks nxl() const { return Get(m_nxl); }

  // The OCT callbacks the SDK registered.
  struct OctCallbacks {
    OctConnCallback conn = nullptr;
    OctNoticeCallback notice = nullptr;
    OctStateCallback streamState = nullptr;
    OctRecordCallback streamData = nullptr;
    OctStateCallback vodState = nullptr;
    OctRecordCallback vodData = nullptr;
    OctStateCallback downState = nullptr;
    OctDownDataCallback downData = nullptr;
    OctStateCallback chatState = nullptr;
    OctChatDataCallback chatData = nullptr;
  };
  OctCallbacks oct() const { return Get(m_oct); }
  // Out-parameters of the OCT calls: the device information of
  // octc_cmd_get_dev_info and the list of octc_cmd_get_rec_file_list (texts
  // copied and kept by the fake).
  struct OctRecording {
    std::string name;
    std::string path;
    int32_t hour = 0, minute = 0, second = 0;
  };
  void SetOctDevInfo(int32_t deviceType) { Put(m_devType, deviceType); }
  void SetOctRecList(std::vector<OctRecording> items) { Put(m_recordings, std::move(items)); }
  // Answers of octc_cmd_remote_config for the next exchanges, one each
  // (afterwards the answer is empty).
  void QueueOctConfigResponses(std::vector<std::string> responses) {
    Put(m_queuedResponses, std::move(responses));
  }
  // Answers every exchange from its request, instead of the above (called
  // outside the fake's lock, on the calling thread).
  void SetOctConfigHandler(std::function<std::string(const std::string&)> handler) {
    Put(m_configHandler, std::move(handler));
  }
  // Payloads of octc_cmd_send_notify and requests of octc_cmd_remote_config.
  std::vector<std::vector<uint8_t>> OctNotices() const { return Get(m_notices); }
  std::vector<std::string> OctConfigRequests() const { return Get(m_configRequests); }
  // The last recording query.
  OctRecQuery OctLastQuery() const { return Get(m_lastQuery); }
  DiscoveryCallbacks discovery() const { return Get(m_discovery); }
  QVSP_PictureCallback picture() const { return Get(m_picture); }

  // Internal to the fake's operations.
  void Record(std::string name, std::string call) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_calls.emplace_back(std::move(name), std::move(call));
  }
  int64_t ResultFor(const std::string& name, int64_t firstArg, int64_t fallback);

 private:
  friend struct FakeOps;  // the operations, which keep what the SDK hands over

  // A copy of a member, or a new value for it, under the fake's lock.
  template <class T>
  T Get(const T& member) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return member;
  }
  template <class T>
  void Put(T& member, std::type_identity_t<T> value) {
    std::lock_guard<std::mutex> guard(m_mutex);
    member = std::move(value);
  }

  mutable std::mutex m_mutex;
  std::vector<std::pair<std::string, std::string>> m_calls;
  std::map<std::string, int64_t> m_results;
  std::map<std::string, std::function<int64_t(int64_t)>> m_resultFns;
  NxlCallbacks m_nxl;
  OctCallbacks m_oct;
  int32_t m_devType = -1;  // -1: get_dev_info leaves the record alone
  std::vector<OctRecording> m_recordings;
  std::vector<OctRecItem> m_recItems;
  std::function<std::string(const std::string&)> m_configHandler;
  std::vector<std::string> m_queuedResponses;
  std::string m_currentResponse;
  std::vector<std::vector<uint8_t>> m_notices;
  std::vector<std::string> m_configRequests;
  OctRecQuery m_lastQuery{};
  DiscoveryCallbacks m_discovery;
  QVSP_PictureCallback m_picture = nullptr;
  std::pair<int32_t, int32_t> m_bitmapSize{0, 0};
  std::vector<Message> m_sent;
  std::atomic<int64_t> m_nextHandle{0};
};

}  // namespace qcsdk::test
