/* rpc_search: one RPC session with a device (Begin, read its settings,
 * change its name, read them again, End), then a search of the local
 * network over both transports.
 *
 *   rpc_search ADDRESS PORT [NUMBER]
 *
 * Build: cc rpc_search.c $(pkg-config --cflags --libs qcsdk) -lpthread
 * The search goes to the loopback broadcast address unless the host names
 * another with QCSDK_SetBroadcastTarget. With NUMBER it exits 1 unless the
 * search found the device of that number.
 */
#define _POSIX_C_SOURCE 200809L
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The callbacks run on the SDK's threads and report under this lock. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed = PTHREAD_COND_INITIALIZER;
static int g_connected;  /* 1 connected, -1 failed */
static int g_searchDone; /* 1 once the search has ended */
static int g_found;      /* 1 once the device of g_number answered */
static const char* g_number = "";

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
  (void)data;
  (void)value;
  (void)user;
  if (event == QCSDK_EVENT_CONNECTED) Report(&g_connected, 1);
  if (event >= QCSDK_EVENT_AUTH_FAILED && event <= QCSDK_EVENT_CONNECT_FAILED) {
    Report(&g_connected, -1);
  }
}

/* One answer of the search (each device once, valid only during the call),
 * then null once when the search has ended. */
static void QCSDK_CALLBACK OnSearch(const QCSDK_SearchResult* found) {
  if (found == NULL) {
    Report(&g_searchDone, 1);
    return;
  }
  printf("  %s %s %s:%d, %d channels\n", found->transport == QCSDK_TRANSPORT_OCT ? "oct" : "nxl",
         found->deviceNumber, found->address, (int)found->port, (int)found->channelCount);
  if (strcmp(found->deviceNumber, g_number) == 0) Report(&g_found, 1);
}

static void PrintInfo(const char* when, const qvbu_dev_get_info_result* info) {
  printf("%s: name \"%s\", host name \"%s\"\n", when, info->name ? info->name : "(none)",
         info->hostname ? info->hostname : "(none)");
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: rpc_search ADDRESS PORT [NUMBER]\n");
    return 2;
  }
  if (argc > 3) g_number = argv[3];
  QCSDK_RegisterCallback(OnEvent, NULL, NULL, NULL, OnSearch);
  if (!QCSDK_InitSDK(0, NULL)) {
    fprintf(stderr, "rpc_search: QCSDK_InitSDK failed\n");
    QCSDK_ReleaseSDK();
    return 1;
  }
  const int32_t channel =
      QCSDK_Connect2(QCSDK_TRANSPORT_NXL, argv[1], atoi(argv[2]), 0, 0, "admin", "admin", 0, NULL);
  int ok = channel >= 0 && WaitFor(&g_connected, 10) == 1;

  /* The RPC session. Each call blocks until the device answers (5 s at
   * most) and returns 1 on success. Strings in results belong to the
   * channel and stay valid until QCSDK_GRPC_FreeResults. */
  if (ok && QCSDK_GRPC_Begin(channel)) {
    qvbu_dev_get_info_result before, after;
    ok = QCSDK_GRPC_dev_get_info(channel, NULL, &before);
    if (ok) PrintInfo("before", &before);
    /* A set sends every member: keep what the get returned, change the name. */
    qvbu_dev_set_info_param change = {before.bDiscoverable, before.hostname,   "rpc_search example",
                                      before.rebootDay,     before.rebootHour, before.syslanguage};
    int32_t done = -1;
    ok = ok && QCSDK_GRPC_dev_set_info(channel, &change, &done);
    ok = ok && QCSDK_GRPC_dev_get_info(channel, NULL, &after);
    if (ok) PrintInfo("after", &after);
    ok = ok && after.name != NULL && strcmp(after.name, change.name) == 0;
    QCSDK_GRPC_FreeResults(channel); /* before, after: invalid from here */
    QCSDK_GRPC_End(channel);
  } else {
    ok = 0;
  }
  printf("rpc: %s\n", ok ? "the name read back as set" : "failed");
  if (channel >= 0) QCSDK_Disconnect(channel);

  /* Search: any device type, answers for 2 s. */
  printf("search:\n");
  if (!QCSDK_LanSeartchDevice(0, 2000) || WaitFor(&g_searchDone, 10) != 1) ok = 0;
  if (g_number[0] != '\0' && !WaitFor(&g_found, 0)) {
    printf("device %s was not found\n", g_number);
    ok = 0;
  }
  QCSDK_ReleaseSDK();
  return ok ? 0 : 1;
}
