// The SCSI port driver interface: what a miniport registers, what the port driver hands it and
// every routine the port driver offers it. Layouts follow the published 32-bit records.
#pragma once

#include "host/ntdef.h"
#include "host/pci.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef PHYSICAL_ADDRESS SCSI_PHYSICAL_ADDRESS;

// ---------------------------------------------------------------------------------------------
// The request block
// ---------------------------------------------------------------------------------------------

typedef struct _SCSI_REQUEST_BLOCK {
    USHORT Length;
    UCHAR Function;
    UCHAR SrbStatus;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR QueueTag;
    UCHAR QueueAction;
    UCHAR CdbLength;
    UCHAR SenseInfoBufferLength;
    ULONG SrbFlags;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    PVOID DataBuffer;
    PVOID SenseInfoBuffer;
    struct _SCSI_REQUEST_BLOCK* NextSrb;
    PVOID OriginalRequest;
    PVOID SrbExtension;
    union {
        ULONG InternalStatus;
        ULONG QueueSortKey;
    };
    UCHAR Cdb[16];
} SCSI_REQUEST_BLOCK, *PSCSI_REQUEST_BLOCK;

// Header of the buffer of an SRB_FUNCTION_IO_CONTROL request.
typedef struct _SRB_IO_CONTROL {
    ULONG HeaderLength;
    UCHAR Signature[8];
    ULONG Timeout;
    ULONG ControlCode;
    ULONG ReturnCode;
    ULONG Length;
} SRB_IO_CONTROL, *PSRB_IO_CONTROL;

// SRB functions
enum : UCHAR {
    SRB_FUNCTION_EXECUTE_SCSI = 0x00,
    SRB_FUNCTION_CLAIM_DEVICE = 0x01,
    SRB_FUNCTION_IO_CONTROL = 0x02,
    SRB_FUNCTION_RECEIVE_EVENT = 0x03,
    SRB_FUNCTION_RELEASE_QUEUE = 0x04,
    SRB_FUNCTION_ATTACH_DEVICE = 0x05,
    SRB_FUNCTION_RELEASE_DEVICE = 0x06,
    SRB_FUNCTION_SHUTDOWN = 0x07,
    SRB_FUNCTION_FLUSH = 0x08,
    SRB_FUNCTION_ABORT_COMMAND = 0x10,
    SRB_FUNCTION_RELEASE_RECOVERY = 0x11,
    SRB_FUNCTION_RESET_BUS = 0x12,
    SRB_FUNCTION_RESET_DEVICE = 0x13,
    SRB_FUNCTION_TERMINATE_IO = 0x14,
    SRB_FUNCTION_FLUSH_QUEUE = 0x15,
    SRB_FUNCTION_REMOVE_DEVICE = 0x16,
    SRB_FUNCTION_WMI = 0x17,
    SRB_FUNCTION_LOCK_QUEUE = 0x18,
    SRB_FUNCTION_UNLOCK_QUEUE = 0x19,
    SRB_FUNCTION_RESET_LOGICAL_UNIT = 0x20,
};

// SRB status
enum : UCHAR {
    SRB_STATUS_PENDING = 0x00,
    SRB_STATUS_SUCCESS = 0x01,
    SRB_STATUS_ABORTED = 0x02,
    SRB_STATUS_ABORT_FAILED = 0x03,
    SRB_STATUS_ERROR = 0x04,
    SRB_STATUS_BUSY = 0x05,
    SRB_STATUS_INVALID_REQUEST = 0x06,
    SRB_STATUS_INVALID_PATH_ID = 0x07,
    SRB_STATUS_NO_DEVICE = 0x08,
    SRB_STATUS_TIMEOUT = 0x09,
    SRB_STATUS_SELECTION_TIMEOUT = 0x0A,
    SRB_STATUS_COMMAND_TIMEOUT = 0x0B,
    SRB_STATUS_MESSAGE_REJECTED = 0x0D,
    SRB_STATUS_BUS_RESET = 0x0E,
    SRB_STATUS_PARITY_ERROR = 0x0F,
    SRB_STATUS_REQUEST_SENSE_FAILED = 0x10,
    SRB_STATUS_NO_HBA = 0x11,
    SRB_STATUS_DATA_OVERRUN = 0x12,
    SRB_STATUS_UNEXPECTED_BUS_FREE = 0x13,
    SRB_STATUS_PHASE_SEQUENCE_FAILURE = 0x14,
    SRB_STATUS_BAD_SRB_BLOCK_LENGTH = 0x15,
    SRB_STATUS_REQUEST_FLUSHED = 0x16,
    SRB_STATUS_INVALID_LUN = 0x20,
    SRB_STATUS_INVALID_TARGET_ID = 0x21,
    SRB_STATUS_BAD_FUNCTION = 0x22,
    SRB_STATUS_ERROR_RECOVERY = 0x23,
    SRB_STATUS_QUEUE_FROZEN = 0x40,
    SRB_STATUS_AUTOSENSE_VALID = 0x80,
};

