// The OCT transport library's operations as the SDK calls them. This header
// is the one door of the library's declarations into the SDK (records,
// callback types, result codes): nothing else under src/ includes octc.h.
#pragma once

#include <octc/octc.h>

namespace qcsdk::platform {

struct OctApi {
  decltype(&octc_init_sdk) init_sdk;
  decltype(&octc_enable_log) enable_log;
  decltype(&octc_encrypt_config) encrypt_config;
  // The library's own default encryption procedures, handed back to it.
  decltype(&octc_default_encrypt_proc) default_encrypt_proc;
  decltype(&octc_default_decrypt_proc) default_decrypt_proc;
  decltype(&octc_register_callbacks) register_callbacks;
  decltype(&octc_cmd_init_module) cmd_init_module;
  decltype(&octc_stream_init_module) stream_init_module;
  decltype(&octc_vod_init_module) vod_init_module;
  decltype(&octc_down_init_module) down_init_module;
  decltype(&octc_chat_init_module) chat_init_module;
  decltype(&octc_chat_release_module) chat_release_module;
  decltype(&octc_down_release_module) down_release_module;
  decltype(&octc_vod_release_module) vod_release_module;
  decltype(&octc_stream_release_module) stream_release_module;
  decltype(&octc_cmd_release_module) cmd_release_module;
  decltype(&octc_release_sdk) release_sdk;
  decltype(&octc_connect_by_hostname) connect_by_hostname;
  decltype(&octc_connect_by_nimbus) connect_by_nimbus;
  decltype(&octc_close_conn) close_conn;
  decltype(&octc_cmd_get_dev_info) cmd_get_dev_info;
  decltype(&octc_cmd_free_dev_info) cmd_free_dev_info;
  decltype(&octc_stream_open) stream_open;
  decltype(&octc_stream_close) stream_close;
  decltype(&octc_stream_insert_keyframe) stream_insert_keyframe;
  decltype(&octc_chat_open) chat_open;
  decltype(&octc_chat_close) chat_close;
  decltype(&octc_chat_write) chat_write;
  decltype(&octc_cmd_get_rec_file_list) cmd_get_rec_file_list;
  decltype(&octc_cmd_free_rec_file_list_result) cmd_free_rec_file_list_result;
  decltype(&octc_vod_open) vod_open;
  decltype(&octc_vod_close) vod_close;
  decltype(&octc_vod_set_speed) vod_set_speed;
  decltype(&octc_vod_skip_to) vod_skip_to;
  decltype(&octc_down_open) down_open;
  decltype(&octc_down_close) down_close;
  decltype(&octc_cmd_send_notify) cmd_send_notify;
  decltype(&octc_cmd_remote_config) cmd_remote_config;
  decltype(&octc_cmd_free_remote_config_result) cmd_free_remote_config_result;
  decltype(&octc_get_dev_online_status) get_dev_online_status;
  decltype(&octc_free_dev_online_status) free_dev_online_status;
  decltype(&octc_start_search_device_service) start_search_device_service;
  decltype(&octc_search_device) search_device;
  decltype(&octc_stop_search_device_service) stop_search_device_service;
  // Where search probes go and the local address the search service binds.
  decltype(&octc_set_search_target) set_search_target;
};

const OctApi& Oct();
void BindOct(const OctApi* api);
const OctApi& DefaultOct();

}  // namespace qcsdk::platform
