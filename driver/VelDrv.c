/* The hardware access driver: the device "VelDrv101" and the kernel's
 * side of the request core's machine primitives. Every request is checked
 * and answered by the core (RequestCore.c); this file only creates and
 * secures the device, keeps one record per open handle and implements the
 * primitives with the kernel's functions.
 *
 * Built with clang for x86_64-w64-windows-gnu and i686-w64-windows-gnu
 * against mingw-w64's DDK headers (driver/CMakeLists.txt). */
#include <ntifs.h>

#include "driver/CallerCopy.h"
#include "driver/RequestCore.h"

#define SYSTEM_FIRMWARE_TABLE_INFORMATION_CLASS 76
#define FIRMWARE_PROVIDER_ACPI 0x41435049u /* 'ACPI' */
#define FIRMWARE_TABLE_GET 1
#define FIRMWARE_TABLE_CAPACITY 512u

/* Kernel exports that mingw-w64's DDK headers do not declare. */
NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG informationClass, PVOID information, ULONG length,
                                                 PULONG returnLength);
NTSYSAPI NTSTATUS NTAPI RtlCreateAcl(PACL acl, ULONG length, ULONG revision);
NTSYSAPI NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL acl, ULONG revision, ACCESS_MASK mask, PSID sid);

/* The kernel calls that reviewers of a Windows 10 driver expect, in place of
 * the ones on the banned list (MmMapIoSpace, MmAllocateContiguousMemory*,
 * ExAllocatePool*): a mapping with a protection of its own (Windows 10),
 * so that device memory is mapped read-only and uncached, and contiguous
 * memory that is never executable (Windows 8). mingw-w64's import
 * libraries lack both; they are looked up at run time, and where the
 * system lacks them, mappings and buffers fail. The driver takes no pool:
 * the records of open handles and the firmware-table query live in the
 * device extension. */
typedef PVOID(NTAPI* MAP_IO_SPACE_EX)(PHYSICAL_ADDRESS address, SIZE_T length, ULONG protect);
typedef PVOID(NTAPI* ALLOCATE_CONTIGUOUS_NODE_MEMORY)(SIZE_T size, PHYSICAL_ADDRESS lowest, PHYSICAL_ADDRESS highest,
                                                      PHYSICAL_ADDRESS boundary, ULONG protect, ULONG node);

/* Opens of the device at one time. */
#define VELDRV_MAX_HANDLES 64u

typedef struct VELDRV_EXTENSION {
  VELDRV_DEVICE Core;
  KMUTEX Mutex;
  MAP_IO_SPACE_EX MapIoSpaceEx;
  ALLOCATE_CONTIGUOUS_NODE_MEMORY AllocateNodeMemory;
  /* The firmware-table query, used under the mutex. */
  ULONG FirmwareTableQuery[(FIELD_OFFSET(SYSTEM_FIRMWARE_TABLE_INFORMATION, TableBuffer) + FIRMWARE_TABLE_CAPACITY) /
                           sizeof(ULONG)];
  /* The registry queries of the root table's copy, used under the mutex. */
  ULONG RegistryQuery[128];
  VELDRV_HANDLE Handles[VELDRV_MAX_HANDLES];
  BOOLEAN HandleInUse[VELDRV_MAX_HANDLES];
} VELDRV_EXTENSION;

static const WCHAR kDeviceName[] = L"\\Device\\VelDrv101";
static const WCHAR kLinkName[] = L"\\DosDevices\\VelDrv101";

/* ---- machine primitives ---- */

static void LockDevice(void* context) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  KeWaitForSingleObject(&extension->Mutex, Executive, KernelMode, FALSE, NULL);
}

static void UnlockDevice(void* context) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  KeReleaseMutex(&extension->Mutex, FALSE);
}

