/* A minimal host written in C: registers its callbacks and exercises the
 * exports that need no device. It exits 0 when every answer is as the header
 * documents. */
#include <qcsdk/qcsdk.h>
#include <stdio.h>

static int g_events;

static void QCSDK_CALLBACK OnEvent(int32_t channel, int32_t event, const char* data, int32_t value,
                                   void* user) {
  (void)data;
  (void)value;
  (void)user;
  printf("channel %d: event %d\n", (int)channel, (int)event);
  ++g_events;
}

static void QCSDK_CALLBACK OnRaw(int32_t channel, const RawFrame* frame, void* user) {
  (void)channel;
  (void)frame;
  (void)user;
}

static int Check(int condition, const char* what) {
  if (!condition) printf("FAILED: %s\n", what);
  return condition ? 0 : 1;
}

int main(void) {
  int failures = 0;
  StreamInfo info;
  int32_t type = 0;

  failures += Check(sizeof(QCSDK_SearchResult) == 404, "search record is 404 bytes");
  failures += Check(sizeof(QCSDK_OkipResult) == 160, "OKIP record is 160 bytes");
  failures += Check(sizeof(StreamInfo) == 48, "StreamInfo is twelve int32");
  failures += Check(QCSDK_GetVersion() == QCSDK_VERSION, "library matches header");

  QCSDK_RegisterCallback(OnEvent, OnRaw, NULL, NULL, NULL);
  QCSDK_RegisterTalkCallback(NULL);
  QCSDK_RegisterUserDataCallback(NULL);

  failures += Check(QCSDK_GetStreamInfo(-1, &info) == 0, "no channel -1");
  failures += Check(QCSDK_GetStreamInfo(512, &info) == 0, "no channel 512");
  failures += Check(QCSDK_GetDeviceInfo(0, &type) == 0, "no channel 0");
  failures += Check(QCSDK_Disconnect(7) == 0, "disconnect without channel");
  failures += Check(QCSDK_StopRec(3) == 0, "stop recording without channel");
  failures += Check(QCSDK_GRPC_FreeResults(3) == 0, "free RPC results without channel");
  QCSDK_FreeBitmapBuffer(NULL);
  failures += Check(g_events == 0, "no event without a channel");

  printf("%s\n", failures == 0 ? "c_host: all checks passed" : "c_host: checks failed");
  return failures == 0 ? 0 : 1;
}