// SRB flags
enum : ULONG {
    SRB_FLAGS_QUEUE_ACTION_ENABLE = 0x00000002,
    SRB_FLAGS_DISABLE_DISCONNECT = 0x00000004,
    SRB_FLAGS_DISABLE_SYNCH_TRANSFER = 0x00000008,
    SRB_FLAGS_DISABLE_AUTOSENSE = 0x00000020,
    SRB_FLAGS_DATA_IN = 0x00000040,
    SRB_FLAGS_DATA_OUT = 0x00000080,
    SRB_FLAGS_NO_DATA_TRANSFER = 0x00000000,
    SRB_FLAGS_UNSPECIFIED_DIRECTION = 0x000000C0,
    SRB_FLAGS_NO_QUEUE_FREEZE = 0x00000100,
    SRB_FLAGS_ADAPTER_CACHE_ENABLE = 0x00000200,
    SRB_FLAGS_IS_ACTIVE = 0x00010000,
    SRB_FLAGS_ALLOCATED_FROM_ZONE = 0x00020000,
    SRB_FLAGS_SGLIST_FROM_POOL = 0x00040000,
};

// ---------------------------------------------------------------------------------------------
// Configuration
// ---------------------------------------------------------------------------------------------

typedef struct _ACCESS_RANGE {
    SCSI_PHYSICAL_ADDRESS RangeStart;
    ULONG RangeLength;
    BOOLEAN RangeInMemory;
} ACCESS_RANGE, *PACCESS_RANGE;

typedef enum _DMA_WIDTH { Width8Bits, Width16Bits, Width32Bits, MaximumDmaWidth } DMA_WIDTH;
typedef enum _DMA_SPEED { Compatible, TypeA, TypeB, TypeC, TypeF, MaximumDmaSpeed } DMA_SPEED;

typedef struct _PORT_CONFIGURATION_INFORMATION {
    ULONG Length;
    ULONG SystemIoBusNumber;
    INTERFACE_TYPE AdapterInterfaceType;
    ULONG BusInterruptLevel;
    ULONG BusInterruptVector;
    KINTERRUPT_MODE InterruptMode;
    ULONG MaximumTransferLength;
    ULONG NumberOfPhysicalBreaks;
    ULONG DmaChannel;
    ULONG DmaPort;
    DMA_WIDTH DmaWidth;
    DMA_SPEED DmaSpeed;
    ULONG AlignmentMask;
    ULONG NumberOfAccessRanges;
    ACCESS_RANGE (*AccessRanges)[];
    PVOID Reserved;
    UCHAR NumberOfBuses;
    CCHAR InitiatorBusId[8];
    BOOLEAN ScatterGather;
    BOOLEAN Master;
    BOOLEAN CachesData;
    BOOLEAN AdapterScansDown;
    BOOLEAN AtdiskPrimaryClaimed;
    BOOLEAN AtdiskSecondaryClaimed;
    BOOLEAN Dma32BitAddresses;
    BOOLEAN DemandMode;
    BOOLEAN MapBuffers;
    BOOLEAN NeedPhysicalAddresses;
    BOOLEAN TaggedQueuing;
    BOOLEAN AutoRequestSense;
    BOOLEAN MultipleRequestPerLu;
    BOOLEAN ReceiveEvent;
    BOOLEAN RealModeInitialized;
    BOOLEAN BufferAccessScsiPortControlled;
    UCHAR MaximumNumberOfTargets;
    UCHAR ReservedUchars[2];
    ULONG SlotNumber;
    ULONG BusInterruptLevel2;
    ULONG BusInterruptVector2;
    KINTERRUPT_MODE InterruptMode2;
    ULONG DmaChannel2;
    ULONG DmaPort2;
    DMA_WIDTH DmaWidth2;
    DMA_SPEED DmaSpeed2;
    ULONG DeviceExtensionSize;
    ULONG SpecificLuExtensionSize;
    ULONG SrbExtensionSize;
    UCHAR Dma64BitAddresses;
    BOOLEAN ResetTargetSupported;
    UCHAR MaximumNumberOfLogicalUnits;
    BOOLEAN WmiDataProvider;
} PORT_CONFIGURATION_INFORMATION, *PPORT_CONFIGURATION_INFORMATION;

