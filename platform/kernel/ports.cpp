// The simulated 16-bit I/O port space behind the port intrinsics.
//
// Port devices claim ranges of ports. An access whose bytes all lie in one
// claim goes to that claim's device as one access of its width; an access
// that crosses the end of a claim is split into bytes, each going to whichever
// device owns it (little-endian). Ports nobody claims read all ones and
// swallow writes. Every access made through the intrinsics is traced, claimed
// or not, as the driver issued it (one entry per instruction, not per byte).
//
// Ranges wrap at 0xFFFF like the port numbers themselves: a claim of 4 ports
// at 0xFFFE covers 0xFFFE, 0xFFFF, 0x0000 and 0x0001.
//
// Locking: one mutex guards the claims and the trace. It is not held while a
// device runs, because a device may raise its interrupt from inside an
// access and the interrupt path comes back here for its own port I/O, perhaps
// on another thread. A device must therefore stay alive until it has been
// released and no access to it is still running.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host_kernel.h"
#include "machine.h"

namespace hostk {
namespace {

struct Claim {
  uint16_t first;
  uint32_t count;  // 1 to 0x10000
  PortDevice *device;

  bool Contains(uint16_t port) const { return uint16_t(port - first) < count; }
};

// A port range the PnP manager gave a device at its start.
struct Assignment {
  PDEVICE_OBJECT pdo;
  Claim range;  // its device is unused
};

struct PortSpace {
  std::mutex mutex;
  std::vector<Claim> claims;
  std::vector<PortAccess> trace;
  std::vector<Assignment> assigned;
  bool everAssigned = false;  // a start has handed out port ranges since the reset
};

PortSpace &Space() {
  static PortSpace space;
  return space;
}

// The claim that owns `port`, or null. Called with the mutex held.
const Claim *OwnerLocked(const PortSpace &space, uint16_t port) {
  for (const Claim &claim : space.claims)
    if (claim.Contains(port)) return &claim;
  return nullptr;
}

bool Overlap(const Claim &a, const Claim &b) {
  // Each range starts inside the other when they share a port; with wrapping
  // ranges one of the two starts always lies inside the other.
  return a.Contains(b.first) || b.Contains(a.first);
}

// What to do with one access, decided under the lock and carried out after.
struct Route {
  PortDevice *whole = nullptr;       // the device taking the access as it is
  PortDevice *bytes[4] = {};         // otherwise the owner of each byte
  uint16_t bytePorts[4] = {};
};

Route RouteAccess(uint16_t port, int width) {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  Route route;
  const Claim *first = OwnerLocked(space, port);
  bool inOne = first != nullptr;
  for (int i = 0; i < width; ++i) {
    uint16_t bytePort = uint16_t(port + i);
    route.bytePorts[i] = bytePort;
    const Claim *owner = OwnerLocked(space, bytePort);
    route.bytes[i] = owner ? owner->device : nullptr;
    if (owner != first) inOne = false;
  }
  if (inOne) route.whole = first->device;
  return route;
}

// Once port ranges have been handed out, every byte of an access must lie
// in a range a device holds: the other ports belong to other hardware (ports
// 0x00 to 0x1F, for one, to the PC's DMA controller).
void CheckAssigned(bool write, uint16_t port, int width) {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  if (!space.everAssigned) return;
  for (int i = 0; i < width; ++i) {
    uint16_t bytePort = uint16_t(port + i);
    bool inside = false;
    for (const Assignment &a : space.assigned) inside = inside || a.range.Contains(bytePort);
    if (!inside) {
      char what[112];
      snprintf(what, sizeof what, "%s of %d byte(s) at port 0x%04X, outside the port ranges given to devices",
               write ? "out" : "in", width, port);
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, what);
    }
  }
}

void Trace(bool write, int width, uint16_t port, uint32_t value) {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  space.trace.push_back(PortAccess{write, width, port, value});
}

uint32_t WidthMask(int width) { return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

uint32_t In(uint16_t port, int width) {
  CheckAssigned(false, port, width);
  Route route = RouteAccess(port, width);
  uint32_t value = 0;
  if (route.whole) {
    value = route.whole->Read(port, width) & WidthMask(width);
  } else {
    for (int i = 0; i < width; ++i) {
      uint32_t byte = route.bytes[i] ? route.bytes[i]->Read(route.bytePorts[i], 1) & 0xFF : 0xFF;
      value |= byte << (8 * i);
    }
  }
  Trace(false, width, port, value);
  return value;
}

void Out(uint16_t port, int width, uint32_t value) {
  CheckAssigned(true, port, width);
  Route route = RouteAccess(port, width);
  if (route.whole) {
    route.whole->Write(port, width, value);
  } else {
    for (int i = 0; i < width; ++i)
      if (route.bytes[i]) route.bytes[i]->Write(route.bytePorts[i], 1, (value >> (8 * i)) & 0xFF);
  }
  Trace(true, width, port, value);
}

}  // namespace

void ClaimPorts(uint16_t first, uint32_t count, PortDevice *device) {
  char what[96];
  if (device == nullptr || count == 0 || count > 0x10000) {
    snprintf(what, sizeof what, "ClaimPorts(0x%04X, %u) with %s", first, count,
             device == nullptr ? "no device" : "a count outside 1 to 0x10000");
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, what);
  }
  Claim claim{first, count, device};
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  for (const Claim &other : space.claims) {
    if (Overlap(claim, other)) {
      snprintf(what, sizeof what,
               "ClaimPorts(0x%04X, %u) overlaps the claim of %u ports at 0x%04X", first, count,
               other.count, other.first);
      BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION, what);
    }
  }
  space.claims.push_back(claim);
}

