/*
 * qcsdk: client SDK for network video devices (IP cameras, DVRs, NVRs).
 *
 * OVERVIEW
 *
 * Lifecycle. Register callbacks (any time, QCSDK_RegisterCallback and the
 * two others), call QCSDK_InitSDK once, open channels with QCSDK_Connect or
 * QCSDK_Connect2, work with them, then call QCSDK_ReleaseSDK. Registration,
 * QCSDK_InitSDK and QCSDK_ReleaseSDK take no lock: call them from one thread
 * while no other SDK call is in progress. Reports produced while a callback
 * slot is null are lost; registering replaces a slot at once.
 *
 * Channels. A channel is named by a number from 0 to 511, the value the
 * connect exports return. Every per-channel export takes it first and returns
 * 0 when the number names no channel (out of range, never used, or a channel
 * whose link has ended). A channel leaves the table by itself after its link
 * ends (events 2 to 9) and its number is reused by the next connect: the
 * lowest free number is always taken.
 *
 * Link events. A connect returns at once; the outcome arrives later through
 * the EventCallback: event 1 when the link is up and the first stream
 * description has arrived, or one of events 2 to 6 when connecting failed.
 * Events 7, 8 and 9 end an established link.
 *
 * Threads. Reports arrive on the threads of their sources: the transport
 * libraries' receive threads (link events, raw data, talk, download, user
 * data), the OCT connection workers, the player's decoding thread (decoded
 * pictures), the search services' threads (search results), and, for reports
 * raised inside an export, the host's own calling thread (for example event 7
 * from QCSDK_Disconnect on an OCT channel). Reports of different channels
 * are not serialised: two channels may report at the same time.
 *
 * Calling the SDK from a callback. A host may call any export from inside any
 * callback, on the reporting thread, including QCSDK_Disconnect and
 * QCSDK_Connect. Two locks are held while some reports run: the channel's
 * remote-list lock during events 10 and 11, and the search lock during search
 * results. Do not hand work to another thread from such a report and wait for
 * it if that work needs the same channel's list or a search.
 *
 * Lifetime. A channel removed from the table (link ended, QCSDK_Disconnect,
 * QCSDK_ReleaseSDK) stays alive until every call and callback still using it
 * has returned; it is then destroyed on whichever thread finished last.
 * After QCSDK_ReleaseSDK returns no transport callback of a released library
 * is delivered any more.
 *
 * Ownership of what the SDK hands out:
 *  - RawFrame and its bytes, DecodedFrame and its planes, search and OKIP
 *    records, talk and user data: valid only during the callback.
 *  - The event-10 list (data pointer of event 10): valid until the next list
 *    of the same channel arrives or the channel is destroyed.
 *  - The text of event 1: valid only during the callback.
 *  - A buffer from QCSDK_SaveBitmapToBuffer belongs to the host and is freed
 *    with QCSDK_FreeBitmapBuffer.
 *  - Strings and arrays in RPC results (qcsdk_grpc.h) live until the channel
 *    is destroyed or the host calls QCSDK_GRPC_FreeResults for it; the host
 *    never frees them one by one.
 *
 * The SDK changes no process-wide state: it installs no signal handler and
 * changes no locale.
 */
#ifndef QCSDK_QCSDK_H
#define QCSDK_QCSDK_H

#include <stdint.h>

/* Version of this header. QCSDK_GetVersion returns the library's; a host
 * can compare the two to detect a mismatched header and library. */
#define QCSDK_VERSION_MAJOR 0
#define QCSDK_VERSION_MINOR 1
#define QCSDK_VERSION_PATCH 0
#define QCSDK_VERSION \
  ((QCSDK_VERSION_MAJOR << 16) | (QCSDK_VERSION_MINOR << 8) | QCSDK_VERSION_PATCH)

/* QCSDK_CALL: calling convention of the exports (standard call on 32-bit
 * Windows, the platform default elsewhere). QCSDK_CALLBACK: calling
 * convention of the host callbacks (C convention). */
#if defined(_WIN32) && !defined(_WIN64)
#define QCSDK_CALL __stdcall
#define QCSDK_CALLBACK __cdecl
#else
#define QCSDK_CALL
#define QCSDK_CALLBACK
#endif

/* QCSDK_API: an export of the library. On Windows qcsdk.dll's export table
 * is a module-definition file written from these declarations, so the
 * library's own build marks nothing for export there. */
