/* Nxl transport library: links to devices over TCP, addressed by a link id
 * chosen by the caller, plus LAN search and broadcast over UDP.
 *
 * Results that are truth values are non-zero on success (callers test the
 * low byte). Everything a device sends arrives through the seven callbacks
 * registered with QVC_RegisterCallBack, on the library's own threads: a few
 * event-loop threads (one per processor core, at least 1, at most 8) serve
 * all links. The callbacks of one link come in order from one thread, never
 * from two at once; a callback that blocks delays the other links of its
 * thread. QVC_SendData never keeps the caller longer than 5 s. */
#ifndef QVC_QVC_H
#define QVC_QVC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVC_API __declspec(dllexport)
#else
#define QVC_API __attribute__((visibility("default")))
#endif

/* Connect result codes of QVC_ConnectCallback. */
#define QVC_CONNECT_OK 1
#define QVC_CONNECT_DISCONNECTED 2
#define QVC_CONNECT_FAILED 4 /* text says why */
#define QVC_CONNECT_LOST 6
#define QVC_CONNECT_REMOTE_CLOSED 7

typedef void (*QVC_ConnectCallback)(int32_t linkId, uint8_t result, const char* text);
/* Live stream and playback data: frame type 1 key, 2 B, 3 P, 4 audio,
 * 8 control/stream header, '2' '9' 'w' playback ends. */
typedef void (*QVC_StreamCallback)(int32_t linkId, uint8_t frameType, const uint8_t* data,
                                   int32_t length);
typedef void (*QVC_FileListCallback)(int32_t linkId, const uint8_t* data, int32_t length);
/* Talk kinds: 'A' audio, 'B' accepted, 'C' ended. */
typedef void (*QVC_TalkCallback)(int32_t linkId, uint8_t kind, const uint8_t* data, int32_t length);
typedef void (*QVC_TextCallback)(int32_t linkId, uint8_t type, const uint8_t* data, int32_t length);
/* Download types: 33, 37, 41 data; 34, 35, 36, 118 ends. */
typedef void (*QVC_DownloadCallback)(int32_t linkId, uint8_t type, const uint8_t* data,
                                     int32_t length, uint32_t total);

/* One LAN search answer, 692 bytes, passed by value. */
typedef struct QVC_SearchResult {
  char group[8];        /* device group letters, zero-terminated */
  int32_t number;       /* numeric part of the device number */
  int32_t cardType;     /* hardware card type */
  int32_t channelCount; /* channels of the device */
  int32_t port;         /* device port */
  char address[64];     /* dotted IPv4 address, zero-terminated */
  char name[256];       /* device name, zero-terminated */
  int32_t endOfSearch;  /* non-zero: the search has ended; the other fields are empty */
  uint8_t reserved[344];
} QVC_SearchResult;

typedef void (*QVC_SearchCallback)(QVC_SearchResult result);
/* Broadcast answers: (message id, answer bytes, length, source address in
 * network order, end flag). The end flag is non-zero on the last call of a
 * broadcast, which carries no data. */
typedef void (*QVC_BroadcastCallback)(int32_t messageId, const uint8_t* data, int32_t length,
                                      uint32_t source, int32_t end);

/* Set-up and release. */
QVC_API int32_t QVC_InitSDK(int32_t param, int32_t reserved);
QVC_API int32_t QVC_SetLocalFilePath(const char* path);
QVC_API int32_t QVC_RegisterCallBack(QVC_ConnectCallback onConnect, QVC_StreamCallback onLive,
                                     QVC_FileListCallback onFileList, QVC_TalkCallback onTalk,
                                     QVC_TextCallback onText, QVC_DownloadCallback onDownload,
                                     QVC_StreamCallback onPlayback);
QVC_API int32_t QVC_EnableHelp(int32_t a, int32_t b);
QVC_API int32_t QVC_ReleaseSDK(void);
QVC_API int32_t QVC_SetLocalNetCard(int32_t card);

/* Links. byNumber 0: connect to `address`:`port` (read as inet_addr reads
 * it); 1: look the device up by `group` + `number` in the directory. The
 * outcome arrives through the connect callback, also for a connect refused
 * at once (result 0). */
QVC_API int32_t QVC_Connect(int32_t byNumber, int32_t linkId, int32_t deviceChannel,
                            const char* address, int32_t port, const char* user,
                            const char* password, int32_t number, const char* group, int32_t flag1,
                            int32_t flag2, int32_t reserved1, int32_t reserved2, int32_t reserved3);
QVC_API int32_t QVC_DisConnect(int32_t linkId);
QVC_API int32_t QVC_SendData(int32_t linkId, int32_t type, const void* data, int32_t length);
/* Channel count of a registered device (> 0 online), -1 when it is offline. */
QVC_API int32_t QVC_WANGetChannelCount(const char* group, int32_t number, int32_t timeoutMs);

/* LAN search. */
QVC_API void QVC_EnableSearchCache(int32_t enable);
QVC_API int32_t QVC_StartLANSerchServer(int32_t localPort, int32_t remotePort,
                                        QVC_SearchCallback onResult, int32_t mode);
QVC_API int32_t QVC_LANSerchDevice(const char* filter1, int32_t a, int32_t b, int32_t c,
                                   const char* filter2, int32_t timeoutMs, int32_t maxAnswers);
QVC_API void QVC_StopLANSerchServer(void);

/* Broadcast service (OKIP). */
QVC_API int32_t QVC_StartBroadcastServer(int32_t localPort, int32_t remotePort,
                                         QVC_BroadcastCallback onAnswer);
QVC_API int32_t QVC_StopBroadcastServer(void);
QVC_API int32_t QVC_BroadcastOnce(int32_t messageId, const void* message, int32_t length,
                                  int32_t timeoutMs);

#ifdef __cplusplus
}
#endif
#endif