void ReleasePorts(PortDevice *device) {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  auto &claims = space.claims;
  claims.erase(std::remove_if(claims.begin(), claims.end(),
                              [device](const Claim &claim) { return claim.device == device; }),
               claims.end());
}

void AssignPorts(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST translated) {
  ReleaseAssignedPorts(pdo);
  if (translated == nullptr) return;
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  const CM_FULL_RESOURCE_DESCRIPTOR *full = translated->List;
  for (ULONG f = 0; f < translated->Count; ++f) {
    const CM_PARTIAL_RESOURCE_LIST &partial = full->PartialResourceList;
    for (ULONG i = 0; i < partial.Count; ++i) {
      const CM_PARTIAL_RESOURCE_DESCRIPTOR &d = partial.PartialDescriptors[i];
      if (d.Type != CmResourceTypePort || d.u.Port.Length == 0) continue;
      uint32_t count = d.u.Port.Length > 0x10000 ? 0x10000 : d.u.Port.Length;
      space.assigned.push_back(Assignment{pdo, Claim{uint16_t(d.u.Port.Start.QuadPart), count, nullptr}});
      space.everAssigned = true;
    }
    // Full descriptors follow one another with their partial descriptors.
    full = reinterpret_cast<const CM_FULL_RESOURCE_DESCRIPTOR *>(&partial.PartialDescriptors[partial.Count]);
  }
}

void ReleaseAssignedPorts(PDEVICE_OBJECT pdo) {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  auto &assigned = space.assigned;
  assigned.erase(std::remove_if(assigned.begin(), assigned.end(),
                                [pdo](const Assignment &a) { return a.pdo == pdo; }),
                 assigned.end());
}

// The trace is handed out by reference: read it while no other thread does
// port I/O.
const std::vector<PortAccess> &PortTrace() { return Space().trace; }

void ClearPortTrace() {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  space.trace.clear();
}

std::string Describe(const PortAccess &access) {
  const char *width = access.width == 1   ? "byte"
                      : access.width == 2 ? "word"
                      : access.width == 4 ? "dword"
                                          : "?";
  int digits = (access.width == 1 || access.width == 2 || access.width == 4) ? 2 * access.width : 8;
  char text[64];
  snprintf(text, sizeof text, "%-3s %-5s 0x%04X %s 0x%0*X", access.write ? "out" : "in", width,
           access.port, access.write ? "<-" : "->", digits, access.value);
  return text;
}

void ResetPorts() {
  PortSpace &space = Space();
  std::lock_guard<std::mutex> hold(space.mutex);
  space.claims.clear();
  space.trace.clear();
  space.assigned.clear();
  space.everAssigned = false;
}

}  // namespace hostk

// Port I/O is allowed at any IRQL, so none is checked here.
extern "C" {

UCHAR __inbyte(USHORT Port) { return UCHAR(hostk::In(Port, 1)); }
USHORT __inword(USHORT Port) { return USHORT(hostk::In(Port, 2)); }
ULONG __indword(USHORT Port) { return hostk::In(Port, 4); }
VOID __outbyte(USHORT Port, UCHAR Data) {
  hostk::RunEntryHook("__outbyte");
  hostk::Out(Port, 1, Data);
}
VOID __outword(USHORT Port, USHORT Data) { hostk::Out(Port, 2, Data); }
VOID __outdword(USHORT Port, ULONG Data) { hostk::Out(Port, 4, Data); }

}  // extern "C"
