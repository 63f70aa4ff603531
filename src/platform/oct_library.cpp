// Binds the SDK's OCT operations to our OCT transport library (libs/oct).
#include "platform/oct_api.h"

namespace qcsdk::platform {

const OctApi& DefaultOct() {
  static const OctApi api{
      octc_init_sdk,
      octc_enable_log,
      octc_encrypt_config,
      octc_default_encrypt_proc,
      octc_default_decrypt_proc,
      octc_register_callbacks,
      octc_cmd_init_module,
      octc_stream_init_module,
      octc_vod_init_module,
      octc_down_init_module,
      octc_chat_init_module,
      octc_chat_release_module,
      octc_down_release_module,
      octc_vod_release_module,
      octc_stream_release_module,
      octc_cmd_release_module,
      octc_release_sdk,
      octc_connect_by_hostname,
      octc_connect_by_nimbus,
      octc_close_conn,
      octc_cmd_get_dev_info,
      octc_cmd_free_dev_info,
      octc_stream_open,
      octc_stream_close,
      octc_stream_insert_keyframe,
      octc_chat_open,
      octc_chat_close,
      octc_chat_write,
      octc_cmd_get_rec_file_list,
      octc_cmd_free_rec_file_list_result,
      octc_vod_open,
      octc_vod_close,
      octc_vod_set_speed,
      octc_vod_skip_to,
      octc_down_open,
      octc_down_close,
      octc_cmd_send_notify,
      octc_cmd_remote_config,
      octc_cmd_free_remote_config_result,
      octc_get_dev_online_status,
      octc_free_dev_online_status,
      octc_start_search_device_service,
      octc_search_device,
      octc_stop_search_device_service,
      octc_set_search_target,
  };
  return api;
}

}  // namespace qcsdk::platform
