/* A tiny kernel driver of the project's own for tests under Wine: it
 * creates the device of the hardware access driver and answers the 32-bit
 * PCI configuration read with a value made of the request's own fields,
 * so a test sees the request record travel in and the answer come back.
 * Every other request fails. */
#include <ntddk.h>

#define KESTRUNE_IOCTL_READ_PCI_DWORD 0x222840

typedef struct {
  UCHAR Bus;
  UCHAR Device;
  UCHAR Function;
  UCHAR Unused0;
  USHORT Register;
  USHORT Unused1;
  ULONG Value;
} PCI_REQUEST;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (code != KESTRUNE_IOCTL_READ_PCI_DWORD || in < sizeof(PCI_REQUEST) || out < sizeof(PCI_REQUEST)) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  PCI_REQUEST* request = (PCI_REQUEST*)irp->AssociatedIrp.SystemBuffer;
  request->Value = 0xC0000000u | ((ULONG)request->Bus << 16) | ((ULONG)request->Device << 8) |
                   ((ULONG)request->Function << 4) | (request->Register & 0xF);
  return Complete(irp, STATUS_SUCCESS, sizeof(PCI_REQUEST));
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\VelDrv101");
  IoDeleteSymbolicLink(&link);
  if (driver->DeviceObject != NULL) {
    IoDeleteDevice(driver->DeviceObject);
  }
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  UNICODE_STRING name;
  UNICODE_STRING link;
  PDEVICE_OBJECT device = NULL;
  RtlInitUnicodeString(&name, L"\\Device\\VelDrv101");
  RtlInitUnicodeString(&link, L"\\DosDevices\\VelDrv101");
  NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