#define SP_UNINITIALIZED_VALUE ((ULONG)~0u)
#define SP_UNTAGGED ((UCHAR)~0u)

// Results of HwFindAdapter
enum : ULONG {
    SP_RETURN_NOT_FOUND = 0,
    SP_RETURN_FOUND = 1,
    SP_RETURN_ERROR = 2,
    SP_RETURN_BAD_CONFIG = 3,
};

// Error-log codes for ScsiPortLogError
enum : ULONG {
    SP_BUS_PARITY_ERROR = 0x0001,
    SP_UNEXPECTED_DISCONNECT = 0x0002,
    SP_INVALID_RESELECTION = 0x0003,
    SP_BUS_TIME_OUT = 0x0004,
    SP_PROTOCOL_ERROR = 0x0005,
    SP_INTERNAL_ADAPTER_ERROR = 0x0006,
    SP_REQUEST_TIMEOUT = 0x0007,
    SP_IRQ_NOT_RESPONDING = 0x0008,
    SP_BAD_FW_WARNING = 0x0009,
    SP_BAD_FW_ERROR = 0x000A,
    SP_LOST_WMI_MINIPORT_REQUEST = 0x000B,
};

typedef enum _SCSI_NOTIFICATION_TYPE {
    RequestComplete = 0,
    NextRequest = 1,
    NextLuRequest = 2,
    ResetDetected = 3,
    CallDisableInterrupts = 4,
    CallEnableInterrupts = 5,
    RequestTimerCall = 6,
    BusChangeDetected = 7,
    WMIEvent = 8,
    WMIReregister = 9,
} SCSI_NOTIFICATION_TYPE;

typedef enum _SCSI_ADAPTER_CONTROL_TYPE {
    ScsiQuerySupportedControlTypes = 0,
    ScsiStopAdapter = 1,
    ScsiRestartAdapter = 2,
    ScsiSetBootConfig = 3,
    ScsiSetRunningConfig = 4,
    ScsiAdapterControlMax = 5,
} SCSI_ADAPTER_CONTROL_TYPE;

typedef enum _SCSI_ADAPTER_CONTROL_STATUS {
    ScsiAdapterControlSuccess = 0,
    ScsiAdapterControlUnsuccessful = 1,
} SCSI_ADAPTER_CONTROL_STATUS;

typedef struct _SCSI_SUPPORTED_CONTROL_TYPE_LIST {
    ULONG MaxControlType;
    BOOLEAN SupportedTypeList[1];
} SCSI_SUPPORTED_CONTROL_TYPE_LIST, *PSCSI_SUPPORTED_CONTROL_TYPE_LIST;

// ---------------------------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------------------------

typedef BOOLEAN (*PHW_INITIALIZE)(PVOID DeviceExtension);
typedef BOOLEAN (*PHW_STARTIO)(PVOID DeviceExtension, PSCSI_REQUEST_BLOCK Srb);
typedef BOOLEAN (*PHW_INTERRUPT)(PVOID DeviceExtension);
typedef VOID (*PHW_TIMER)(PVOID DeviceExtension);
typedef VOID (*PHW_DMA_STARTED)(PVOID DeviceExtension);
typedef ULONG (*PHW_FIND_ADAPTER)(PVOID DeviceExtension, PVOID HwContext, PVOID BusInformation,
                                  PCHAR ArgumentString, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                                  PBOOLEAN Again);
