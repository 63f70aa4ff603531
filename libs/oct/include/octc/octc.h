/* OCT transport library: one TCP connection per device link, multiplexing
 * sub-handles (live stream, playback, download, talk) and synchronous command
 * exchanges. Results >= 0 are success, negative values errors; calls that
 * open something return a handle that is valid while above 0. Callbacks come
 * on the library's own threads. */
#ifndef OCTC_OCTC_H
#define OCTC_OCTC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define OCTC_API __declspec(dllexport)
#else
#define OCTC_API __attribute__((visibility("default")))
#endif

/* Connect results the SDK interprets. */
#define OCTC_ERR_AUTH (-10)
#define OCTC_ERR_CLIENT_LIMIT (-34)
#define OCTC_ERR_NO_CHANNEL (-36)

/* Records exchanged with the library; their layouts are documented with the
 * library (docs/) and defined where they are first used. */
typedef struct OctDevInfo OctDevInfo;
typedef struct OctRecQuery OctRecQuery;
typedef struct OctRecList OctRecList;
typedef struct OctDownData OctDownData;
typedef struct OctOnlineStatus OctOnlineStatus;
typedef struct OctSearchInfo OctSearchInfo;

/* A text exchanged by octc_cmd_remote_config. */
typedef struct OctBuffer {
  const char* text;
  int32_t length;
} OctBuffer;

typedef int32_t (*OctCryptProc)(const uint8_t* in, int32_t length, uint8_t* out, int32_t capacity);

typedef void (*OctConnCallback)(int32_t conn, int32_t event, int32_t reserved1, int32_t result,
                                int32_t reserved2, int32_t reserved3, int32_t reserved4,
                                const OctDevInfo* info);
typedef void (*OctNoticeCallback)(int32_t conn, int32_t type, const void* data, int32_t length);
typedef void (*OctStateCallback)(int32_t conn, int32_t handle, int32_t status, int32_t result);
typedef void (*OctRecordCallback)(int32_t conn, int32_t handle, int32_t kind, const void* record);
typedef void (*OctDownDataCallback)(int32_t conn, int32_t handle, const OctDownData* data);
typedef void (*OctChatDataCallback)(int32_t conn, int32_t handle, const void* data, int32_t length);
typedef void (*OctSearchCallback)(int32_t event, const OctSearchInfo* info);

/* Set-up and release. */
OCTC_API int32_t octc_init_sdk(const char* tmpDir, int32_t reserved1, const char* appName,
                               int32_t reserved2, int32_t reserved3);
OCTC_API int32_t octc_enable_log(int32_t level, const char* dir, int32_t days);
OCTC_API int32_t octc_default_encrypt_proc(const uint8_t* in, int32_t length, uint8_t* out,
                                           int32_t capacity);
OCTC_API int32_t octc_default_decrypt_proc(const uint8_t* in, int32_t length, uint8_t* out,
                                           int32_t capacity);
OCTC_API int32_t octc_encrypt_config(OctCryptProc encrypt, OctCryptProc decrypt);
OCTC_API int32_t octc_register_callbacks(OctConnCallback onConn);
OCTC_API int32_t octc_cmd_init_module(OctNoticeCallback onNotice);
OCTC_API int32_t octc_stream_init_module(OctStateCallback onState, OctRecordCallback onData);
OCTC_API int32_t octc_vod_init_module(OctStateCallback onState, OctRecordCallback onData);
OCTC_API int32_t octc_down_init_module(OctStateCallback onState, OctDownDataCallback onData);
OCTC_API int32_t octc_chat_init_module(OctStateCallback onState, OctChatDataCallback onData);
OCTC_API int32_t octc_chat_release_module(void);
OCTC_API int32_t octc_down_release_module(void);
OCTC_API int32_t octc_vod_release_module(void);
OCTC_API int32_t octc_stream_release_module(void);
OCTC_API int32_t octc_cmd_release_module(void);
OCTC_API int32_t octc_release_sdk(void);

/* Connections. */
OCTC_API int32_t octc_connect_by_hostname(const char* host, int32_t port, const char* user,
                                          const char* password, int32_t r1, int32_t r2, int32_t r3);
OCTC_API int32_t octc_connect_by_nimbus(const char* cloudNumber, const char* user,
                                        const char* password, int32_t r1, int32_t r2);
OCTC_API int32_t octc_close_conn(int32_t conn);
OCTC_API int32_t octc_cmd_get_dev_info(int32_t conn, OctDevInfo* info);
OCTC_API int32_t octc_cmd_free_dev_info(OctDevInfo* info);

/* Live stream. */
OCTC_API int32_t octc_stream_open(int32_t conn, int32_t channel, int32_t stream, int32_t r1,
                                  int32_t r2);
OCTC_API int32_t octc_stream_close(int32_t conn, int32_t handle);
OCTC_API int32_t octc_stream_insert_keyframe(int32_t conn, int32_t handle);

/* Talk. */
OCTC_API int32_t octc_chat_open(int32_t conn);
OCTC_API int32_t octc_chat_close(int32_t conn, int32_t handle);
OCTC_API int32_t octc_chat_write(int32_t conn, int32_t handle, const void* data, int32_t size,
                                 uint32_t timestampLow, uint32_t timestampHigh);

/* Recordings: list, playback, download. */
OCTC_API int32_t octc_cmd_get_rec_file_list(int32_t conn, const OctRecQuery* query,
                                            OctRecList* list);
OCTC_API int32_t octc_cmd_free_rec_file_list_result(OctRecList* list);
OCTC_API int32_t octc_vod_open(int32_t conn, const char* path, int32_t reserved);
OCTC_API int32_t octc_vod_close(int32_t conn, int32_t handle);
OCTC_API int32_t octc_vod_set_speed(int32_t conn, int32_t handle, int32_t speed);
OCTC_API int32_t octc_vod_skip_to(int32_t conn, int32_t handle, int32_t positionMs);
OCTC_API int32_t octc_down_open(int32_t conn, const char* path, int32_t reserved);
OCTC_API int32_t octc_down_close(int32_t conn, int32_t handle);

/* Commands. */
OCTC_API int32_t octc_cmd_send_notify(int32_t conn, int32_t type, const void* data, int32_t length);
OCTC_API int32_t octc_cmd_remote_config(int32_t conn, int32_t reserved, const OctBuffer* request,
                                        OctBuffer* response);
OCTC_API int32_t octc_cmd_free_remote_config_result(OctBuffer* response);
OCTC_API int32_t octc_get_dev_online_status(int32_t count, const char** numbers,
                                            OctOnlineStatus** status);
OCTC_API int32_t octc_free_dev_online_status(OctOnlineStatus* status);

/* Device search. */
OCTC_API int32_t octc_start_search_device_service(int32_t localPort, int32_t remotePort,
                                                  int32_t reserved, OctSearchCallback onResult);
OCTC_API int32_t octc_search_device(int32_t reserved, int32_t timeoutMs);
OCTC_API int32_t octc_stop_search_device_service(void);

#ifdef __cplusplus
}
#endif
#endif
