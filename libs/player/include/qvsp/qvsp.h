/* Player library: decoding and display of one stream per player.
 *
 * Players are numbered by non-negative handles; a negative handle is a
 * failure. Every decoded picture is reported through the function given to
 * QVSP_SetCallBack, on the player's own decoding thread, as planar YUV 4:2:0.
 * The planes belong to the library and stay valid until the next picture of
 * the same player is reported, the stream is closed or the player released. */
#ifndef QVSP_QVSP_H
#define QVSP_QVSP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVSP_API __declspec(dllexport)
#else
#define QVSP_API __attribute__((visibility("default")))
#endif

/* Display rectangle in the window's pixel coordinates; right and bottom are
 * exclusive. Values within -32768..32767, sides from 1 to 8192 pixels. */
typedef struct QVSP_Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} QVSP_Rect;

/* Called for every decoded picture: player handle, Y, U and V planes, the Y
 * stride and the chroma stride (shared by U and V). */
typedef void (*QVSP_PictureCallback)(int32_t player, const uint8_t* y, const uint8_t* u,
                                     const uint8_t* v, int32_t yStride, int32_t uvStride);

/* Library set-up and release. InitSDK returns non-zero on success. */
QVSP_API int32_t QVSP_InitSDK(void);
QVSP_API int32_t QVSP_ReleaseSDK(void);
/* Registers the decoded-picture function; the three further values are
 * reserved and passed as 0. */
QVSP_API int32_t QVSP_SetCallBack(QVSP_PictureCallback onPicture, void* reserved1, void* reserved2,
                                  void* reserved3);

/* One player per channel. CreatePlayer returns a handle >= 0, or < 0. */
QVSP_API int32_t QVSP_CreatePlayer(void);
QVSP_API int32_t QVSP_ReleasePlayer(int32_t player);

/* Opens a decoder stream from a 96-byte stream-information record; non-zero
 * when the stream could be opened (the codec fields name a decoder). */
QVSP_API int32_t QVSP_OpenStream(int32_t player, const uint8_t* info, int32_t infoLength);
QVSP_API int32_t QVSP_CloseStream(int32_t player);
/* Queues one frame (video or audio) for decoding. The bytes are copied;
 * the caller's buffer may be reused as soon as the call returns. */
QVSP_API int32_t QVSP_WriteToStreamOneFrame(int32_t player, const uint8_t* data, int32_t length);

/* Display and sound. `on` is 1 to show or play, 0 to stop. Non-zero on success.
 *
 * Video: on Linux `window` is an X11 window id (XID) cast to a pointer, on
 * the server named by DISPLAY; on Windows it is the window's HWND. While on,
 * every decoded picture is scaled into `rect` of that window's client area
 * and drawn, on the decoding thread, before it is reported; the player never
 * changes the window itself. On Linux it uses an X connection of its own
 * (MIT-SHM when offered); on Windows it draws through GDI
 * (SetDIBitsToDevice on the window's device context), so the host's own
 * painting of that rectangle (WM_PAINT) may cover a picture until the next
 * one or a QVSP_RefreshWindow. Switching on answers 0 (display off) when the
 * window does not exist (on Linux also when DISPLAY is unset or unreachable
 * or the window has an unsupported visual) or the rectangle is out of
 * range; switching off answers 1 and nothing is drawn after it returns. A
 * destroyed window or a vanished X server stops drawing (counted in
 * drawFailures, see qvsp_ext.h); decoding goes on. */
QVSP_API int32_t QVSP_SetVideoPreview(int32_t player, void* window, const QVSP_Rect* rect,
                                      int32_t on);
/* Sound: with `on` non-zero the player's decoded audio plays through the
 * library's one audio device (SDL2 on Linux, the waveOut wave mapper on
 * Windows), mixed with every other playing player;
 * 0 when no audio device can be opened (decoding goes on). With `on` 0 the
 * player's sound stops at once: its queue is emptied and it leaves the mix
 * before the call returns. Each player queues at most 150 ms of sound and
 * drops the oldest when more arrives, so its audio lags the pictures decoded
 * with it by at most 150 ms + what the library hands the device ahead
 * (1024 frames, 21.3 ms at 48 kHz): about 172 ms, plus what the sound server
 * adds. The window is recorded and not used. */
QVSP_API int32_t QVSP_SetAudioPreview(int32_t player, void* window, int32_t on);
/* Draws the last picture again: 1 when drawn, or when display is off and a
 * picture exists; 0 without a picture or when drawing failed. */
QVSP_API int32_t QVSP_RefreshWindow(int32_t player);
/* Width and height of the last decoded picture (left unchanged when none). */
QVSP_API int32_t QVSP_GetBitmapSize(int32_t player, int32_t* width, int32_t* height);

#ifdef __cplusplus
}
#endif
#endif