typedef BOOLEAN (*PHW_RESET_BUS)(PVOID DeviceExtension, ULONG PathId);
typedef BOOLEAN (*PHW_ADAPTER_STATE)(PVOID DeviceExtension, PVOID Context, BOOLEAN SaveState);
typedef SCSI_ADAPTER_CONTROL_STATUS (*PHW_ADAPTER_CONTROL)(PVOID DeviceExtension,
                                                           SCSI_ADAPTER_CONTROL_TYPE ControlType,
                                                           PVOID Parameters);

typedef struct _HW_INITIALIZATION_DATA {
    ULONG HwInitializationDataSize;
    INTERFACE_TYPE AdapterInterfaceType;
    PHW_INITIALIZE HwInitialize;
    PHW_STARTIO HwStartIo;
    PHW_INTERRUPT HwInterrupt;
    PHW_FIND_ADAPTER HwFindAdapter;
    PHW_RESET_BUS HwResetBus;
    PHW_DMA_STARTED HwDmaStarted;
    PHW_ADAPTER_STATE HwAdapterState;
    ULONG DeviceExtensionSize;
    ULONG SpecificLuExtensionSize;
    ULONG SrbExtensionSize;
    ULONG NumberOfAccessRanges;
    PVOID Reserved;
    BOOLEAN MapBuffers;
    BOOLEAN NeedPhysicalAddresses;
    BOOLEAN TaggedQueuing;
    BOOLEAN AutoRequestSense;
    BOOLEAN MultipleRequestPerLu;
    BOOLEAN ReceiveEvent;
    USHORT VendorIdLength;
    PVOID VendorId;
    union {
        USHORT ReservedUshort;
        USHORT PortVersionFlags;
    };
    USHORT DeviceIdLength;
    PVOID DeviceId;
    PHW_ADAPTER_CONTROL HwAdapterControl;  // only in records of 80 bytes
} HW_INITIALIZATION_DATA, *PHW_INITIALIZATION_DATA;

// The record a system before version 5 knows ends just before HwAdapterControl.
#define HW_INITIALIZATION_DATA_SIZE_WITHOUT_ADAPTER_CONTROL \
    offsetof(HW_INITIALIZATION_DATA, HwAdapterControl)

static_assert(sizeof(SCSI_REQUEST_BLOCK) == 64, "SCSI_REQUEST_BLOCK is 64 bytes");
static_assert(offsetof(SCSI_REQUEST_BLOCK, Cdb) == 48, "the CDB closes the request block");
static_assert(sizeof(SRB_IO_CONTROL) == 28, "SRB_IO_CONTROL is 28 bytes");
static_assert(sizeof(ACCESS_RANGE) == 16, "ACCESS_RANGE is 16 bytes");
static_assert(offsetof(HW_INITIALIZATION_DATA, HwAdapterControl) == 76,
              "HW_INITIALIZATION_DATA is 76 bytes up to HwAdapterControl");
static_assert(sizeof(HW_INITIALIZATION_DATA) == 80,
              "HW_INITIALIZATION_DATA is 80 bytes with HwAdapterControl");

// ---------------------------------------------------------------------------------------------
// Port driver routines
// ---------------------------------------------------------------------------------------------

ULONG ScsiPortInitialize(PVOID Argument1, PVOID Argument2,
                         PHW_INITIALIZATION_DATA HwInitializationData, PVOID HwContext);

PVOID ScsiPortGetDeviceBase(PVOID HwDeviceExtension, INTERFACE_TYPE BusType,
                            ULONG SystemIoBusNumber, SCSI_PHYSICAL_ADDRESS IoAddress,
                            ULONG NumberOfBytes, BOOLEAN InIoSpace);
VOID ScsiPortFreeDeviceBase(PVOID HwDeviceExtension, PVOID MappedAddress);
SCSI_PHYSICAL_ADDRESS ScsiPortConvertUlongToPhysicalAddress(ULONG UlongAddress);
PVOID ScsiPortGetUncachedExtension(PVOID HwDeviceExtension,
                                   PPORT_CONFIGURATION_INFORMATION ConfigInfo, ULONG NumberOfBytes);
