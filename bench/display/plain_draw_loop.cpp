#include "plain_draw_loop.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>

#include "sdk_probe.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace display_bench {

LoopResult RunPlainDrawLoop(const std::string& display, uint32_t window,
                            const std::vector<const AVFrame*>& pictures,
                            const std::vector<std::pair<int, int>>& origins, int width, int height,
                            int count) {
  LoopResult result;
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c) || pictures.empty() || origins.empty()) {
    xcb_disconnect(c);
    return result;
  }
  const int stride = width * 4;
  const int id = shmget(IPC_PRIVATE, static_cast<size_t>(stride) * height, IPC_CREAT | 0600);
  auto* memory = static_cast<uint8_t*>(shmat(id, nullptr, 0));
  const xcb_shm_seg_t segment = xcb_generate_id(c);
  xcb_shm_attach(c, segment, static_cast<uint32_t>(id), 1);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, window, 0, nullptr);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  shmctl(id, IPC_RMID, nullptr);

  SwsContext* scaler = nullptr;
  const double cpu0 = qcsdk::bench::ProcessCpuSeconds();
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const AVFrame* p = pictures[static_cast<size_t>(i) % pictures.size()];
    scaler = sws_getCachedContext(scaler, p->width, p->height,
                                  static_cast<AVPixelFormat>(p->format), width, height,
                                  AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* planes[4] = {memory, nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    sws_scale(scaler, p->data, p->linesize, 0, p->height, planes, strides);
    const auto& [x, y] = origins[static_cast<size_t>(i) % origins.size()];
    xcb_shm_put_image(c, window, gc, static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                      0, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                      static_cast<int16_t>(x), static_cast<int16_t>(y), 24,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    result.micros.push_back(
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count()));
  }
  result.cpuSecondsPerPicture = (qcsdk::bench::ProcessCpuSeconds() - cpu0) / count;
  result.ok = !xcb_connection_has_error(c);
  sws_freeContext(scaler);
  xcb_shm_detach(c, segment);
  xcb_disconnect(c);
  shmdt(memory);
  return result;
}

}  // namespace display_bench