#if defined(QCSDK_BUILDING)
#if defined(_WIN32)
#define QCSDK_API
#else
#define QCSDK_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define QCSDK_API __declspec(dllimport)
#else
#define QCSDK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------- */
/* Event codes of EventCallback. Unless stated, the data pointer is null and
 * the integer argument 0. */

/* Connected: the link is up and the first stream description has arrived.
 * Data: the text the transport gave when the link came up ("" if none). */
#define QCSDK_EVENT_CONNECTED 1
/* Connecting failed: user name or password refused. */
#define QCSDK_EVENT_AUTH_FAILED 2
/* Connecting failed: the device has no service on the requested channel. */
#define QCSDK_EVENT_NO_CHANNEL 3
/* Connecting failed: the connection type is not accepted. */
#define QCSDK_EVENT_BAD_CONNECT_TYPE 4
/* Connecting failed: the device's client limit is reached. */
#define QCSDK_EVENT_CLIENT_LIMIT 5
/* Connecting failed for any other reason (unreachable, no answer, ...). */
#define QCSDK_EVENT_CONNECT_FAILED 6
/* Disconnected on request (QCSDK_Disconnect). */
#define QCSDK_EVENT_DISCONNECTED 7
/* Link lost: an established or half-established link broke. */
#define QCSDK_EVENT_LINK_LOST 8
/* The remote side closed the link. */
#define QCSDK_EVENT_REMOTE_CLOSED 9
/* Remote recording list received. Data: the first of `integer` entries of
 * QCSDK_REC_ENTRY_SIZE bytes each (layout below), or null when there are
 * none. A device's list is cut to its first QCSDK_REC_LIST_MAX entries (ask
 * for fewer days to see the rest). Runs under the channel's remote-list lock;
 * the list stays valid until the next list of this channel arrives or the
 * channel is destroyed. */
#define QCSDK_EVENT_REC_LIST 10
/* Remote recording list query failed. Runs under the remote-list lock. */
#define QCSDK_EVENT_REC_LIST_FAILED 11
/* Remote playback ended; the code carries the transport's reason. */
#define QCSDK_EVENT_PLAYBACK_END_12 12
#define QCSDK_EVENT_PLAYBACK_END_13 13
#define QCSDK_EVENT_PLAYBACK_END_14 14
#define QCSDK_EVENT_PLAYBACK_END_15 15
/* A new stream description arrived while connected (for example when remote
 * playback ends and the live stream resumes). */
#define QCSDK_EVENT_STREAM_CHANGED 16
/* The device reported its own recording state: the state is passed in the
 * data-pointer position as a pointer-sized number; integer 0. */
#define QCSDK_EVENT_RECORDING_STATE 17

/* Talk events of TalkCallback. */
#define QCSDK_TALK_ACCEPTED 0 /* audio type: the format the device expects */
#define QCSDK_TALK_AUDIO 1    /* audio type 255; one block of device audio */
#define QCSDK_TALK_ENDED 2    /* audio type 255 */

/* Codes of DownloadCallback. Progress is in ten-thousandths of the whole;
 * codes 1 to 4 end the download with the transport's reason, and the local
 * file is already closed when they arrive. */
#define QCSDK_DOWNLOAD_PROGRESS 0
#define QCSDK_DOWNLOAD_END_1 1
#define QCSDK_DOWNLOAD_END_2 2
#define QCSDK_DOWNLOAD_END_3 3
#define QCSDK_DOWNLOAD_END_4 4

/* Frame types of RawFrame. */
#define QCSDK_FRAME_KEY 0
#define QCSDK_FRAME_P 1
#define QCSDK_FRAME_B 2
#define QCSDK_FRAME_AUDIO 3

/* Transports of QCSDK_Connect2 and of search results. */
#define QCSDK_TRANSPORT_NXL 0
#define QCSDK_TRANSPORT_OCT 1

/* Remote recording entry (element of the event-10 list), 4,112 bytes:
 *   offset 0     int32  index in the list, from 0
 *   offset 4     int32  kind: 1 ".sv4", 2 ".sv5", 3 ".sv6", 4 and 5 ".mp4"
 *   offset 8     char[8]    name (six characters and a terminator)
 *   offset 16    char[2048] display file name, zero-terminated
 *   offset 2064  char[2048] path on the device, zero-terminated */