SCSI_PHYSICAL_ADDRESS ScsiPortGetPhysicalAddress(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb,
                                                 PVOID VirtualAddress, PULONG Length);
ULONG ScsiPortGetBusData(PVOID DeviceExtension, ULONG BusDataType, ULONG SystemIoBusNumber,
                         ULONG SlotNumber, PVOID Buffer, ULONG Length);
ULONG ScsiPortSetBusDataByOffset(PVOID DeviceExtension, ULONG BusDataType, ULONG SystemIoBusNumber,
                                 ULONG SlotNumber, PVOID Buffer, ULONG Offset, ULONG Length);

UCHAR ScsiPortReadPortUchar(PUCHAR Port);
USHORT ScsiPortReadPortUshort(PUSHORT Port);
ULONG ScsiPortReadPortUlong(PULONG Port);
VOID ScsiPortWritePortUchar(PUCHAR Port, UCHAR Value);
VOID ScsiPortWritePortUshort(PUSHORT Port, USHORT Value);
VOID ScsiPortWritePortUlong(PULONG Port, ULONG Value);
VOID ScsiPortReadPortBufferUchar(PUCHAR Port, PUCHAR Buffer, ULONG Count);
VOID ScsiPortReadPortBufferUshort(PUSHORT Port, PUSHORT Buffer, ULONG Count);
VOID ScsiPortReadPortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count);
VOID ScsiPortWritePortBufferUchar(PUCHAR Port, PUCHAR Buffer, ULONG Count);
VOID ScsiPortWritePortBufferUshort(PUSHORT Port, PUSHORT Buffer, ULONG Count);
VOID ScsiPortWritePortBufferUlong(PULONG Port, PULONG Buffer, ULONG Count);

UCHAR ScsiPortReadRegisterUchar(PUCHAR Register);
USHORT ScsiPortReadRegisterUshort(PUSHORT Register);
ULONG ScsiPortReadRegisterUlong(PULONG Register);
VOID ScsiPortWriteRegisterUchar(PUCHAR Register, UCHAR Value);
VOID ScsiPortWriteRegisterUshort(PUSHORT Register, USHORT Value);
VOID ScsiPortWriteRegisterUlong(PULONG Register, ULONG Value);
VOID ScsiPortReadRegisterBufferUchar(PUCHAR Register, PUCHAR Buffer, ULONG Count);
VOID ScsiPortReadRegisterBufferUshort(PUSHORT Register, PUSHORT Buffer, ULONG Count);
VOID ScsiPortReadRegisterBufferUlong(PULONG Register, PULONG Buffer, ULONG Count);
VOID ScsiPortWriteRegisterBufferUchar(PUCHAR Register, PUCHAR Buffer, ULONG Count);
VOID ScsiPortWriteRegisterBufferUshort(PUSHORT Register, PUSHORT Buffer, ULONG Count);
VOID ScsiPortWriteRegisterBufferUlong(PULONG Register, PULONG Buffer, ULONG Count);

PVOID ScsiPortGetLogicalUnit(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun);
// RequestComplete takes the request; RequestTimerCall the routine and the interval in
// microseconds; NextRequest and ResetDetected take nothing more.
VOID ScsiPortNotification(SCSI_NOTIFICATION_TYPE NotificationType, PVOID HwDeviceExtension, ...);
VOID ScsiPortCompleteRequest(PVOID HwDeviceExtension, UCHAR PathId, UCHAR TargetId, UCHAR Lun,
                             UCHAR SrbStatus);
VOID ScsiPortLogError(PVOID HwDeviceExtension, PSCSI_REQUEST_BLOCK Srb, UCHAR PathId,
                      UCHAR TargetId, UCHAR Lun, ULONG ErrorCode, ULONG UniqueId);
VOID ScsiPortStallExecution(ULONG Delay);
VOID ScsiPortMoveMemory(PVOID WriteBuffer, PVOID ReadBuffer, ULONG Length);

#ifdef __cplusplus
}
#endif
