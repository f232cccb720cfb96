#pragma once
// Fixed-width stand-ins for the Windows types that appear in the shared records
// and the export table. Records keep their byte layout on every platform.
#include <cstdint>

#include "platform/guid.h"

namespace reelpage {

using BOOL = int32_t;     // 0 = false, anything else = true
using LongBool = int32_t; // the program writes -1 for true, the engine 1
using HANDLE32 = int32_t; // a file descriptor; 0 = none in handle fields
using HWND = uint32_t;    // a window id of the message router; 0 = none
using WCHAR = char16_t;   // UTF-16 code unit inside fixed string fields
using HRESULT = int32_t;

using GUID = platform::Guid; // 16 bytes, laid out as the system's GUID

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);

constexpr int kMaxPath = 260;

// The sizes the program and the engine agree on at start-up.
constexpr int32_t kSettingsSize = 3688;
constexpr int32_t kMediaInfoSize = 756;
constexpr int32_t kProjectSize = 3848;

} // namespace reelpage
