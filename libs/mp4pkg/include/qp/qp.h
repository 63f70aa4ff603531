/* MP4 packaging library: writes an MP4 file (and optionally a ".qdx" index
 * beside it) from Annex B video frames and audio frames. */
#ifndef QP_QP_H
#define QP_QP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QP_API __declspec(dllexport)
#else
#define QP_API __attribute__((visibility("default")))
#endif

/* Video description, 28 bytes. */
typedef struct QP_VideoDesc {
  int32_t width;
  int32_t height;
  float frameRate;
  int32_t reserved[4]; /* 0 */
} QP_VideoDesc;

/* Frame kinds of QP_Frame. */
#define QP_FRAME_VIDEO 1
#define QP_FRAME_AUDIO 2

/* One frame, 32 bytes in a 32-bit build (natural layout elsewhere). */
typedef struct QP_Frame {
  int32_t kind;        /* QP_FRAME_VIDEO or QP_FRAME_AUDIO */
  const uint8_t* data; /* frame bytes */
  int32_t length;      /* frame length in bytes */
  int32_t reserved;    /* not read */
  int64_t timestamp;   /* milliseconds; 0 = derive from the frame rate */
  int64_t zero;        /* 0 */
} QP_Frame;

/* The audio/format value of QP_OpenPackage: the audio part (0 G.711 A-law,
 * 1 G.711 mu-law, 2 AAC) plus the video part (0x100 H.264, 0x200 H.265,
 * 0 = recognised from the bitstream). */
#define QP_AUDIO_ALAW 0
#define QP_AUDIO_ULAW 1
#define QP_AUDIO_AAC 2
#define QP_VIDEO_H264 0x100
#define QP_VIDEO_H265 0x200

typedef void* QP_Handle;

/* Opens a package; `one` is 1, `zero` is 0. `indexFile` may be null (no index).
 * Returns a non-null handle on success. */
QP_API QP_Handle QP_OpenPackage(const QP_VideoDesc* video, int32_t one, int32_t hasAudio,
                                const char* file, const char* indexFile, int32_t format,
                                int32_t zero);
/* Non-zero when the frame was accepted. */
QP_API int32_t QP_PackageOneFrame(QP_Handle package, const QP_Frame* frame);
/* Finishes and closes the files; the handle is invalid afterwards. */
QP_API int32_t QP_ClosePackage(QP_Handle package);

/* Extra to the operations above, for hosts that know their audio: the sample
 * rate (8000-96000) and channel count (1-2 for G.711, 1-6 or 8 for AAC) of G.711
 * and of raw AAC frames, which otherwise are 8000 Hz mono (ADTS frames carry
 * their own). Call after QP_OpenPackage and before the first key frame.
 * Returns 0 for an unknown handle, values out of range, or a package that
 * already started writing. */
QP_API int32_t QP_SetAudioFormat(QP_Handle package, int32_t sampleRate, int32_t channels);

#ifdef __cplusplus
}
#endif
#endif
