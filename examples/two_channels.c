/* two_channels: shows two channels of a device side by side in one X window,
 * the left one over the Nxl transport and the right one over OCT, for a few
 * seconds, then prints how many pictures each channel decoded.
 *
 *   two_channels ADDRESS NXL_PORT OCT_PORT [SECONDS]
 *
 * Build: cc two_channels.c $(pkg-config --cflags --libs qcsdk xcb) -lpthread
 * It needs an X server (DISPLAY). Exits 0 when both channels showed pictures.
 */
#define _POSIX_C_SOURCE 200809L
#include <qcsdk/qcsdk.h>
#include <xcb/xcb.h>

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define TILE_WIDTH 320
#define TILE_HEIGHT 240

/* What the callbacks tell main(). They run on the SDK's threads (the
 * transports' receive threads, the player's decoding thread), so everything
 * here is read and written under one lock. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static long g_pictures[2]; /* pictures decoded per tile */
static int g_shown[2];     /* 1 once the tile's display is on */
static xcb_window_t g_window;

/* Link events. The last argument of QCSDK_Connect2 comes back as `user`:
 * here it is the tile number. */
static void QCSDK_CALLBACK OnEvent(int32_t channel, int32_t event, const char* data, int32_t value,
                                   void* user) {
  const int tile = (int)(intptr_t)user;
  (void)data;
  (void)value;
  printf("tile %d (channel %d): event %d\n", tile, (int)channel, (int)event);
  if (event == QCSDK_EVENT_CONNECTED) {
    /* The SDK may be called from its own callbacks: switch the decoder on
     * and draw its pictures into this tile's rectangle of our window. */
    QCSDK_Rect rect = {tile * TILE_WIDTH, 0, (tile + 1) * TILE_WIDTH, TILE_HEIGHT};
    QCSDK_EnableDecoder(channel, 1);
    const int shown = QCSDK_SetVideoPreview(channel, (void*)(uintptr_t)g_window, &rect);
    if (!shown) printf("tile %d: display refused\n", tile);
    pthread_mutex_lock(&g_lock);
    g_shown[tile] = shown;
    pthread_mutex_unlock(&g_lock);
  }
}

/* Every decoded picture (planar YUV, valid only during the call). The SDK
 * has already drawn it into the window; we only count. */
static void QCSDK_CALLBACK OnDecoded(int32_t channel, const DecodedFrame* frame, void* user) {
  (void)channel;
  (void)frame;
  pthread_mutex_lock(&g_lock);
  ++g_pictures[(int)(intptr_t)user];
  pthread_mutex_unlock(&g_lock);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: two_channels ADDRESS NXL_PORT OCT_PORT [SECONDS]\n");
    return 2;
  }
  const char* address = argv[1];
  const int seconds = argc > 4 ? atoi(argv[4]) : 5;

  /* 1. Our window, two tiles wide. The SDK draws into it through its own
   * connection to the same X server but never maps, moves or resizes it. */
  xcb_connection_t* x = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(x)) {
    fprintf(stderr, "two_channels: cannot open the X display (is DISPLAY set?)\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  g_window = xcb_generate_id(x);
  const uint32_t values[2] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(x, XCB_COPY_FROM_PARENT, g_window, screen->root, 0, 0, 2 * TILE_WIDTH,
                    TILE_HEIGHT, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  xcb_map_window(x, g_window);
  /* A round trip: the window exists on the server before the SDK is given it. */
  free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), NULL));

  /* 2. Callbacks first, then the SDK, then one channel per transport. The
   * connects return at once; the outcome comes as an event. Device channel
   * 0 on Nxl, 1 on OCT (the transports number from there). */
  QCSDK_RegisterCallback(OnEvent, NULL, NULL, OnDecoded, NULL);
  if (!QCSDK_InitSDK(0, NULL)) {
    fprintf(stderr, "two_channels: QCSDK_InitSDK failed\n");
    QCSDK_ReleaseSDK();
    return 1;
  }
  int32_t channels[2];
  channels[0] = QCSDK_Connect2(QCSDK_TRANSPORT_NXL, address, atoi(argv[2]), 0, 0, "admin", "admin",
                               0, (void*)(intptr_t)0);
  channels[1] = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, address, atoi(argv[3]), 1, 0, "admin", "admin",
                               0, (void*)(intptr_t)1);

  /* 3. Our event loop for the given time: after an Expose the SDK redraws
   * its last pictures on request. */
  const struct timespec tick = {0, 50 * 1000 * 1000};
  for (int i = 0; i < seconds * 20; ++i) {
    xcb_generic_event_t* event;
    while ((event = xcb_poll_for_event(x)) != NULL) {
      if ((event->response_type & 0x7f) == XCB_EXPOSE) {
        QCSDK_Refresh(channels[0]);
        QCSDK_Refresh(channels[1]);
      }
      free(event);
    }
    nanosleep(&tick, NULL);
  }

  /* 4. The counts, then disconnect and release the SDK before the window
   * goes away. */
  pthread_mutex_lock(&g_lock);
  const long nxl = g_pictures[0], oct = g_pictures[1];
  const int shown = g_shown[0] && g_shown[1];
  pthread_mutex_unlock(&g_lock);
  printf("nxl channel: %ld pictures decoded\noct channel: %ld pictures decoded\n", nxl, oct);
  QCSDK_Disconnect(channels[0]);
  QCSDK_Disconnect(channels[1]);
  QCSDK_ReleaseSDK();
  xcb_disconnect(x);
  return shown && nxl > 0 && oct > 0 ? 0 : 1;
}
