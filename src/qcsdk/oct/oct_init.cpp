#include "qcsdk/oct/oct_init.h"

#include "log/log.h"
#include "platform/oct_api.h"
#include "qcsdk/oct/oct_callbacks.h"

namespace qcsdk {

bool InitOct(const char* szTmpDir, const char* szLogDir) {
  const platform::OctApi& oct = platform::Oct();
  int32_t r = oct.init_sdk(szTmpDir, 0, "qcsdk", 0, 0);
  if (r < 0) {
    QC_LOG(log::kError, "oct_channel", "oct sdk init failed, ret=%d", r);
    return false;
  }
  oct.enable_log(4, szLogDir, 6);
  oct.encrypt_config(oct.default_encrypt_proc, oct.default_decrypt_proc);
  oct.register_callbacks(&oct::OnConnection);
  if ((r = oct.cmd_init_module(&oct::OnNotice)) < 0) {
    QC_LOG(log::kError, "oct_channel", "oct cmd service init failed, ret=%d", r);
    return false;
  }
  if ((r = oct.stream_init_module(&oct::OnStreamState, &oct::OnStreamData)) < 0) {
    QC_LOG(log::kError, "oct_channel", "oct stream service init failed, ret=%d", r);
    return false;
  }
  if ((r = oct.vod_init_module(&oct::OnVodState, &oct::OnVodData)) < 0) {
    QC_LOG(log::kError, "oct_channel", "oct vod service init failed, ret=%d", r);
    return false;
  }
  if ((r = oct.down_init_module(&oct::OnDownState, &oct::OnDownData)) < 0) {
    QC_LOG(log::kError, "oct_channel", "oct down service init failed, ret=%d", r);
    return false;
  }
  if ((r = oct.chat_init_module(&oct::OnChatState, &oct::OnChatData)) < 0) {
    QC_LOG(log::kError, "oct_channel", "oct chat service init failed, ret=%d", r);
    return false;
  }
  return StartOctWorkers();
}

void ReleaseOct() {
  const platform::OctApi& oct = platform::Oct();
  StopOctWorkers();
  oct.chat_release_module();
  oct.down_release_module();
  oct.vod_release_module();
  oct.stream_release_module();
  oct.cmd_release_module();
  oct.release_sdk();
}

}  // namespace qcsdk
