/* record_download: records a device's live channel to a local file for a
 * few seconds, lists the device's recordings of today and downloads the
 * first one, printing the sizes of both files.
 *
 *   record_download ADDRESS PORT [SECONDS]
 *
 * Build: cc record_download.c $(pkg-config --cflags --libs qcsdk) -lpthread
 * Writes live.<ext> and download.<ext> in the current folder; the extension
 * is the device's recording format. Exits 0 when both files hold data.
 */
#define _POSIX_C_SOURCE 200809L
#include <qcsdk/qcsdk.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

/* The callbacks run on the SDK's threads; they hand their news to main()
 * under this lock and wake it. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed = PTHREAD_COND_INITIALIZER;
static int g_connected;  /* 1 connected, -1 failed */
static int g_listed;     /* 1 list arrived, -1 list failed */
static int g_downloaded; /* the download's end code (QCSDK_DOWNLOAD_END_*) */
static int g_entries;    /* entries of the list */
static int g_firstKind;  /* recording kind of the first entry */

static void Report(int* what, int value) {
  pthread_mutex_lock(&g_lock);
  *what = value;
  pthread_cond_broadcast(&g_changed);
  pthread_mutex_unlock(&g_lock);
}

/* Waits up to `seconds` for *what to become non-zero; returns it (0: time-out). */
static int WaitFor(int* what, int seconds) {
  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += seconds;
  pthread_mutex_lock(&g_lock);
  while (*what == 0 && pthread_cond_timedwait(&g_changed, &g_lock, &until) == 0) {
  }
  const int value = *what;
  pthread_mutex_unlock(&g_lock);
  return value;
}

static void QCSDK_CALLBACK OnEvent(int32_t channel, int32_t event, const char* data, int32_t value,
                                   void* user) {
  (void)channel;
  (void)user;
  if (event == QCSDK_EVENT_CONNECTED) Report(&g_connected, 1);
  if (event >= QCSDK_EVENT_AUTH_FAILED && event <= QCSDK_EVENT_CONNECT_FAILED) {
    Report(&g_connected, -1);
  }
  if (event == QCSDK_EVENT_REC_LIST) {
    /* `value` entries of QCSDK_REC_ENTRY_SIZE bytes: index, kind, name,
     * display name, path on the device (layout in qcsdk.h). */
    for (int i = 0; i < value; ++i) {
      const char* entry = data + (size_t)i * QCSDK_REC_ENTRY_SIZE;
      int32_t kind;
      memcpy(&kind, entry + 4, sizeof kind);
      if (i == 0) g_firstKind = kind;
      printf("  %d: %s (kind %d)\n", i, entry + 16, (int)kind);
    }
    g_entries = value;
    Report(&g_listed, 1);
  }
  if (event == QCSDK_EVENT_REC_LIST_FAILED) Report(&g_listed, -1);
}

static void QCSDK_CALLBACK OnDownload(int32_t channel, int32_t code, int32_t progress,
                                      int32_t total, void* user) {
  (void)channel;
  (void)progress;
  (void)total;
  (void)user;
  if (code != QCSDK_DOWNLOAD_PROGRESS) Report(&g_downloaded, code);
}

/* A recording kind's file extension (StreamInfo.recordingKind, list entries). */
static const char* Extension(int kind) {
  static const char* const names[] = {".sv4", ".sv4", ".sv5", ".sv6", ".mp4", ".mp4"};
  return kind >= 1 && kind <= 5 ? names[kind] : ".sv5";
}

static long FileSize(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: record_download ADDRESS PORT [SECONDS]\n");
    return 2;
  }
  const int seconds = argc > 3 ? atoi(argv[3]) : 3;
  QCSDK_RegisterCallback(OnEvent, NULL, OnDownload, NULL, NULL);
  if (!QCSDK_InitSDK(0, NULL)) {
    fprintf(stderr, "record_download: QCSDK_InitSDK failed\n");
    QCSDK_ReleaseSDK();
    return 1;
  }
  const int32_t channel =
      QCSDK_Connect2(QCSDK_TRANSPORT_NXL, argv[1], atoi(argv[2]), 0, 0, "admin", "admin", 0, NULL);
  int ok = channel >= 0 && WaitFor(&g_connected, 10) == 1;

  /* Record the live stream: the file's extension must be the stream's
   * recording format, which the stream description tells. */
  char live[16] = "", download[16] = "";
  StreamInfo info;
  if (ok && QCSDK_GetStreamInfo(channel, &info)) {
    snprintf(live, sizeof live, "live%s", Extension(info.recordingKind));
    ok = QCSDK_StartRec(channel, live);
    const struct timespec length = {seconds, 0};
    nanosleep(&length, NULL);
    QCSDK_StopRec(channel);
    printf("recorded %s: %ld bytes\n", live, FileSize(live));
  }

  /* Today's recordings: start and end date are both today. */
  const time_t now = time(NULL);
  struct tm today;
  localtime_r(&now, &today);
  const int32_t dates[6] = {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday,
                            today.tm_year + 1900, today.tm_mon + 1, today.tm_mday};
  if (ok) {
    printf("recordings of today:\n");
    ok = QCSDK_GetRemoteRecFileList(channel, dates) && WaitFor(&g_listed, 10) == 1 && g_entries > 0;
  }

  /* Download entry 0 of that list; the end code 1 says it is complete. */
  if (ok) {
    snprintf(download, sizeof download, "download%s", Extension(g_firstKind));
    ok = QCSDK_DownloadRemoteFile(channel, 0, download) &&
         WaitFor(&g_downloaded, 60) == QCSDK_DOWNLOAD_END_1;
    printf("downloaded %s: %ld bytes\n", download, FileSize(download));
  }

  if (channel >= 0) QCSDK_Disconnect(channel);
  QCSDK_ReleaseSDK();
  ok = ok && FileSize(live) > 0 && FileSize(download) > 0;
  printf("%s\n", ok ? "done" : "failed");
  return ok ? 0 : 1;
}
