// The in-memory bus between the virtual devices of a process and the stand-in driver
// (FakeDriver.h): the device side of it. Internal to tools/vusb.
//
// A plugged device is a port under its path. Every CreateFileW of that path through the
// stand-in driver is a connection to it; the host's requests and OUT frames queue on the
// connection in the order they were issued, and the device takes them one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nurva::vusb::membus {

struct Port;
struct Conn;

// One thing the host sent on a connection.
struct Item {
  enum class Kind { Request, Out } kind = Kind::Out;
  std::shared_ptr<Conn> conn;
  uint8_t endpoint = 0;  // the connection's endpoint when the item was taken
  uint64_t id = 0;       // of a request
  uint32_t code = 0;     // of a request
  std::vector<uint8_t> data;  // request input or OUT frame
};

std::shared_ptr<Port> Plug(const std::string& dir, const std::string& name, const std::string& path);
// Removes the device from the bus: its connections fail from now on, Take returns Stopped.
void Unplug(Port& port);

enum class TakeResult { Got, Idle, Stopped };
// Takes the next item, waiting a little at most (Idle when none came). While `stallOut`
// is set, connections bound to the OUT endpoint are left alone.
TakeResult Take(Port& port, const std::atomic<bool>& stallOut, Item& item);
// Completes the host's request `item` (nothing when the host gave up on it).
void Answer(const Item& item, uint32_t status, const std::vector<uint8_t>& output);
// Records the connection's endpoint after a request; 0x81 makes it the IN connection.
void SetEndpoint(Port& port, Conn& conn, uint8_t endpoint);
// One IN transfer on the connection bound to 0x81; false when there is none.
bool SendIn(Port& port, std::span<const uint8_t> transfer);
bool InBound(Port& port);

}  // namespace nurva::vusb::membus
