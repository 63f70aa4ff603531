/* Player library: functions beyond the operations the SDK calls.
 *
 * Queue limits and statistics of a player's decoder stream. Both are safe to
 * call from any thread, including from inside the decoded-picture function. */
#ifndef QVSP_QVSP_EXT_H
#define QVSP_QVSP_EXT_H

#include <stdint.h>

#include "qvsp/qvsp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Counters of the current decoder stream (or of the last one once it is
 * closed). They restart at 0 when a stream is opened. */
typedef struct QVSP_Statistics {
  uint64_t videoFramesQueued;  /* video frames accepted for decoding */
  uint64_t audioFramesQueued;  /* audio frames accepted for decoding */
  uint64_t videoFramesDropped; /* video frames discarded by the overflow policy */
  uint64_t audioFramesDropped; /* audio frames discarded by the overflow policy */
  uint64_t bytesDropped;       /* bytes of all frames discarded by the overflow policy */
  uint64_t overflows;          /* times the queue overflowed and groups were discarded */
  uint64_t framesRefused;      /* writes refused: null data, length <= 0 or above maxBytes */
  uint64_t picturesReported;   /* pictures handed to the decoded-picture function */
  uint64_t audioFramesDecoded; /* audio frames the audio decoder produced */
  uint64_t decodeErrors;       /* frames the decoders rejected */
  uint32_t queuedFrames;       /* frames waiting in the queue now */
  uint32_t queuedBytes;        /* their bytes */
  uint64_t picturesDrawn;      /* pictures drawn into the host's window */
  uint64_t drawFailures;       /* draws that failed and switched the display off */
  /* 1 when the record announces audio the player cannot decode (an unknown
   * audio codec number, or a decoder that does not open): the video plays,
   * the audio frames are queued and discarded. 0 otherwise. */
  uint32_t audioAbsent;
} QVSP_Statistics;

/* Fills *stats for the player. Returns 1, or 0 when the handle names no
 * player or stats is null. Before any stream was opened all counters are 0. */
QVSP_API int32_t QVSP_GetStatistics(int32_t player, QVSP_Statistics* stats);

/* Bounds of the player's frame queue, in frames and in bytes; they apply to
 * the open stream at once and to streams opened later. A single frame longer
 * than maxBytes is refused. Defaults: 128 frames, 32 MiB. Returns 1, or 0
 * when the handle names no player or a bound is below 1. */
QVSP_API int32_t QVSP_SetQueueLimits(int32_t player, int32_t maxFrames, int32_t maxBytes);

/* Copies the durations of the player's latest draws (at most the last 4096),
 * in microseconds, oldest first, into `micros`: each runs from the moment the
 * decoder handed the picture over to the X server's acknowledgement that it
 * has put the picture into the window (on Windows: until GDI has drawn it).
 * Returns how many were copied (0 when the handle names no player, micros is
 * null or capacity is below 1). */
QVSP_API int32_t QVSP_GetDrawTimes(int32_t player, uint32_t* micros, int32_t capacity);

#ifdef __cplusplus
}
#endif
#endif