static uint32_t RamRanges(void* context, VELDRV_RANGE* ranges, uint32_t capacity) {
  (void)context;
  PPHYSICAL_MEMORY_RANGE list = MmGetPhysicalMemoryRanges();
  if (list == NULL) {
    return capacity + 1;
  }
  uint32_t count = 0;
  for (PPHYSICAL_MEMORY_RANGE range = list; range->BaseAddress.QuadPart != 0 || range->NumberOfBytes.QuadPart != 0;
       ++range) {
    if (count < capacity) {
      ranges[count].Address = (uint64_t)range->BaseAddress.QuadPart;
      ranges[count].Length = (uint64_t)range->NumberOfBytes.QuadPart;
    }
    ++count;
  }
  ExFreePoolWithTag(list, 0);
  return count;
}

static const volatile uint8_t* MapDevice(void* context, uint64_t address, uint32_t length) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  if (extension->MapIoSpaceEx == NULL) {
    return NULL;
  }
  PHYSICAL_ADDRESS physical;
  physical.QuadPart = (LONGLONG)address;
  return (const volatile uint8_t*)extension->MapIoSpaceEx(physical, length, PAGE_READONLY | PAGE_NOCACHE);
}

static void UnmapDevice(void* context, const volatile uint8_t* mapped, uint32_t length) {
  (void)context;
  MmUnmapIoSpace((PVOID)(ULONG_PTR)mapped, length);
}

static uint32_t ReadPciConfig(void* context, uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                              uint8_t* out, uint32_t length) {
  (void)context;
  PCI_SLOT_NUMBER slot;
  slot.u.AsULONG = 0;
  slot.u.bits.DeviceNumber = device;
  slot.u.bits.FunctionNumber = function;
  return HalGetBusDataByOffset(PCIConfiguration, bus, slot.u.AsULONG, out, offset, length);
}

static int AllocContiguous(void* context, uint32_t size, uint8_t** kernelAddress, uint64_t* physicalAddress) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  PHYSICAL_ADDRESS lowest, highest, boundary;
  lowest.QuadPart = 0;
  highest.QuadPart = 0xFFFFFFFF;
  boundary.QuadPart = 0;
  if (extension->AllocateNodeMemory == NULL) {
    return 0;
  }
  PVOID memory = extension->AllocateNodeMemory(size, lowest, highest, boundary, PAGE_READWRITE, MM_ANY_NODE_OK);
  if (memory == NULL) {
    return 0;
  }
  *kernelAddress = (uint8_t*)memory;
  *physicalAddress = (uint64_t)MmGetPhysicalAddress(memory).QuadPart;
  return 1;
}

static void FreeContiguous(void* context, uint8_t* kernelAddress, uint32_t size) {
  (void)context;
  (void)size;
  MmFreeContiguousMemory(kernelAddress);
}

static uint32_t AcpiTable(void* context, uint32_t signature, uint8_t* buffer, uint32_t capacity) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  const ULONG size = sizeof extension->FirmwareTableQuery;
  SYSTEM_FIRMWARE_TABLE_INFORMATION* query = (SYSTEM_FIRMWARE_TABLE_INFORMATION*)extension->FirmwareTableQuery;
  RtlZeroMemory(query, size);
  query->ProviderSignature = FIRMWARE_PROVIDER_ACPI;
  query->Action = FIRMWARE_TABLE_GET;
  query->TableID = signature;
  query->TableBufferLength = FIRMWARE_TABLE_CAPACITY;
  ULONG returned = 0;
  uint32_t length = 0;
  if (NT_SUCCESS(ZwQuerySystemInformation(SYSTEM_FIRMWARE_TABLE_INFORMATION_CLASS, query, size, &returned)) &&
      query->TableBufferLength <= FIRMWARE_TABLE_CAPACITY) {
    length = query->TableBufferLength;
    RtlCopyMemory(buffer, query->TableBuffer, length < capacity ? length : capacity);
  }
  return length;
}

/* Windows keeps its copy of the firmware's root table as the data of value
 * 0 of the key three levels (always subkey 0) below
 * \Registry\Machine\HARDWARE\ACPI\RSDT, named after the table's OEM ID,
 * OEM table ID and revision. */
