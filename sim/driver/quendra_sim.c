/*
 * Kernel-mode stand-in for the I/O driver: the device \Device\Quendra_1_0_1
 * answers the two port requests over a simulated port space (sim/portsim.h)
 * and traces each of them; the control device \Device\QuendraSimCtl sets the
 * button's level and hands out the trace (sim/sim_control.h).
 *
 * The stand-in is the outside world: it states the driver's interface with
 * constants of its own, as the maker's driver defines it, and includes no
 * header of the service's. Device type 0xC350; both requests METHOD_BUFFERED:
 *   read a port byte   0xC35060CC  in:  2 bytes, the port (u16 little-endian)
 *                                  out: 2 bytes, the value, then one to ignore
 *   write a port byte  0xC350A0D8  in:  5 bytes, the port (u32 little-endian,
 *                                       upper half zero), then the value
 *                                  out: none
 * A request of any other length is refused.
 */

#include <ntddk.h>

#include <string.h>

#include "sim/portsim.h"
#include "sim/sim_control.h"

#define DRIVER_DEVICE_TYPE 0xC350u
#define DRIVER_READ_PORT_BYTE 0xC35060CCu
#define DRIVER_READ_IN_LENGTH 2u
#define DRIVER_READ_OUT_LENGTH 2u
#define DRIVER_WRITE_PORT_BYTE 0xC350A0D8u
#define DRIVER_WRITE_IN_LENGTH 5u
#define DRIVER_WRITE_OUT_LENGTH 0u

static struct portsim g_ports;
static struct sim_trace_entry g_trace[SIM_TRACE_CAPACITY];
static uint32_t g_traced;
static uint32_t g_fail_reads; /* IOCTL_SIM_FAIL_READS */
static KSPIN_LOCK g_lock;     /* guards the state above: requests come from several threads */
static PDEVICE_OBJECT g_main_device;
static PDEVICE_OBJECT g_control_device;
static PDRIVER_OBJECT g_driver;

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver);

#ifdef _WIN64
/* The x64 headers read the system time from the shared user page, which
 * Wine's driver host lacks: the exported function is looked up instead. */
typedef VOID(NTAPI *query_system_time_fn)(PLARGE_INTEGER);
static query_system_time_fn g_query_system_time;
#undef KeQuerySystemTime
#define KeQuerySystemTime(t) g_query_system_time(t)
#endif

/* 100 ns since 1601, the clock of GetSystemTimeAsFileTime. */
static uint64_t system_time(void) {
    LARGE_INTEGER t;
    KeQuerySystemTime(&t);
    return (uint64_t)t.QuadPart;
}

static NTSTATUS trace(uint8_t op, uint16_t port, uint8_t value, NTSTATUS status) {
    struct sim_trace_entry *e = &g_trace[g_traced % SIM_TRACE_CAPACITY];
    memset(e, 0, sizeof *e);
    e->time = system_time();
    e->seq = g_traced++;
    e->status = (uint32_t)status;
    e->port = port;
    e->op = op;
    e->value = value;
    return status;
}

