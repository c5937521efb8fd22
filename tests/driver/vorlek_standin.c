/* A stand-in for the input-lock driver, for the room tests only and never shipped.
 *
 * It creates the device \Device\VORLEK with the link \DosDevices\VORLEK, so that the agent's
 * open of "\\.\VORLEK" reaches it, completes every open, close and control request, and appends
 * one line per request to C:\vorlek-device.log, in the order they arrive:
 *   "open", "ioctl 0x00000100 in 0 out 0" (code, input and output buffer sizes), "close".
 * It holds no input: the tests only need to see what the agent asked for. */
#include <ddk/wdm.h>

static const WCHAR kDeviceName[] = L"\\Device\\VORLEK";
static const WCHAR kLinkName[] = L"\\DosDevices\\VORLEK";
static const WCHAR kLogName[] = L"\\??\\C:\\vorlek-device.log";

static void AppendLine(const char* text, ULONG length) {
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK status;
    HANDLE file;
    RtlInitUnicodeString(&name, kLogName);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    if (!NT_SUCCESS(ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &status, NULL,
                                 FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_OPEN_IF, FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0))) {
        return;
    }
    ZwWriteFile(file, NULL, NULL, NULL, &status, (PVOID)text, length, NULL, NULL);
    ZwClose(file);
}

/* Writes value as eight hexadecimal digits; returns the position after them. */
static char* PutHex(char* out, ULONG value) {
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) {
        *out++ = kDigits[(value >> shift) & 0xF];
    }
    return out;
}

/* Writes value in decimal; returns the position after it. */
static char* PutDecimal(char* out, ULONG value) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

static char* PutText(char* out, const char* text) {
    while (*text != '\0') {
        *out++ = *text++;
    }
    return out;
}

static NTSTATUS Complete(PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

static NTSTATUS WINAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    AppendLine("open\r\n", 6);
    return Complete(irp);
}

static NTSTATUS WINAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    AppendLine("close\r\n", 7);
    return Complete(irp);
}

static NTSTATUS WINAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return Complete(irp);
}

static NTSTATUS WINAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    const IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    char line[64];
    char* end = line;
    (void)device;
    end = PutText(end, "ioctl 0x");
    end = PutHex(end, stack->Parameters.DeviceIoControl.IoControlCode);
    end = PutText(end, " in ");
    end = PutDecimal(end, stack->Parameters.DeviceIoControl.InputBufferLength);
    end = PutText(end, " out ");
    end = PutDecimal(end, stack->Parameters.DeviceIoControl.OutputBufferLength);
    end = PutText(end, "\r\n");
    AppendLine(line, (ULONG)(end - line));
    return Complete(irp);
}

static void WINAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != NULL) {
        IoDeleteDevice(driver->DeviceObject);
    }
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    PDEVICE_OBJECT device;
    NTSTATUS status;
    (void)registryPath;

    RtlInitUnicodeString(&name, kDeviceName);
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    RtlInitUnicodeString(&link, kLinkName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
