// Manager libraries on Linux: shared objects opened with dlopen.
#include <dlfcn.h>

#include "drive/aspi32.h"

namespace drive {

const char* ManagerFileName(const aspi::ManagerNames& names) {
    return names.linuxFile;
}

bool ManagerLibrary::Load(const char* file, const aspi::ManagerNames& names) {
    Unload();
    // Mapped until the process ends: a manager's own threads may still run in its code after
    // the last request, when the drive layer lets go of it.
    void* module = dlopen(file, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (module == nullptr) {
        return false;
    }
    ManagerEntries entries;
    entries.supportInfo =
        reinterpret_cast<aspi::SupportInfoProc>(dlsym(module, names.supportInfoEntry));
    entries.send = reinterpret_cast<aspi::SendCommandProc>(dlsym(module, names.sendEntry));
    if (entries.supportInfo == nullptr || entries.send == nullptr) {
        dlclose(module);
        return false;
    }
    module_ = module;
    entries_ = entries;
    return true;
}

void ManagerLibrary::Unload() {
    if (module_ != nullptr) {
        dlclose(module_);
        module_ = nullptr;
        entries_ = {};
    }
}

}  // namespace drive
