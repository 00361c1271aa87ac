// The virtual USB bus of Linux: the records exchanged on a device connection.
//
// A device directory ($NURVA_VUSB_DIR, else /tmp/nurva-vusb) holds one Unix socket per
// present device; device number N is the N-th socket entry by file name (bytewise).
// Opening a device = connecting a new AF_UNIX SOCK_SEQPACKET socket. One record per
// SEQPACKET message, numbers little-endian:
//   'R' u32 code, input record      host to device; answered by 'S' except UNBIND_PIPE
//   'S' u32 status, output bytes    device to host
//   'D' bytes                       bulk data: OUT frames on a connection bound to 0x01,
//                                   IN transfers (at most 512 bytes) on one bound to 0x81
#pragma once

#include <cstdint>

namespace nurva::vusb {

inline constexpr char kEnvDir[] = "NURVA_VUSB_DIR";
inline constexpr char kDefaultDir[] = "/tmp/nurva-vusb";

inline constexpr uint8_t kRecRequest = 'R';
inline constexpr uint8_t kRecStatus = 'S';
inline constexpr uint8_t kRecData = 'D';

// A record's tag plus a 32-bit number.
inline constexpr uint32_t kRecHeaderSize = 5;

}  // namespace nurva::vusb