#define QCSDK_REC_ENTRY_SIZE 4112
/* The most entries one list holds. */
#define QCSDK_REC_LIST_MAX 4096

/* ---------------------------------------------------------------------- */
/* Records. */

/* An undecoded frame, built for the duration of a RawDataCallback. 12 bytes
 * in a 32-bit build. */
typedef struct RawFrame {
  int32_t type;        /* QCSDK_FRAME_* (other values may be passed on) */
  const uint8_t* data; /* frame bytes, valid during the call */
  int32_t length;      /* bytes */
} RawFrame;

/* A decoded picture, planar YUV 4:2:0, copied for the call. 32 bytes in a
 * 32-bit build. The planes belong to the player and are valid only during
 * the call. */
typedef struct DecodedFrame {
  int32_t width;
  int32_t height;
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int32_t yStride;
  int32_t uStride;
  int32_t vStride; /* equal to uStride */
} DecodedFrame;

/* Stream description returned by QCSDK_GetStreamInfo: twelve int32 values. */
typedef struct StreamInfo {
  int32_t videoCodec; /* 1 MPEG-4, 2 H.264, 11 H.265, 0 other */
  int32_t width;
  int32_t height;
  int32_t frameRateNum;
  int32_t frameRateDen;   /* 1 when the device gives 0 */
  int32_t audioCodec;     /* 3 IMA ADPCM, 4 G.711 A-law, 5 G.711 mu-law, 6 AAC, 0 other */
  int32_t audioParam1;    /* as the transport fills it (sample rate) */
  int32_t audioParam3;    /* as the transport fills it (bits per sample) */
  int32_t audioParam2;    /* as the transport fills it (channels) */
  int32_t recordingKind;  /* 1 ".sv4", 2 ".sv5", 3 ".sv6", 4 and 5 ".mp4", 0 unknown */
  int32_t totalFrames;    /* frames of a recording, 0 for live */
  int32_t framesReceived; /* video frames since this description arrived */
} StreamInfo;

/* Display rectangle for QCSDK_SetVideoPreview, in the pixel coordinates of
 * the window it is given with (0, 0 is the window's top-left corner). Right
 * and bottom are exclusive: {10, 20, 330, 200} is 320 x 180 pixels. Each
 * value must lie within -32768 to 32767 and each side from 1 to 8192 pixels.
 * Parts outside the window are clipped. */
typedef struct QCSDK_Rect {
  int32_t left;
  int32_t top;
  int32_t right;  /* first column after the rectangle */
  int32_t bottom; /* first row after the rectangle */
} QCSDK_Rect;

/* One device found by QCSDK_LanSeartchDevice, 404 bytes. */
typedef struct QCSDK_SearchResult {
  char deviceNumber[64]; /* zero-terminated */
  char address[64];      /* dotted IPv4, zero-terminated */
  int32_t port;
  char name[256];     /* zero-terminated */
  int32_t deviceType; /* 1 IP camera, 2 DVR, 3 NVR, 4 other kinds; 0 unknown */
  int32_t channelCount;
  int32_t word396;   /* 1 for Nxl answers; the OCT library's value otherwise */
  int32_t transport; /* QCSDK_TRANSPORT_*: pass it to QCSDK_Connect2 */
} QCSDK_SearchResult;

/* One OKIP answer, 160 bytes. */
typedef struct QCSDK_OkipResult {
  char deviceNumber[32]; /* group letters and number, zero-terminated */
  char address[16];      /* dotted IPv4, zero-terminated */
  int32_t word16;        /* the answer's word at offset 16 */
  int32_t word124;       /* the answer's word at offset 124 */
  char name[100];        /* zero-terminated */
  int32_t deviceType;
} QCSDK_OkipResult;

/* ---------------------------------------------------------------------- */
/* Callbacks (C calling convention, no result). pUserData is the value given
 * as the last argument of the connect export of that channel. */

/* Link and channel events (QCSDK_EVENT_*). */
typedef void(QCSDK_CALLBACK* EventCallback)(int32_t channel, int32_t event, const char* data,
                                            int32_t value, void* pUserData);
/* Every undecoded frame of a channel whose stream carries H.264, or of every
 * codec once QCSDK_SetRawDataAllCodecs switched that on for the channel. */
typedef void(QCSDK_CALLBACK* RawDataCallback)(int32_t channel, const RawFrame* frame,
                                              void* pUserData);