/* A port request in the driver's layouts (above). */
static NTSTATUS port_request(uint32_t code, uint8_t *buffer, uint32_t in_len, uint32_t out_len,
                             ULONG_PTR *info) {
    if (code == DRIVER_READ_PORT_BYTE) {
        uint16_t port = in_len >= 2 ? (uint16_t)(buffer[0] | buffer[1] << 8) : 0;
        if (in_len != DRIVER_READ_IN_LENGTH || out_len != DRIVER_READ_OUT_LENGTH)
            return trace(SIM_OP_READ, port, 0, STATUS_INVALID_PARAMETER);
        if (g_fail_reads)
            return trace(SIM_OP_READ, port, 0, STATUS_DEVICE_NOT_READY);
        buffer[0] = portsim_in(&g_ports, port);
        buffer[1] = SIM_READ_FILLER;
        *info = DRIVER_READ_OUT_LENGTH;
        return trace(SIM_OP_READ, port, buffer[0], STATUS_SUCCESS);
    }
    if (code == DRIVER_WRITE_PORT_BYTE) {
        uint32_t port = 0;
        if (in_len >= 4)
            memcpy(&port, buffer, sizeof port);
        uint8_t value = in_len >= 5 ? buffer[4] : 0;
        if (in_len != DRIVER_WRITE_IN_LENGTH || out_len != DRIVER_WRITE_OUT_LENGTH ||
            port > 0xFFFFu)
            return trace(SIM_OP_WRITE, (uint16_t)port, value, STATUS_INVALID_PARAMETER);
        portsim_out(&g_ports, (uint16_t)port, value);
        return trace(SIM_OP_WRITE, (uint16_t)port, value, STATUS_SUCCESS);
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS get_trace(uint8_t *buffer, uint32_t in_len, uint32_t out_len, ULONG_PTR *info) {
    struct sim_trace_header header = {g_traced, 0, 0, 0};
    uint32_t oldest = g_traced > SIM_TRACE_CAPACITY ? g_traced - SIM_TRACE_CAPACITY : 0;
    uint32_t i;

    if (in_len != sizeof(uint32_t) || out_len < sizeof header)
        return STATUS_INVALID_PARAMETER;
    memcpy(&header.first, buffer, sizeof header.first);
    if (header.first < oldest)
        header.first = oldest;
    if (header.first > g_traced)
        header.first = g_traced;
    header.count = g_traced - header.first;
    if (header.count > (out_len - sizeof header) / sizeof(struct sim_trace_entry))
        header.count = (out_len - sizeof header) / sizeof(struct sim_trace_entry);
    memcpy(buffer, &header, sizeof header);
    for (i = 0; i < header.count; i++)
        memcpy(buffer + sizeof header + i * sizeof(struct sim_trace_entry),
               &g_trace[(header.first + i) % SIM_TRACE_CAPACITY], sizeof(struct sim_trace_entry));
    *info = sizeof header + header.count * sizeof(struct sim_trace_entry);
    return STATUS_SUCCESS;
}

static NTSTATUS control_request(uint32_t code, uint8_t *buffer, uint32_t in_len, uint32_t out_len,
                                ULONG_PTR *info) {
    struct sim_port_value pv;
    if (code == IOCTL_SIM_GET_TRACE)
        return get_trace(buffer, in_len, out_len, info);
    if (code == IOCTL_SIM_FAIL_READS && in_len == sizeof g_fail_reads) {
        memcpy(&g_fail_reads, buffer, sizeof g_fail_reads);
        return STATUS_SUCCESS;
    }
    if (code == IOCTL_SIM_REFUSE_UNLOAD && in_len == sizeof(uint32_t)) {
        uint32_t refuse;
        memcpy(&refuse, buffer, sizeof refuse);
        g_driver->DriverUnload = refuse ? NULL : driver_unload;
        return STATUS_SUCCESS;
    }
    if (code != IOCTL_SIM_SET_PORT)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (in_len != sizeof pv)
        return STATUS_INVALID_PARAMETER;
    memcpy(&pv, buffer, sizeof pv);
    g_ports.ports[pv.port] = pv.value;
    return STATUS_SUCCESS;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatch_success(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_device_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t code = stack->Parameters.DeviceIoControl.IoControlCode;
    uint32_t in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    uint32_t out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buffer = (uint8_t *)irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR info = 0;
    NTSTATUS status;
    KIRQL irql;

    if (buffer == NULL && (in_len != 0 || out_len != 0))
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    KeAcquireSpinLock(&g_lock, &irql);
    if (device == g_main_device)
        status = port_request(code, buffer, in_len, out_len, &info);
    else
        status = control_request(code, buffer, in_len, out_len, &info);
    KeReleaseSpinLock(&g_lock, irql);
    return complete(irp, status, info);
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

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    NTSTATUS status;

    (void)registry_path;
#ifdef _WIN64
    UNICODE_STRING routine;
    RtlInitUnicodeString(&routine, L"KeQuerySystemTime");
    g_query_system_time = (query_system_time_fn)MmGetSystemRoutineAddress(&routine);
    if (g_query_system_time == NULL)
        return STATUS_PROCEDURE_NOT_FOUND;
#endif
    KeInitializeSpinLock(&g_lock);
    portsim_init(&g_ports);
    g_traced = 0;

    status = create_device(driver, SIM_MAIN_DEVICE_NAME, SIM_MAIN_LINK_NAME, DRIVER_DEVICE_TYPE,
                           &g_main_device);
    if (!NT_SUCCESS(status))
        return status;
    status = create_device(driver, SIM_CONTROL_DEVICE_NAME, SIM_CONTROL_LINK_NAME,
                           SIM_CONTROL_DEVICE_TYPE, &g_control_device);
    if (!NT_SUCCESS(status)) {
        delete_device(&g_main_device, SIM_MAIN_LINK_NAME);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_success;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_success;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_success;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_device_control;
    driver->DriverUnload = driver_unload;
    g_driver = driver;
    return STATUS_SUCCESS;
}
