/* OCT transport library: one TCP connection per device link, multiplexing
 * sub-handles (live stream, playback, download, talk) and synchronous command
 * exchanges. Results >= 0 are success, negative values errors; calls that
 * open something return a handle that is valid while above 0. Callbacks come
 * on the library's own threads.
 *
 * Lifecycle: octc_init_sdk, then the callbacks (octc_register_callbacks and the
 * five *_init_module calls), then connections; octc_release_sdk closes every
 * connection and joins every thread of the library, after which no callback
 * runs. Each connection delivers its callbacks in order on its own dispatcher
 * thread; a callback may call any function of the library (synchronous calls
 * on its own connection and octc_close_conn included) except octc_release_sdk.
 * Pointers handed to callbacks are valid only during the call; results of the
 * synchronous calls belong to the library until their free function.
 * docs/oct-protocol.md describes the calls, results and the wire protocol. */
#ifndef OCTC_OCTC_H
#define OCTC_OCTC_H

#include <stddef.h>
#include <stdint.h>

/* Version of this interface and of the wire protocol it speaks. */
#define OCTC_VERSION_MAJOR 1
#define OCTC_VERSION_MINOR 0
#define OCTC_PROTOCOL_VERSION 1

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

/* Records exchanged with the library. Records without pointers are byte-exact
 * little-endian layouts on every platform; records with pointers take the
 * platform's natural layout (the 32-bit sizes are checked below). Every
 * pointer a callback receives is valid only during that call; records
 * returned by the synchronous calls stay valid until their free function. */

/* Device information (octc_cmd_get_dev_info, connection callback). The three
 * texts are zero-terminated and owned by the library. */
typedef struct OctDevInfo {
  const char* device_id; /* cloud number of the device */
  const char* name;      /* device name */
  int32_t device_type;   /* 1 camera, 2 DVR, 3/4 NVR, 5 other recorder */
  int32_t channel_count; /* video channels, numbered from 1 */
  int32_t stream_count;  /* streams per channel, numbered from 0 */
  int32_t client_limit;  /* simultaneous logins the device accepts */
  const char* version;   /* firmware version text */
} OctDevInfo;

/* A date and time as seven 32-bit numbers. */
typedef struct OctTime {
  int32_t year, month, day, hour, minute, second, millisecond;
} OctTime;

/* Recording query (60 bytes, byte-exact). */
typedef struct OctRecQuery {
  int32_t channel; /* device channel, from 1 */
  OctTime begin;
  OctTime end;
} OctRecQuery;

/* One recording of a list. Texts owned by the library until the list is
 * freed; path is the key for octc_vod_open and octc_down_open. */
typedef struct OctRecItem {
  const char* name;
  const char* path;
  int32_t channel;
  int32_t kind; /* 0 continuous, 1 alarm, 2 motion */
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour; /* start time of day */
  int32_t minute;
  int32_t second;
  int32_t duration_s;
  uint32_t size_low; /* file size in bytes, two 32-bit halves */
  uint32_t size_high;
  int32_t reserved;
} OctRecItem;

/* Result of octc_cmd_get_rec_file_list, freed with
 * octc_cmd_free_rec_file_list_result. */
typedef struct OctRecList {
  int32_t count;
  OctRecItem* items;
} OctRecList;

/* Media information of a live stream or a playback (36 bytes, byte-exact).
 * Codecs: video 1 H.264, 2 H.265; audio 0 none, 1 G.711 mu-law, 2 AAC,
 * 3 IMA ADPCM, 4 G.711 A-law. */
typedef struct OctMediaInfo {
  int32_t video_codec;
  int32_t width;
  int32_t height;
  int32_t frame_rate_x10000; /* frames per second times 10000 */
  int32_t audio_codec;
  int32_t audio_channels;
  int32_t audio_sample_rate;
  int32_t audio_bits;
  int32_t duration_ms; /* playback length; 0 for live streams */
} OctMediaInfo;

/* Data kinds of the stream and playback data callbacks. */
#define OCTC_DATA_MEDIA_INFO 1 /* record: const OctMediaInfo* */
#define OCTC_DATA_VIDEO 2      /* record: const OctFrame* */
#define OCTC_DATA_AUDIO 3      /* record: const OctAudio* */

/* Video frame types. */
#define OCTC_FRAME_KEY 1
#define OCTC_FRAME_P 2
#define OCTC_FRAME_B 3

typedef struct OctFrame {
  int32_t type; /* OCTC_FRAME_* */
  const uint8_t* data;
  int32_t size;
  uint32_t timestamp_ms;
} OctFrame;

typedef struct OctAudio {
  const uint8_t* data;
  int32_t size;
  uint32_t timestamp_ms;
} OctAudio;

/* Download data block. */
typedef struct OctDownData {
  int32_t handle;
  const uint8_t* data;
  int32_t size;
  int32_t reserved;
  uint64_t total;    /* size of the whole file in bytes */
  uint64_t received; /* bytes received so far, this block included */
} OctDownData;

