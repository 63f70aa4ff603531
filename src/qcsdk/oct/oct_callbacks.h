// The functions the SDK registers with the OCT library.
#pragma once

#include "platform/oct_api.h"

namespace qcsdk::oct {

void OnConnection(int32_t conn, int32_t event, int32_t reserved1, int32_t result, int32_t reserved2,
                  int32_t reserved3, int32_t reserved4, const OctDevInfo* info);
void OnNotice(int32_t conn, int32_t type, const void* data, int32_t length);
void OnStreamState(int32_t conn, int32_t handle, int32_t status, int32_t result);
void OnStreamData(int32_t conn, int32_t handle, int32_t kind, const void* record);
void OnVodState(int32_t conn, int32_t handle, int32_t status, int32_t flag);
void OnVodData(int32_t conn, int32_t handle, int32_t kind, const void* record);
void OnDownState(int32_t conn, int32_t handle, int32_t status, int32_t flag);
void OnDownData(int32_t conn, int32_t handle, const OctDownData* data);
void OnChatState(int32_t conn, int32_t handle, int32_t status, int32_t result);
void OnChatData(int32_t conn, int32_t handle, const void* data, int32_t length);

}  // namespace qcsdk::oct
