#include "drive/drive_layer.h"

#include <optional>

#include "drive/aspi32.h"
#include "drive/aspi_proc.h"
#include "drive/native_scsi.h"
#include "runtime/halt.h"

namespace drive {
namespace {

struct Layer {
    std::optional<NativeScsi> native;
    ManagerLibrary aspi;
    ManagerLibrary alternative;
    bool commandStateReady = false;
    bool terminationInstalled = false;
    runtime::TerminationProc previousTermination = nullptr;
};

Layer layer;

void LoadManager(ManagerLibrary& library, const char* file, const aspi::ManagerNames& names) {
    const char* chosen = file != nullptr ? file : ManagerFileName(names);
    if (*chosen != '\0') {
        (void)library.Load(chosen, names);
    }
}

void TerminateDriveLayer() {
    runtime::InstallTermination(layer.previousTermination);
    ClaimCommandLockForEnd();
    StopDriveLayer();
}

}  // namespace

void StartDriveLayer(const DriveLayerOptions& options) {
    StopDriveLayer();
    layer.native.emplace(options.deviceOs != nullptr ? *options.deviceOs
                                                     : native::PlatformDeviceOs());
    layer.native->Start();
    LoadManager(layer.aspi, options.aspiLibrary, aspi::aspiManager);
    LoadManager(layer.alternative, options.alternativeLibrary, aspi::alternativeManager);
    layer.commandStateReady = CreateCommandState();
    if (!layer.terminationInstalled) {
        layer.previousTermination = runtime::InstallTermination(TerminateDriveLayer);
        layer.terminationInstalled = true;
    }
}

void StopDriveLayer() {
    (void)drive::SelectTransport(TransportPaths{});
    ReleaseCommandState();
    layer.commandStateReady = false;
    layer.aspi.Unload();
    layer.alternative.Unload();
    layer.native.reset();
}

TransportKind SelectTransport() {
    TransportPaths paths;
    if (layer.commandStateReady) {
        paths.aspi = layer.aspi.Entries();
        paths.alternative = layer.alternative.Entries();
        paths.native = layer.native.has_value() ? &*layer.native : nullptr;
    }
    return SelectTransport(paths);
}

native::Bus DriveBus(const DriveRecord& drive) {
    if (ActiveTransport() != TransportKind::native || !layer.native.has_value()) {
        return native::Bus::unknown;
    }
    return layer.native->DeviceBus(drive.adapter, drive.target, drive.lun);
}

}  // namespace drive