/* Download progress and end (QCSDK_DOWNLOAD_*). */
typedef void(QCSDK_CALLBACK* DownloadCallback)(int32_t channel, int32_t code, int32_t progress,
                                               int32_t total, void* pUserData);
/* Every picture the player decoded for a channel (decoder switched on). */
typedef void(QCSDK_CALLBACK* DecodedFrameCallback)(int32_t channel, const DecodedFrame* frame,
                                                   void* pUserData);
/* One search result, or null once when the search has ended. */
typedef void(QCSDK_CALLBACK* SearchCallback)(const QCSDK_SearchResult* result);
/* Two-way audio events (QCSDK_TALK_*). */
typedef void(QCSDK_CALLBACK* TalkCallback)(int32_t channel, int32_t event, int32_t audioType,
                                           const uint8_t* data, int32_t length, void* pUserData);
/* Opaque user data sent by a device. */
typedef void(QCSDK_CALLBACK* UserDataCallback)(int32_t channel, const uint8_t* data,
                                               int32_t length);
/* One OKIP answer, or null once when the broadcast's answers have ended. */
typedef void(QCSDK_CALLBACK* OkipCallback)(const QCSDK_OkipResult* result);
/* One line of the SDK's diagnostics log (see QCSDK_SetLogCallback). level:
 * 1 debug, 2 info, 3 notify, 4 warning, 5 error. source: where in the SDK
 * the line comes from, as "file(line)" (e.g. "nxl_channel(290)"). text: the
 * message, without time stamp or line feed. Both texts are valid only during
 * the call. pUserData: the value given to QCSDK_SetLogCallback. */
typedef void(QCSDK_CALLBACK* QCSDK_LogCallback)(int32_t level, const char* source, const char* text,
                                                void* pUserData);

/* ---------------------------------------------------------------------- */
/* Lifecycle. */

/* The library's version, in the form of QCSDK_VERSION. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GetVersion(void);

/* Initialises the transports, the search services and the player.
 * nInitParam is handed unchanged to the Nxl transport. szWorkDir (may be
 * null) is the parent of the work directories "nxl_tmp", "oct_log" and
 * "oct_tmp", which the SDK names but does not create. Returns 1, or 0 when a
 * library could not be set up (what was set up stays; call QCSDK_ReleaseSDK).
 * Call once. */
QCSDK_API int32_t QCSDK_CALL QCSDK_InitSDK(int32_t nInitParam, const char* szWorkDir);

/* Destroys every channel that no call still holds, then shuts the libraries
 * down; a search still running ends during the call with its one null
 * result. Returns the Nxl transport's release result. Registered callbacks
 * stay registered. */
QCSDK_API int32_t QCSDK_CALL QCSDK_ReleaseSDK(void);

/* Stores five callback slots at once; any may be null (that report is then
 * not made). */
QCSDK_API void QCSDK_CALL QCSDK_RegisterCallback(EventCallback onEvent, RawDataCallback onRawData,
                                                 DownloadCallback onDownload,
                                                 DecodedFrameCallback onDecodedFrame,
                                                 SearchCallback onSearch);
QCSDK_API void QCSDK_CALL QCSDK_RegisterTalkCallback(TalkCallback onTalk);
QCSDK_API void QCSDK_CALL QCSDK_RegisterUserDataCallback(UserDataCallback onUserData);

/* Routes the SDK's diagnostics log to the host. By default every log line is
 * written to standard output; once a callback is set, each line goes to it
 * instead and nothing of the SDK's log reaches standard output (this covers
 * the RPC layer's messages too). A null callback restores standard output.
 * A host that never calls this sees no change.
 * Lines come from any SDK or library thread, also before QCSDK_InitSDK and
 * after QCSDK_ReleaseSDK. They are delivered one at a time, under the log's
 * own lock: the callback must not wait for another thread that may log or
 * call this export. It may call this export itself.
 * Replacing is safe at any time: a line being delivered when this is called
 * finishes first, and after this returns the previous callback is never
 * called again. May be called from any thread, before or after
 * QCSDK_InitSDK. */
QCSDK_API void QCSDK_CALL QCSDK_SetLogCallback(QCSDK_LogCallback callback, void* pUserData);

