#include <pthread.h>

#include "thread_name.h"

namespace qvsp {

void NameThread(std::thread& thread, const char* name) {
  pthread_setname_np(thread.native_handle(), name);
}

}  // namespace qvsp
