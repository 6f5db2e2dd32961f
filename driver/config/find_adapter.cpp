// Adapter discovery: the port driver offers one PCI function of the controller per call. The
// driver proves that the chip answers, maps its windows, recognises the host, applies the
// option string, describes the adapter to the port driver, obtains the common buffer and gives
// every adapter field its first value. The chip itself is initialised later.

#include "driver/config/find_adapter.h"

#include "driver/config/entry_points.h"
#include "driver/config/host_checks.h"
#include "driver/config/options.h"
#include "driver/config/pci_config.h"
#include "driver/core/build.h"
#include "driver/core/registers.h"
#include "driver/platform9x/w9x_services.h"
#include "driver/transfer/fifo_routines.h"

namespace quell {
namespace {

// The common buffer: 64 KiB of bounce buffer plus the bytes lost when its start is aligned.
constexpr ULONG kCommonBufferBytes = 65540;
constexpr ULONG kCommonBufferUsable = 65536;
constexpr ULONG kResetStallMicroseconds = 2500000;
// A scatter/gather table holds at most 19 entries.
constexpr ULONG kBusMasterPhysicalBreaks = 18;
constexpr ULONG kBusMasterAlignmentMask = 3;

constexpr ULONG kIoWindowRange = 0;
constexpr ULONG kMemoryWindowRange = 1;

ACCESS_RANGE& AccessRange(PPORT_CONFIGURATION_INFORMATION ConfigInfo, ULONG Index) {
    return (*ConfigInfo->AccessRanges)[Index];
}

// The chip reports where it decodes its memory window; the window is mapped from that value,
// not from the port driver's access ranges.
VOID MapMemoryWindow(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo) {
    const ULONG Base = ReadIndexed32(Adapter->PortBase, IDX_13);
    if constexpr (kBuildMp) {
        // The 9x port driver learns of the window from access range 1 and from the request for
        // it; the driver itself reaches the window through the system's own mapping.
        if (ConfigInfo->NumberOfAccessRanges > kMemoryWindowRange) {
            ACCESS_RANGE& Range = AccessRange(ConfigInfo, kMemoryWindowRange);
            Range.RangeStart = ScsiPortConvertUlongToPhysicalAddress(Base);
            Range.RangeLength = MEMORY_WINDOW_SIZE;
            Range.RangeInMemory = TRUE;
        }
        ScsiPortGetDeviceBase(
            Adapter, ConfigInfo->AdapterInterfaceType, ConfigInfo->SystemIoBusNumber,
            ScsiPortConvertUlongToPhysicalAddress(Base), MEMORY_WINDOW_SIZE, FALSE);
        Adapter->MmioWindow = MapPhysicalRange(Base, MEMORY_WINDOW_SIZE);
    } else {
        Adapter->MmioWindow = static_cast<PUCHAR>(ScsiPortGetDeviceBase(
            Adapter, ConfigInfo->AdapterInterfaceType, ConfigInfo->SystemIoBusNumber,
            ScsiPortConvertUlongToPhysicalAddress(Base), MEMORY_WINDOW_SIZE, FALSE));
    }
}

// The programmed-I/O column: the driver touches every byte itself, through mapped buffers.
VOID DescribeProgrammedIo(PPORT_CONFIGURATION_INFORMATION ConfigInfo) {
    ConfigInfo->ScatterGather = FALSE;
    ConfigInfo->Master = FALSE;
    ConfigInfo->NumberOfPhysicalBreaks = SP_UNINITIALIZED_VALUE;
    ConfigInfo->MapBuffers = TRUE;
    ConfigInfo->NeedPhysicalAddresses = FALSE;
}

VOID FillConfigInfo(PPORT_CONFIGURATION_INFORMATION ConfigInfo, UCHAR Mode,
                    const DRIVER_OPTIONS& Options) {
    const BOOLEAN BusMaster = Mode == TRANSFER_MODE_BUS_MASTER;
    ULONG MaximumTransferLength = Options.MaximumTransferLength;
    // In bus-master mode any request may have to go through the common buffer (option "nosg"
    // or a buffer the chip cannot follow), so no request may be longer than the buffer.
    if (BusMaster && MaximumTransferLength > kCommonBufferUsable) {
        MaximumTransferLength = kCommonBufferUsable;
    }
    ConfigInfo->MaximumTransferLength = MaximumTransferLength;
    ConfigInfo->DmaChannel = SP_UNINITIALIZED_VALUE;
    ConfigInfo->BufferAccessScsiPortControlled = TRUE;
    ConfigInfo->Dma32BitAddresses = TRUE;
    ConfigInfo->DemandMode = FALSE;
    ConfigInfo->InterruptMode = LevelSensitive;
    ConfigInfo->RealModeInitialized = FALSE;
    ConfigInfo->NumberOfBuses = 1;
    ConfigInfo->InitiatorBusId[0] = static_cast<CCHAR>(kInitiatorId);
    if (BusMaster) {
        ConfigInfo->ScatterGather = TRUE;
        ConfigInfo->Master = TRUE;
        ConfigInfo->NumberOfPhysicalBreaks = kBusMasterPhysicalBreaks;
        // quellmp reaches request buffers through its own segment list; quellnt needs them
        // mapped for the common-buffer copies.
        ConfigInfo->MapBuffers = kBuildMp ? FALSE : TRUE;
        if (kBuildMp && !Options.NoAlign) {
            ConfigInfo->AlignmentMask = kBusMasterAlignmentMask;
        }
    } else {
        DescribeProgrammedIo(ConfigInfo);
    }
}

// Returns the mode the adapter can run in: a refused buffer leaves only the I/O-port FIFO.
UCHAR ObtainCommonBuffer(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                         UCHAR Mode) {
    Adapter->CommonBuffer = nullptr;
    Adapter->CommonBufferPhysical = 0;
    // quellnt asks only when it will master.
    if (!kBuildMp && Mode != TRANSFER_MODE_BUS_MASTER) {
        return Mode;
    }
    const PUCHAR Buffer =
        static_cast<PUCHAR>(ScsiPortGetUncachedExtension(Adapter, ConfigInfo, kCommonBufferBytes));
    if (Buffer == nullptr) {
        // Without a common buffer nothing can be mastered, not even through the bounce buffer.
        DescribeProgrammedIo(ConfigInfo);
        ConfigInfo->Dma32BitAddresses = FALSE;
        return TRANSFER_MODE_FIFO_PORT;
    }
    const uintptr_t Address = reinterpret_cast<uintptr_t>(Buffer);
    const uintptr_t Aligned = (Address & 3) != 0 ? (Address & ~uintptr_t{3}) + 4 : Address;
    Adapter->CommonBuffer = reinterpret_cast<PUCHAR>(Aligned);
    ULONG Length = 0;
    Adapter->CommonBufferPhysical =
        ScsiPortGetPhysicalAddress(Adapter, nullptr, Adapter->CommonBuffer, &Length).u.LowPart;
    return Mode;
}

VOID InstallFifoRoutines(PADAPTER_EXTENSION Adapter, UCHAR Mode) {
    if (Mode == TRANSFER_MODE_FIFO_WINDOW) {
        Adapter->FifoReadRoutine = ReadFifoWindow;
        Adapter->FifoWriteRoutine = WriteFifoWindow;
    } else {
        Adapter->FifoReadRoutine = ReadFifoPort;
        Adapter->FifoWriteRoutine = WriteFifoPort;
    }
}

VOID InitialiseTargets(PADAPTER_EXTENSION Adapter, UCHAR Mode) {
    const UCHAR Flags = (Adapter->OptionFlags & OPTION_NO_SG) != 0 ? TARGET_COMMON_BUFFER : 0;
    for (ULONG Id = 0; Id < kTargetCount; ++Id) {
        TARGET_STATE& Target = Adapter->Targets[Id];
        Target.Flags = Flags;
        Target.SyncPeriodCode = 0;
        Target.SyncOffset = 0;
        Target.AckWidthClass = 0;
        Target.TransferMode = Mode;
        Adapter->DeviceType[Id] = 0xFF;  // not yet known
    }
}

// The chip's latency lives in the high byte of IDX_11. A chip that already holds a value of its
// own keeps it.
VOID WriteLatency(PADAPTER_EXTENSION Adapter) {
    const PUCHAR Port = Adapter->PortBase;
    WriteRegister8(Port, INDEX, IDX_11);
    const USHORT Current = ReadRegister16(Port, INDEXED_DATA);
    // The upper half is read and dropped: the chip expects the 32-bit register read whole.
    (void)ReadRegister8(Port, INDEXED_DATA_HIGH);
    if ((Current & 0xFF00) != 0) {
        return;
    }
    WriteIndexed16(Port, IDX_11,
                   static_cast<USHORT>((Adapter->LatmSetting << 8) | (Current & 0x00FF)));
}

}  // namespace

BOOLEAN ProbeIoWindow(PADAPTER_EXTENSION Adapter, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                      PVOID HwContext, PBOOLEAN Again) {
    (void)HwContext;
    *Again = FALSE;
    Adapter->PortBase = nullptr;
    if (ConfigInfo->NumberOfAccessRanges <= kIoWindowRange) {
        return FALSE;
    }
    ACCESS_RANGE& Range = AccessRange(ConfigInfo, kIoWindowRange);
    Adapter->PortBase = static_cast<PUCHAR>(ScsiPortGetDeviceBase(
        Adapter, ConfigInfo->AdapterInterfaceType, ConfigInfo->SystemIoBusNumber,
        ScsiPortConvertUlongToPhysicalAddress(Range.RangeStart.u.LowPart), Range.RangeLength,
        TRUE));
    if (Adapter->PortBase == nullptr) {
        return FALSE;
    }
    // The low byte of the revision is a stepping the driver does not care about.
    const USHORT Revision = ReadRegister16(Adapter->PortBase, CHIP_REVISION);
    if (Revision < CHIP_REVISION_FIRST || Revision > CHIP_REVISION_LAST) {
        ScsiPortFreeDeviceBase(Adapter, Adapter->PortBase);
        Adapter->PortBase = nullptr;
        return FALSE;
    }
    Range.RangeStart = ScsiPortConvertUlongToPhysicalAddress(
        static_cast<ULONG>(reinterpret_cast<uintptr_t>(Adapter->PortBase)));
    Range.RangeInMemory = FALSE;
    return TRUE;
}

ULONG MiniportFindAdapter(PVOID DeviceExtension, PVOID HwContext, PVOID BusInformation,
                          PCHAR ArgumentString, PPORT_CONFIGURATION_INFORMATION ConfigInfo,
                          PBOOLEAN Again) {
    (void)BusInformation;
    const PADAPTER_EXTENSION Adapter = static_cast<PADAPTER_EXTENSION>(DeviceExtension);

    if constexpr (!kBuildMp) {
        EnableCardDecoding(Adapter, ConfigInfo);
    }
    Adapter->OptionFlags = 0;
    Adapter->PendingFlags = 0;

    const BOOLEAN Answered = ProbeIoWindow(Adapter, ConfigInfo, HwContext, Again);
    if constexpr (!kBuildMp) {
        // quellnt asks for the next candidate whatever this one was.
        *Again = TRUE;
    }
    if (!Answered) {
        return SP_RETURN_NOT_FOUND;
    }

    MapMemoryWindow(Adapter, ConfigInfo);

    Adapter->OptionFlags =
        static_cast<USHORT>((Adapter->OptionFlags & ~OPTION_AUTO_PROGRAM) | OPTION_ULTRA);
    UCHAR Mode = TRANSFER_MODE_BUS_MASTER;

    CheckFirmwareSignature(Adapter, ConfigInfo, &Mode);
    // The extension is fresh, so AdapterTransferMode is still 0: memory decoding goes off.
    LocatePciFunction(Adapter, ConfigInfo);
    CheckProcessorAndBridges(Adapter, &Mode);

    DRIVER_OPTIONS Options;
    ApplyDriverOptions(Adapter, ArgumentString, &Mode, &Options);
    // The memory-window FIFO needs the window; without a mapping the I/O-port FIFO serves.
    if (Mode == TRANSFER_MODE_FIFO_WINDOW && Adapter->MmioWindow == nullptr) {
        Mode = TRANSFER_MODE_FIFO_PORT;
    }
    if (Mode == TRANSFER_MODE_BUS_MASTER) {
        CheckBusMasterBridge(Adapter);
    }

    FillConfigInfo(ConfigInfo, Mode, Options);
    Mode = ObtainCommonBuffer(Adapter, ConfigInfo, Mode);

    Adapter->AdapterTransferMode = Mode;
    InstallFifoRoutines(Adapter, Mode);
    Adapter->DevicesFound = 0;
    Adapter->ScanComplete = 0;
    InitialiseTargets(Adapter, Mode);
    Adapter->ResetStallMicroseconds = kResetStallMicroseconds;

    // Now with the final mode: memory decoding stays on only for the memory-window FIFO.
    LocatePciFunction(Adapter, ConfigInfo);
    WriteLatency(Adapter);

    Adapter->IrqControlShadow = IRQ_MASK_ALL;
    return SP_RETURN_FOUND;
}

}  // namespace quell