/* One device of octc_get_dev_online_status (76 bytes, byte-exact). */
typedef struct OctOnlineStatus {
  char number[64]; /* the cloud number asked for, cut to 63 bytes */
  int32_t online;  /* 1 registered with the directory, 0 not */
  int32_t port;    /* registered port, 0 when offline */
  int32_t reserved;
} OctOnlineStatus;

/* A device found by the search (event 0 of the search callback). */
typedef struct OctSearchInfo {
  const char* device_id; /* cloud number */
  const char* name;
  int32_t device_type; /* as OctDevInfo */
  int32_t reserved1;
  int32_t channel_count;
  int32_t flags; /* bit 0: the device is registered with a directory */
  int32_t reserved2;
  const char* address; /* dotted IPv4 address the device answers on */
  int32_t port;        /* TCP port of the device */
} OctSearchInfo;

/* Search callback events. */
#define OCTC_SEARCH_FOUND 0
#define OCTC_SEARCH_END 1

/* Connection callback events. */
#define OCTC_CONN_RESULT 1 /* result 0: logged in, info points at the device information */
#define OCTC_CONN_CLOSED 3 /* an established connection ended (result below) */

/* Results besides those the SDK interprets. */
#define OCTC_OK 0
#define OCTC_ERR_FAILED (-1)      /* bad argument, unknown handle, not initialised */
#define OCTC_ERR_UNREACHABLE (-2) /* no TCP connection, or the cloud number is unknown */
#define OCTC_ERR_TIMEOUT (-3)     /* no answer in time */
#define OCTC_ERR_PROTOCOL (-4)    /* malformed or unexpected message */
#define OCTC_ERR_VERSION (-5)     /* no common protocol version */
#define OCTC_ERR_LINK_LOST (-6)   /* the connection broke or fell silent */
#define OCTC_ERR_REFUSED (-7)     /* the device refused the request */
#define OCTC_ERR_BUSY (-8)        /* a search is already running, or a port is in use */

/* Sub-handle states (second argument of the state callbacks). */
#define OCTC_STATE_RESULT \
  0 /* stream/talk: open result; playback/download: ended (flag != 0: failed) */
#define OCTC_STATE_CLOSED 1 /* closed by the device */

#ifdef __cplusplus
#define OCTC_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define OCTC_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
OCTC_STATIC_ASSERT(sizeof(OctDevInfo) == 28, "OctDevInfo is 28 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctRecList) == 8, "OctRecList is 8 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctRecItem) == 56, "OctRecItem is 56 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctFrame) == 16, "OctFrame is 16 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctAudio) == 12, "OctAudio is 12 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctDownData) == 32, "OctDownData is 32 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(sizeof(OctSearchInfo) == 36, "OctSearchInfo is 36 bytes on 32-bit platforms");
OCTC_STATIC_ASSERT(offsetof(OctDevInfo, version) == 24, "OctDevInfo texts at 0, 4 and 24");
OCTC_STATIC_ASSERT(offsetof(OctRecItem, hour) == 28, "OctRecItem time of day at 28");
OCTC_STATIC_ASSERT(offsetof(OctDownData, total) == 16, "OctDownData totals at 16 and 24");
OCTC_STATIC_ASSERT(offsetof(OctDownData, received) == 24, "OctDownData totals at 16 and 24");
OCTC_STATIC_ASSERT(offsetof(OctSearchInfo, address) == 28, "OctSearchInfo address is field 7");
OCTC_STATIC_ASSERT(offsetof(OctSearchInfo, port) == 32, "OctSearchInfo port is field 8");
#endif
OCTC_STATIC_ASSERT(sizeof(OctRecQuery) == 60, "OctRecQuery is 60 bytes");
OCTC_STATIC_ASSERT(sizeof(OctMediaInfo) == 36, "OctMediaInfo is 36 bytes");
OCTC_STATIC_ASSERT(sizeof(OctOnlineStatus) == 76, "OctOnlineStatus is 76 bytes");

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

/* Configuration of our own (any time, also before octc_init_sdk). */
/* Directory service used by octc_connect_by_nimbus and octc_get_dev_online_status;
 * default 127.0.0.1:29800. Returns 0, or OCTC_ERR_FAILED for a bad address. */
OCTC_API int32_t octc_set_directory(const char* address, int32_t port);
/* Where octc_search_device sends its probe (dotted IPv4 address; port 0 = the
 * remote port given to octc_start_search_device_service) and the local address
 * the search service binds; default target 127.255.255.255, local 127.0.0.1. */
OCTC_API int32_t octc_set_search_target(const char* target, int32_t port, const char* local);
/* Keep-alive: a ping after interval_ms of silence, the link is lost after
 * timeout_ms without any message; synchronous calls wait up to request_ms.
 * 0 keeps a value. Defaults 2000, 10000, 5000 ms. Applies to new connections. */
OCTC_API int32_t octc_set_timeouts(int32_t interval_ms, int32_t timeout_ms, int32_t request_ms);

#ifdef __cplusplus
}
#endif
#endif