/* Selects the local network adapter of the Nxl transport (passed on
 * unchanged); returns the transport's result. card 0: any local address;
 * n >= 1: the n-th IPv4 address of the machine's interfaces that are up, in
 * the system's order, loopback included; 0 is returned for a card that does
 * not exist, and nothing changes then. May be called at any time: links,
 * search and OKIP services started afterwards use the adapter, and when the
 * transport accepts the card the OCT search service follows it too. On a
 * host with several interfaces this decides which one the discovery probes
 * leave from; call it before QCSDK_InitSDK (search) and before
 * QCSDK_OKIP_StartService (OKIP). */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetNetCard(int32_t card);

/* ---------------------------------------------------------------------- */
/* Connecting. Both return the channel number (0..511), or -1 when all 512
 * channels are in use or the request could not be issued (for example an
 * address that is not dotted IPv4). The outcome arrives later as event 1 or
 * one of events 2 to 6; after events 2 to 6 the number is free again.
 *
 * szAddress: dotted IPv4 address, or the device number when bByNumber is
 * non-zero. nDeviceChannel: channel on the device. szUser, szPassword:
 * credentials (also used by the RPC calls of qcsdk_grpc.h). pUserData: passed
 * back with every callback of this channel. */
QCSDK_API int32_t QCSDK_CALL QCSDK_Connect(const char* szAddress, int32_t nPort,
                                           int32_t nDeviceChannel, const char* szUser,
                                           const char* szPassword, int32_t bByNumber,
                                           void* pUserData);
/* As QCSDK_Connect over a chosen transport: QCSDK_TRANSPORT_OCT (1) makes
 * an OCT channel, every other value an Nxl channel. nStream selects the
 * device's stream on OCT. */
QCSDK_API int32_t QCSDK_CALL QCSDK_Connect2(int32_t nTransport, const char* szAddress,
                                            int32_t nPort, int32_t nDeviceChannel, int32_t nStream,
                                            const char* szUser, const char* szPassword,
                                            int32_t bByNumber, void* pUserData);

/* ---------------------------------------------------------------------- */
/* Per-channel exports. Each returns 0 when the channel number names no
 * channel; otherwise 1 for success and 0 for failure unless stated. */

/* Asks the transport to close the link; event 7 follows (at once on OCT,
 * when the transport confirms on Nxl) and the number is freed after it. */
QCSDK_API int32_t QCSDK_CALL QCSDK_Disconnect(int32_t channel);
/* Device type of a connected channel: 1, 2, 3, 4 (kinds 4 and 5), or 0. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GetDeviceInfo(int32_t channel, int32_t* pDeviceType);
/* Opens (non-zero) or closes (0) the channel's decoder stream. Opening
 * needs the stream description (event 1) and asks the device for a key
 * frame. Decoded pictures then reach the DecodedFrameCallback. */
QCSDK_API int32_t QCSDK_CALL QCSDK_EnableDecoder(int32_t channel, int32_t bEnable);
/* Shows the channel's decoded video in a host window, scaled into pRect.
 * Pictures appear once the decoder is on (QCSDK_EnableDecoder).
 *
 * On Linux hWnd is an X11 window id (an XID, cast to a pointer) on the X
 * server named by the DISPLAY environment variable. The SDK opens its own
 * connection to that server per displaying channel and draws each picture
 * into the rectangle from the decoding thread, using shared memory when the
 * server offers it. It never takes the window over: it selects no events on
 * it and never maps, moves, resizes or reparents it. Several channels may
 * draw into different rectangles of one window; pixels outside the
 * rectangles are left as the host painted them. To move or resize the
 * picture, call again with the new rectangle; after an Expose or a resize,
 * call QCSDK_Refresh to draw the last picture again.
 *
 * On Windows hWnd is the HWND of the window, cast to a pointer. The SDK
 * draws each picture into the rectangle of its client area with GDI from
 * the decoding thread and handles none of its messages: the host's own
 * WM_PAINT may cover a picture until the next one or QCSDK_Refresh.
 *
 * Returns 1 when display is on (or, with a null window or rectangle, when it
 * was switched off: that always succeeds, and nothing is drawn after it
 * returns). Returns 0, with display off, when the number names no channel,
 * DISPLAY is unset or its server cannot be reached, the window does not
 * exist or has a visual other than true colour at 15, 16, 24 or 32 bits, or
 * the rectangle is outside the ranges given at QCSDK_Rect. If the host
 * destroys the window or the X server goes away later, drawing stops
 * quietly (QCSDK_Refresh then returns 0) while decoding, snapshots and the
 * DecodedFrameCallback go on; call this again to display anew. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetVideoPreview(int32_t channel, void* hWnd,
                                                   const QCSDK_Rect* pRect);
/* Plays the channel's decoded audio (a non-null hWnd; on Linux the window is
 * not otherwise used) or stops it (null: silent before the call returns).
 * All playing channels are mixed into one sound device. Returns 0 when the
 * channel number names no channel or no audio device can be opened (sound
 * stays off; decoding and pictures go on). The audio lags the pictures
 * decoded with it by at most about 172 ms (a 150 ms queue that drops its
 * oldest sound, plus one 21 ms device buffer). */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetAudioPreview(int32_t channel, void* hWnd);