static uint32_t RootTableCopy(void* context, uint8_t* buffer, uint32_t capacity) {
  VELDRV_EXTENSION* extension = (VELDRV_EXTENSION*)context;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Registry\\Machine\\HARDWARE\\ACPI\\RSDT");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  HANDLE key = NULL;
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
    return 0;
  }
  uint32_t length = 0;
  int found = 1;
  for (int level = 0; level < 3 && found; ++level) {
    ULONG returned = 0;
    KEY_BASIC_INFORMATION* information = (KEY_BASIC_INFORMATION*)extension->RegistryQuery;
    found = NT_SUCCESS(
                ZwEnumerateKey(key, 0, KeyBasicInformation, information, sizeof extension->RegistryQuery, &returned)) &&
            information->NameLength <= 0xFFFF;
    HANDLE subkey = NULL;
    if (found) {
      name.Buffer = information->Name;
      name.Length = name.MaximumLength = (USHORT)information->NameLength;
      InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, key, NULL);
      found = NT_SUCCESS(ZwOpenKey(&subkey, KEY_READ, &attributes));
    }
    ZwClose(key);
    key = subkey;
  }
  if (found) {
    ULONG returned = 0;
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)extension->RegistryQuery;
    const NTSTATUS status =
        ZwEnumerateValueKey(key, 0, KeyValuePartialInformation, value, sizeof extension->RegistryQuery, &returned);
    if (NT_SUCCESS(status) || status == STATUS_BUFFER_OVERFLOW) {
      const ULONG room = sizeof extension->RegistryQuery - FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
      const ULONG held = value->DataLength < room ? value->DataLength : room;
      RtlCopyMemory(buffer, value->Data, held < capacity ? held : capacity);
      length = value->DataLength;
    }
  }
  if (key != NULL) {
    ZwClose(key);
  }
  return length;
}

static int Smi(void* context, DRV_SMI_REGISTERS* registers) {
  (void)context;
  uint32_t eax = registers->Eax, ebx = registers->Ebx, ecx = registers->Ecx;
  uint32_t edx = registers->Edx, esi = registers->Esi, edi = registers->Edi;
  __asm__ __volatile__("outb %%al, %%dx"
                       : "+a"(eax), "+b"(ebx), "+c"(ecx), "+d"(edx), "+S"(esi), "+D"(edi)
                       :
                       : "memory");
  registers->Eax = eax;
  registers->Ebx = ebx;
  registers->Ecx = ecx;
  registers->Edx = edx;
  registers->Esi = esi;
  registers->Edi = edi;
  return 1;
}

static int CopyToCaller(void* context, uint64_t callerAddress, const uint8_t* source, uint32_t length) {
  (void)context;
  return VelDrvCopyToUser(callerAddress, source, length);
}

static int CopyFromCaller(void* context, uint8_t* destination, uint64_t callerAddress, uint32_t length) {
  (void)context;
  return VelDrvCopyFromUser(destination, callerAddress, length);
}

/* ---- dispatch ---- */

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static VELDRV_EXTENSION* ExtensionOf(PDEVICE_OBJECT device) { return (VELDRV_EXTENSION*)device->DeviceExtension; }

