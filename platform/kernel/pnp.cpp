// The Plug and Play manager's side of a device's life: resource lists and the
// requests it sends down a stack.
#include <cstring>

#include "devices.h"

namespace hostk {

Resource PortResource(uint64_t start, ULONG length) {
  Resource r;
  r.type = CmResourceTypePort;
  r.flags = CM_RESOURCE_PORT_IO;
  r.start = start;
  r.length = length;
  return r;
}

Resource InterruptResource(ULONG level, ULONG vector, KAFFINITY affinity) {
  Resource r;
  r.type = CmResourceTypeInterrupt;
  r.share = CmResourceShareShared;
  r.flags = CM_RESOURCE_INTERRUPT_LEVEL_SENSITIVE;
  r.level = level;
  r.vector = vector;
  r.affinity = affinity;
  return r;
}

Resource OtherResource(UCHAR type) {
  Resource r;
  r.type = type;
  r.start = 0xFEDC0000;
  r.length = 0x1000;
  return r;
}

std::vector<uint8_t> ResourceList(const std::vector<Resource> &descriptors) {
  size_t size = FIELD_OFFSET(CM_RESOURCE_LIST, List) +
                FIELD_OFFSET(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList.PartialDescriptors) +
                descriptors.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
  std::vector<uint8_t> bytes(size, 0);
  auto *list = reinterpret_cast<PCM_RESOURCE_LIST>(bytes.data());
  list->Count = 1;
  list->List[0].InterfaceType = PCIBus;
  list->List[0].PartialResourceList.Version = 1;
  list->List[0].PartialResourceList.Revision = 1;
  list->List[0].PartialResourceList.Count = ULONG(descriptors.size());
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const Resource &r = descriptors[i];
    CM_PARTIAL_RESOURCE_DESCRIPTOR d;
    memset(&d, 0, sizeof d);
    d.Type = r.type;
    d.ShareDisposition = r.share;
    d.Flags = r.flags;
    if (r.type == CmResourceTypeInterrupt) {
      d.u.Interrupt.Level = r.level;
      d.u.Interrupt.Vector = r.vector;
      d.u.Interrupt.Affinity = r.affinity;
    } else {
      d.u.Generic.Start.QuadPart = LONGLONG(r.start);
      d.u.Generic.Length = r.length;
    }
    memcpy(&list->List[0].PartialResourceList.PartialDescriptors[i], &d, sizeof d);
  }
  return bytes;
}

std::unique_lock<std::recursive_mutex> LockDeviceTree(bool whileOff) {
  static std::recursive_mutex tree;
  std::unique_lock<std::recursive_mutex> lock(tree);
  while (!whileOff && !MachinePowered()) {
    lock.unlock();
    WaitForCompletion([] { return MachinePowered(); });
    lock.lock();
  }
  return lock;
}

// The device's ports are taken back once it has been stopped or removed.
IrpResult SendPnp(PDEVICE_OBJECT pdo, UCHAR minor,
                  const std::function<void(PIRP, PIO_STACK_LOCATION)> &setup) {
  auto tree = LockDeviceTree();
  if (minor == IRP_MN_REMOVE_DEVICE && SurpriseRemoved(pdo) && OpenFiles(pdo) > 0) {
    BugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION,
             "IRP_MN_REMOVE_DEVICE for a surprise-removed device whose handles are still open: "
             "the PnP manager sends it after the last close");
  }
  IrpResult result = SendRequest(IoGetAttachedDevice(pdo), IRP_MJ_PNP, minor, setup, true);
  if (minor == IRP_MN_STOP_DEVICE || minor == IRP_MN_SURPRISE_REMOVAL || minor == IRP_MN_REMOVE_DEVICE)
    ReleaseAssignedPorts(pdo);
  if (minor == IRP_MN_SURPRISE_REMOVAL) NoteSurpriseRemoved(pdo);
  if (minor == IRP_MN_REMOVE_DEVICE && NT_SUCCESS(result.ioStatus.Status)) NoteRemoved(pdo);
  return result;
}

// The device holds its ports from the start request on, unless it fails.
IrpResult StartDevice(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated) {
  auto tree = LockDeviceTree();
  AssignPorts(pdo, translated);
  IrpResult result =
      SendPnp(pdo, IRP_MN_START_DEVICE, [raw, translated](PIRP, PIO_STACK_LOCATION location) {
        location->Parameters.StartDevice.AllocatedResources = raw;
        location->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
      });
  if (NT_SUCCESS(result.ioStatus.Status)) {
    NoteStarted(pdo);
  } else {
    ReleaseAssignedPorts(pdo);
  }
  return result;
}

IrpResult SurpriseRemove(PDEVICE_OBJECT pdo) {
  auto tree = LockDeviceTree();
  IrpResult result = SendPnp(pdo, IRP_MN_SURPRISE_REMOVAL);
  if (OpenFiles(pdo) == 0) SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
  return result;
}

bool RemovalWaiting(PDEVICE_OBJECT pdo) { return SurpriseRemoved(pdo) && pdo->AttachedDevice; }

IrpResult Rebalance(PDEVICE_OBJECT pdo, PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated,
                    const std::function<void()> &whileStopped) {
  auto tree = LockDeviceTree();
  IrpResult query = SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE);
  if (!NT_SUCCESS(query.ioStatus.Status)) {
    SendPnp(pdo, IRP_MN_CANCEL_STOP_DEVICE);
    return query;
  }
  SendPnp(pdo, IRP_MN_STOP_DEVICE);
  if (whileStopped) whileStopped();
  IrpResult start = StartDevice(pdo, raw, translated);
  if (!NT_SUCCESS(start.ioStatus.Status)) SurpriseRemove(pdo);
  return start;
}

}  // namespace hostk
