/* A host with Microsoft's conventions and no C runtime, linked against
 * qcsdk.lib: one call of each import form (a standard call asked for by its
 * plain name, the one export kept decorated, a C-convention stub). Built
 * optimised without frame pointers, so a callee that took the wrong number
 * of bytes off the stack would break the calls after it. The exit code has
 * one bit for each call whose result differs from the header's. */
#include <qcsdk/qcsdk_grpc.h>

__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

void __cdecl HostStart(void) {
  qvbu_account_get_users_result users = {0};
  unsigned failed = 0;
  if (QCSDK_GetVersion() != QCSDK_VERSION) failed |= 1;
  if (QCSDK_SetNetCard(100000) != 0) failed |= 2; /* no such card */
  if (QCSDK_SetNetCard(0) != 1) failed |= 4;      /* any address */
  if (CLIENT_REQ_qvbu_account_get_users(0) != -1) failed |= 8;
  if (QCSDK_GRPC_account_get_users(3, 0, &users) != 0) failed |= 16;
  ExitProcess(failed);
}