/* Asks the device to send (non-zero) or pause (0) video. Nxl only; 0 on OCT. */
QCSDK_API int32_t QCSDK_CALL QCSDK_EnableVideoData(int32_t channel, int32_t bEnable);
/* By default the RawDataCallback receives a channel's frames only while its
 * stream carries H.264 (the switch follows each stream description). With
 * bOn non-zero it receives every frame of the channel whatever the codec,
 * from the next frame on, until called again with 0 or the channel ends:
 *  - video (types 0 key, 1 P, 2 B) as the device coded it: H.264 and H.265
 *    as Annex B byte streams (start codes, parameter sets in key frames),
 *    MPEG-4 Part 2 as elementary stream; one picture per call;
 *  - audio (type 3): one block as the device coded it: G.711 A-law or
 *    mu-law bytes (one byte a sample), IMA ADPCM blocks in the WAV layout
 *    (per channel a 4-byte header: 16-bit predictor, step index, 0; then
 *    4-bit samples, low nibble first), AAC as ADTS frames or raw access
 *    units;
 *  - other types as the transport passed them.
 * RawFrame says only the type; the codec, the picture size, the audio's
 * sample rate, channels and bits are those of QCSDK_GetStreamInfo, which
 * the host reads again on event QCSDK_EVENT_STREAM_CHANGED. Returns 1, or
 * 0 when the number names no channel. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetRawDataAllCodecs(int32_t channel, int32_t bOn);
/* The current stream description; 0 unless connected. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GetStreamInfo(int32_t channel, StreamInfo* pInfo);
/* Records the live stream to a local file whose extension must match the
 * stream's recording kind (".sv4", ".sv5", ".sv6" or ".mp4"; letter case of
 * the two middle characters is ignored). Recording starts at the next key
 * frame. 0 unless connected. */
QCSDK_API int32_t QCSDK_CALL QCSDK_StartRec(int32_t channel, const char* szFilename);
/* Finishes a recording; 1 for an existing channel, recording or not. */
QCSDK_API int32_t QCSDK_CALL QCSDK_StopRec(int32_t channel);
/* Asks for the device's recordings between two dates: six int32 values,
 * start year, month, day, end year, month, day. The list arrives as event
 * 10 (or 11). */
QCSDK_API int32_t QCSDK_CALL QCSDK_GetRemoteRecFileList(int32_t channel, const int32_t* pDates);
/* Plays back entry `index` of the last list; a negative index stops
 * playback. */
QCSDK_API int32_t QCSDK_CALL QCSDK_RemotePlay(int32_t channel, int32_t index);
/* Playback control: 0 resume, 1 pause, 2 faster, 3 slower, 4 normal speed,
 * 5 seek to `value`. */
QCSDK_API int32_t QCSDK_CALL QCSDK_RemotePlayControl(int32_t channel, int32_t command,
                                                     int32_t value);
/* Draws the last decoded picture again into the display rectangle, without
 * decoding anything (for example after an Expose or a resize of the host's
 * window). Returns 1 when it was drawn, or when display is off and there is
 * a picture; 0 when the number names no channel, no picture has been decoded
 * since the decoder was switched on, or drawing failed (window destroyed,
 * X server gone). */
QCSDK_API int32_t QCSDK_CALL QCSDK_Refresh(int32_t channel);
/* Stops any running download, then downloads entry `index` of the last list
 * to szFilename, reporting through the DownloadCallback. A negative index
 * only stops and returns 1. */
QCSDK_API int32_t QCSDK_CALL QCSDK_DownloadRemoteFile(int32_t channel, int32_t index,
                                                      const char* szFilename);
