// Used while our OCT transport library is not part of the build.
#include "platform/absent.h"
#include "platform/oct_api.h"

namespace qcsdk::platform {

const OctApi& DefaultOct() {
  static const OctApi api{
      QCSDK_REFUSE(octc_init_sdk, -1),
      QCSDK_REFUSE(octc_enable_log, -1),
      QCSDK_REFUSE(octc_encrypt_config, -1),
      QCSDK_REFUSE(octc_default_encrypt_proc, -1),
      QCSDK_REFUSE(octc_default_decrypt_proc, -1),
      QCSDK_REFUSE(octc_register_callbacks, -1),
      QCSDK_REFUSE(octc_cmd_init_module, -1),
      QCSDK_REFUSE(octc_stream_init_module, -1),
      QCSDK_REFUSE(octc_vod_init_module, -1),
      QCSDK_REFUSE(octc_down_init_module, -1),
      QCSDK_REFUSE(octc_chat_init_module, -1),
      QCSDK_REFUSE(octc_chat_release_module, -1),
      QCSDK_REFUSE(octc_down_release_module, -1),
      QCSDK_REFUSE(octc_vod_release_module, -1),
      QCSDK_REFUSE(octc_stream_release_module, -1),
      QCSDK_REFUSE(octc_cmd_release_module, -1),
      QCSDK_REFUSE(octc_release_sdk, -1),
      QCSDK_REFUSE(octc_connect_by_hostname, -1),
      QCSDK_REFUSE(octc_connect_by_nimbus, -1),
      QCSDK_REFUSE(octc_close_conn, -1),
      QCSDK_REFUSE(octc_cmd_get_dev_info, -1),
      QCSDK_REFUSE(octc_cmd_free_dev_info, -1),
      QCSDK_REFUSE(octc_stream_open, -1),
      QCSDK_REFUSE(octc_stream_close, -1),
      QCSDK_REFUSE(octc_stream_insert_keyframe, -1),
      QCSDK_REFUSE(octc_chat_open, -1),
      QCSDK_REFUSE(octc_chat_close, -1),
      QCSDK_REFUSE(octc_chat_write, -1),
      QCSDK_REFUSE(octc_cmd_get_rec_file_list, -1),
      QCSDK_REFUSE(octc_cmd_free_rec_file_list_result, -1),
      QCSDK_REFUSE(octc_vod_open, -1),
      QCSDK_REFUSE(octc_vod_close, -1),
      QCSDK_REFUSE(octc_vod_set_speed, -1),
      QCSDK_REFUSE(octc_vod_skip_to, -1),
      QCSDK_REFUSE(octc_down_open, -1),
      QCSDK_REFUSE(octc_down_close, -1),
      QCSDK_REFUSE(octc_cmd_send_notify, -1),
      QCSDK_REFUSE(octc_cmd_remote_config, -1),
      QCSDK_REFUSE(octc_cmd_free_remote_config_result, -1),
      QCSDK_REFUSE(octc_get_dev_online_status, -1),
      QCSDK_REFUSE(octc_free_dev_online_status, -1),
      QCSDK_REFUSE(octc_start_search_device_service, -1),
      QCSDK_REFUSE(octc_search_device, -1),
      QCSDK_REFUSE(octc_stop_search_device_service, -1),
      QCSDK_REFUSE(octc_set_search_target, -1),
  };
  return api;
}

}  // namespace qcsdk::platform