/* The record of the open handle a request comes through, or NULL. */
static VELDRV_HANDLE* HandleOf(PIO_STACK_LOCATION stack) {
  return stack->FileObject != NULL ? (VELDRV_HANDLE*)stack->FileObject->FsContext : NULL;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  /* The device itself only: "\\.\VelDrv101\anything" is refused. */
  if (stack->FileObject == NULL || stack->FileObject->FileName.Length != 0) {
    return Complete(irp, STATUS_ACCESS_DENIED, 0);
  }
  VELDRV_EXTENSION* extension = ExtensionOf(device);
  VELDRV_HANDLE* handle = NULL;
  LockDevice(extension);
  for (ULONG i = 0; i < VELDRV_MAX_HANDLES && handle == NULL; ++i) {
    if (!extension->HandleInUse[i]) {
      extension->HandleInUse[i] = TRUE;
      handle = &extension->Handles[i];
      VelDrvOpenHandle(handle);
    }
  }
  UnlockDevice(extension);
  if (handle == NULL) {
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }
  stack->FileObject->FsContext = handle;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  VELDRV_HANDLE* handle = HandleOf(IoGetCurrentIrpStackLocation(irp));
  if (handle != NULL) {
    VelDrvCloseHandle(&ExtensionOf(device)->Core, handle);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  VELDRV_HANDLE* handle = HandleOf(stack);
  if (handle != NULL) {
    VELDRV_EXTENSION* extension = ExtensionOf(device);
    /* Cleanup has released the buffers already; this finds none. */
    VelDrvCloseHandle(&extension->Core, handle);
    stack->FileObject->FsContext = NULL;
    LockDevice(extension);
    extension->HandleInUse[handle - extension->Handles] = FALSE;
    UnlockDevice(extension);
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  VELDRV_HANDLE* handle = HandleOf(stack);
  if (handle == NULL || irp->RequestorMode != UserMode) {
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  VELDRV_REQUEST request;
  request.Code = stack->Parameters.DeviceIoControl.IoControlCode;
  request.Buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
  request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
#ifdef _WIN64
  request.CallerIs32Bit = IoIs32bitProcess(irp) ? 1 : 0;
#else
  request.CallerIs32Bit = 1;
#endif
  /* The codes carry FILE_ANY_ACCESS, so the I/O manager checks no access:
   * a handle opened without read and write access gets nothing. */
  request.CallerMayReadAndWrite = VelDrvCallerMayReadAndWrite(irp);
  uint32_t information = 0;
  const uint32_t status = VelDrvDeviceControl(&ExtensionOf(device)->Core, handle, &request, &information);
  return Complete(irp, (NTSTATUS)status, information);
}

/* ---- device ---- */

/* SYSTEM (S-1-5-18) and Administrators (S-1-5-32-544) get all access;
 * nobody else gets any. */
static NTSTATUS SecureDevice(PDEVICE_OBJECT device) {
  static SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  ULONG systemSid[4];
  ULONG adminsSid[4];
  ULONG aclBuffer[32];
  SECURITY_DESCRIPTOR descriptor;
  RtlInitializeSid((PSID)systemSid, &ntAuthority, 1);
  *RtlSubAuthoritySid((PSID)systemSid, 0) = SECURITY_LOCAL_SYSTEM_RID;
  RtlInitializeSid((PSID)adminsSid, &ntAuthority, 2);
  *RtlSubAuthoritySid((PSID)adminsSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *RtlSubAuthoritySid((PSID)adminsSid, 1) = DOMAIN_ALIAS_RID_ADMINS;
  PACL acl = (PACL)aclBuffer;
  NTSTATUS status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
  if (NT_SUCCESS(status)) {
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, (PSID)systemSid);
  }
  if (NT_SUCCESS(status)) {
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, (PSID)adminsSid);
  }
  if (NT_SUCCESS(status)) {
    status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  }
  if (NT_SUCCESS(status)) {
    status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
  }
  HANDLE handle = NULL;
  if (NT_SUCCESS(status)) {
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
  }
  if (NT_SUCCESS(status)) {
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
  }
  return status;
}

static void NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
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
  RtlInitUnicodeString(&name, kDeviceName);
  RtlInitUnicodeString(&link, kLinkName);
  NTSTATUS status = IoCreateDevice(driver, sizeof(VELDRV_EXTENSION), &name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  status = SecureDevice(device);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  VELDRV_EXTENSION* extension = ExtensionOf(device);
  RtlZeroMemory(extension, sizeof *extension);
  KeInitializeMutex(&extension->Mutex, 0);
  UNICODE_STRING routine;
  RtlInitUnicodeString(&routine, L"MmMapIoSpaceEx");
  extension->MapIoSpaceEx = (MAP_IO_SPACE_EX)MmGetSystemRoutineAddress(&routine);
  RtlInitUnicodeString(&routine, L"MmAllocateContiguousNodeMemory");
  extension->AllocateNodeMemory = (ALLOCATE_CONTIGUOUS_NODE_MEMORY)MmGetSystemRoutineAddress(&routine);
  const VELDRV_MACHINE machine = {extension,   LockDevice,    UnlockDevice,  RamRanges,       MapDevice,
                                  UnmapDevice, ReadPciConfig, RootTableCopy, AllocContiguous, FreeContiguous,
                                  AcpiTable,   Smi,           CopyToCaller,  CopyFromCaller};
  VelDrvInitDevice(&extension->Core, &machine);

  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
