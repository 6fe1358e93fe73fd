/*
 * Kernel-mode stand-in for the I/O driver: the device \Device\Quendra_1_0_1
 * answers the two port requests over a simulated port space, and the test
 * device \Device\QuendraSimCtl drives and inspects it (sim/sim_control.h).
 * This file is the kernel plumbing; sim_device.c decides every answer.
 */

#include <ntddk.h>

#include <string.h>

#include "sim/driver/sim_device.h"

static struct sim_device g_sim;
static KSPIN_LOCK g_lock; /* guards g_sim: requests come from several threads */
static PDEVICE_OBJECT g_main_device;
static PDEVICE_OBJECT g_control_device;

#ifdef _WIN64
/* The x64 headers read the shared user page directly; where the kernel
 * exports the routine, it is the better source. */
typedef VOID(NTAPI *query_system_time_fn)(PLARGE_INTEGER);
static query_system_time_fn g_query_system_time;

static void find_time_routine(void) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"KeQuerySystemTime");
    g_query_system_time = (query_system_time_fn)MmGetSystemRoutineAddress(&name);
}
#else
static void find_time_routine(void) {}
#endif

/* 100 ns since 1601: the clock of GetSystemTimeAsFileTime. */
static uint64_t system_time(void) {
    LARGE_INTEGER t;
#ifdef _WIN64
    if (g_query_system_time) {
        g_query_system_time(&t);
        return (uint64_t)t.QuadPart;
    }
#endif
    KeQuerySystemTime(&t);
    return (uint64_t)t.QuadPart;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatch_create(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    if (device == g_main_device) {
        KeAcquireSpinLock(&g_lock, &irql);
        sim_device_open(&g_sim);
        KeReleaseSpinLock(&g_lock, irql);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_close(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    if (device == g_main_device) {
        KeAcquireSpinLock(&g_lock, &irql);
        sim_device_close(&g_sim);
        KeReleaseSpinLock(&g_lock, irql);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_cleanup(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_device_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t code = stack->Parameters.DeviceIoControl.IoControlCode;
    uint32_t in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    uint32_t out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = (uint8_t *)irp->AssociatedIrp.SystemBuffer;
    uint32_t info = 0;
    uint32_t status;
    KIRQL irql;

    if (buffer == NULL && (in_len != 0 || out_len != 0))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);

    if (device == g_main_device) {
        KeAcquireSpinLock(&g_lock, &irql);
        status =
            sim_device_port_request(&g_sim, code, buffer, in_len, out_len, system_time(), &info);
        KeReleaseSpinLock(&g_lock, irql);
    } else {
        KeAcquireSpinLock(&g_lock, &irql);
        status = sim_device_control(&g_sim, code, buffer, in_len, out_len, &info);
        KeReleaseSpinLock(&g_lock, irql);
    }
    return complete(irp, (NTSTATUS)status, info);
}

static void delete_device(PDEVICE_OBJECT *device, PCWSTR link_name) {
    UNICODE_STRING link;
    if (*device == NULL)
        return;
    RtlInitUnicodeString(&link, link_name);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(*device);
    *device = NULL;
}

static NTSTATUS create_device(PDRIVER_OBJECT driver, PCWSTR device_name, PCWSTR link_name,
                              DEVICE_TYPE type, PDEVICE_OBJECT *device) {
    UNICODE_STRING name, link;
    NTSTATUS status;

    RtlInitUnicodeString(&name, device_name);
    RtlInitUnicodeString(&link, link_name);
    status = IoCreateDevice(driver, 0, &name, type, 0, FALSE, device);
    if (!NT_SUCCESS(status)) {
        *device = NULL;
        return status;
    }
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
        return status;
    }
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver) {
    (void)driver;
    delete_device(&g_control_device, SIM_CONTROL_LINK_NAME);
    delete_device(&g_main_device, SIM_MAIN_LINK_NAME);
}

/* True when the DWORD "FailStart" under the service key is nonzero. */
static BOOLEAN fail_start_requested(PUNICODE_STRING registry_path) {
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } value;
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    HANDLE key;
    ULONG length = 0, data = 0;

    InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
        return FALSE;
    RtlInitUnicodeString(&name, SIM_FAIL_START_VALUE_W);
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof value,
                                   &length)) &&
        value.info.Type == REG_DWORD && value.info.DataLength == sizeof data)
        memcpy(&data, value.info.Data, sizeof data);
    ZwClose(key);
    return data != 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    NTSTATUS status;

    if (fail_start_requested(registry_path))
        return STATUS_UNSUCCESSFUL;

    KeInitializeSpinLock(&g_lock);
    sim_device_init(&g_sim);
    find_time_routine();

    status = create_device(driver, SIM_MAIN_DEVICE_NAME, SIM_MAIN_LINK_NAME, QUENDRA_DEVICE_TYPE,
                           &g_main_device);
    if (!NT_SUCCESS(status))
        return status;
    status = create_device(driver, SIM_CONTROL_DEVICE_NAME, SIM_CONTROL_LINK_NAME,
                           SIM_CONTROL_DEVICE_TYPE, &g_control_device);
    if (!NT_SUCCESS(status)) {
        delete_device(&g_main_device, SIM_MAIN_LINK_NAME);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->DriverUnload = driver_unload;
    return STATUS_SUCCESS;
}
