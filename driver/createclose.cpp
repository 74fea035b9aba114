// Requests on handles, and the requests the driver passes on untouched.
#include "driver.h"

// WMI requests are not the driver's: the next driver down sees them as sent.
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PDEVICE_EXTENSION extension = (PDEVICE_EXTENSION)DeviceObject->DeviceExtension;
  IoSkipCurrentIrpStackLocation(Irp);
  return IoCallDriver(extension->NextLowerDriver, Irp);
}