/* Starts (non-zero) or stops (0) recording on the device. */
QCSDK_API int32_t QCSDK_CALL QCSDK_RemoteRecording(int32_t channel, int32_t bStart);
/* Two-way audio: request, end, and send one block of audio. The device's
 * answer arrives as talk event 0; audio is accepted after it. */
QCSDK_API int32_t QCSDK_CALL QCSDK_StartTalk(int32_t channel);
QCSDK_API int32_t QCSDK_CALL QCSDK_StopTalk(int32_t channel);
QCSDK_API int32_t QCSDK_CALL QCSDK_SendTalkData(int32_t channel, const void* pData, int32_t length);
/* Saves the last decoded picture as a 32-bit bottom-up bitmap file. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SaveBitmap(int32_t channel, const char* szFilename);
/* Returns the last decoded picture as width x height pixels of 4 bytes
 * (blue, green, red, 255), bottom-up rows. Free it with
 * QCSDK_FreeBitmapBuffer. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SaveBitmapToBuffer(int32_t channel, uint8_t** ppBuffer,
                                                      int32_t* pWidth, int32_t* pHeight);
/* Opens the device's configuration dialog (Nxl devices of type 3) on the
 * calling thread and returns when it has closed and its library has been
 * unloaded (after every call the SDK made into it has returned). The dialog
 * is the library IPCamCfg.dll in the executable's directory; a newer one the
 * device sends replaces it there, and only once it has passed the allow-list
 * of QCSDK_SetCfgDialogDigests: it is written beside the installed file and
 * renamed over it, so a dialog running from the old file is undisturbed.
 * Returns 0 when the channel number names no such connected channel, a
 * handshake is already open on the channel, or the device stays silent for
 * 5 s at any step of the handshake (each message it sends restarts that
 * wait); 1 once the exchange is done, also when no dialog opened: no
 * library, a refused one, or no place for one (the executable's path, or the
 * library's path beside it, longer than 259 characters). */
QCSDK_API int32_t QCSDK_CALL QCSDK_RemoteConfig(int32_t channel, int32_t value);
/* Restricts the configuration-dialog library QCSDK_RemoteConfig loads (the
 * one a device sends, or the one installed beside the executable) to those
 * whose SHA-256 digest is in `digests`: `count` texts of 64 hexadecimal
 * digits. A library with another digest is not loaded and no dialog opens.
 * count 0 lifts the restriction (the default: any library loads). Returns 1;
 * returns 0 and keeps the previous list when count is negative, digests is
 * null with count above 0, or a text is not 64 hexadecimal digits. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetCfgDialogDigests(const char* const* digests, int32_t count);
/* Pan/tilt/zoom: command 0 up, 1 down, 2 left, 3 right, 4 patrol, 5 iris
 * open, 6 iris close, 7 focus far, 8 focus near, 9 zoom in, 10 zoom out, 11
 * to 14 auxiliary 1 to 4; bStart non-zero starts, 0 stops. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SendPTZCommand(int32_t channel, int32_t command, int32_t bStart);
/* Sends opaque bytes to the device. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SendUserData(int32_t channel, const void* pData, int32_t length);
/* Opens and closes the channel's RPC exchange (see qcsdk_grpc.h). */
QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_Begin(int32_t channel);
QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_End(int32_t channel);
/* Releases the strings and arrays of every earlier RPC result of the channel
 * (held since the channel was created or since the last call of this), so
 * that the host's pointers into those results are invalid afterwards. Without
 * it they add up for the channel's whole life (about 150 bytes per
 * account_get_users call); a host that calls it whenever it holds no earlier
 * result bounds that memory to the results of the calls since.
 * Waits for an RPC call running on the channel in another thread. Returns 1;
 * returns 0 when the channel number names no channel. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_FreeResults(int32_t channel);
/* Calls the RPC method named szMethod (as in the method catalogue, e.g.
 * "account_get_users") on the channel, for tools that take the method from
 * their user. szParams is a JSON object of the request members, named as in
 * the catalogue (null or "" for none); it is read into the method's request
 * structure as an answer's members are read, so members it leaves out or
 * gives another type are sent as -1 (numbers), false, or not at all
 * (strings, arrays), and members the method does not have are dropped. The
 * call is the one QCSDK_GRPC_<method> makes, under the same lock and time
 * budget. Returns:
 *   1  success; *ppText is the result as a JSON object text ("{}" for a
 *      method without result members);
 *   0  the channel number names no channel, or the channel has no RPC
 *      exchange; *ppText is null;
 *  -1  no method of that name; *ppText is null;
 *  -2  szParams is not a JSON object; *ppText is null;
 *  -3  the call failed; *ppText is {"code":N,"message":"..."} with the
 *      device's error code and message, or, when no error answer came, a
 *      negative code and a message saying which step failed ("the request
 *      could not be sent", "no answer from the device", "the answer is not
 *      JSON").
 * ppText may be null. The text lives like the strings of RPC results: until
 * the channel is destroyed or QCSDK_GRPC_FreeResults releases it. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_Call(int32_t channel, const char* szMethod,
                                             const char* szParams, const char** ppText);
/* Describes method `index` of the catalogue (0 up to the method count less
 * one, in catalogue order) as JSON text: {"method":NAME,"param":MEMBERS,
 * "result":MEMBERS}, where MEMBERS is null for a method without such
 * members, or an object naming each member's type: "number", "bool",
 * "string", a nested object of members, or a one-element array holding
 * the element type. Null for any other index. The text is the library's
 * and stays valid until the process ends; any thread may call this, also
 * before QCSDK_InitSDK. */
QCSDK_API const char* QCSDK_CALL QCSDK_GRPC_DescribeMethod(int32_t index);

/* Frees a buffer from QCSDK_SaveBitmapToBuffer; null is ignored. */
QCSDK_API void QCSDK_CALL QCSDK_FreeBitmapBuffer(uint8_t* pBuffer);

/* ---------------------------------------------------------------------- */
/* Discovery without a channel.
 *
 * LAN search probes (both transports) and OKIP messages are sent to one
 * broadcast target, by default the loopback broadcast address
 * 127.255.255.255: the SDK never broadcasts on a network unless the host
 * asks. A host that searches a real network names its target once, for
 * example QCSDK_SetBroadcastTarget("192.168.1.255") for that network's
 * directed broadcast; QCSDK_SetNetCard chooses the interface the probes
 * leave from. Answers arrive on the search and OKIP services' threads. */

/* Sets the IPv4 address that LAN search probes of both transports and OKIP
 * messages are sent to, e.g. a network's directed broadcast address
 * "192.168.1.255", or "255.255.255.255" (sent out of the adapter chosen with
 * QCSDK_SetNetCard, else the one the system routes it to). The ports stay
 * those of the services. A null or empty address restores the default,
 * 127.255.255.255. May be called before or after QCSDK_InitSDK, from any
 * thread; applies to the next search and the next OKIP message. Returns 1,
 * or 0 for anything that is not a dotted IPv4 address (four numbers of
 * 0..255 joined by dots, no names), and nothing changes then. */
QCSDK_API int32_t QCSDK_CALL QCSDK_SetBroadcastTarget(const char* szAddress);

/* Searches the local network over both transports. deviceType 0 reports
 * every device, otherwise only that type. Results arrive through the
 * SearchCallback, each device once, then one null when the search ends.
 * Returns 1 when a search started, 0 when one is still running or none could
 * start. */
QCSDK_API int32_t QCSDK_CALL QCSDK_LanSeartchDevice(int32_t deviceType, int32_t timeoutMs);

/* OKIP: find devices and set their network configuration by broadcast. */
/* Starts the answer service; callback may be null. 1 when started. */
QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_StartService(OkipCallback callback);
QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_StopService(void);
/* Broadcasts a find; answers arrive through the OKIP callback. */
QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_FinDevs(int32_t timeoutMs);
/* Sets the network configuration of the device with that number: two texts
 * (at most 31 characters each) and five 32-bit words (word 1 is the IPv4
 * address, first dotted number in the lowest byte). 0 on a rejected
 * argument. */
QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_SetNetCfg(const char* szDeviceNumber, const char* szText1,
                                                  const char* szText2, const int32_t* pConfig);

/* Whether a device is online: 1 online, 0 offline, -1 on a failed or
 * invalid query, -2 for a device number without group or number. A number
 * beginning with a digit is asked over OCT, any other over Nxl. */
QCSDK_API int32_t QCSDK_CALL QCSDK_GetNxlOnlineStatus(const char* szDeviceNumber,
                                                      int32_t timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* QCSDK_QCSDK_H */
