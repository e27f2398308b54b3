// Manager libraries on Windows: DLLs loaded with LoadLibraryA, found the system's normal way
// (the program's own folder first).
#include <windows.h>

#include "drive/aspi32.h"

namespace drive {
namespace {

// GetProcAddress returns every entry under one stand-in type; through the generic function
// pointer type it becomes the entry's own.
template <typename Entry>
Entry Bind(HMODULE module, const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

const char* ManagerFileName(const aspi::ManagerNames& names) {
    return names.windowsFile;
}

bool ManagerLibrary::Load(const char* file, const aspi::ManagerNames& names) {
    Unload();
    const HMODULE module = ::LoadLibraryA(file);
    if (module == nullptr) {
        return false;
    }
    ManagerEntries entries;
    entries.supportInfo = Bind<aspi::SupportInfoProc>(module, names.supportInfoEntry);
    entries.send = Bind<aspi::SendCommandProc>(module, names.sendEntry);
    if (entries.supportInfo == nullptr || entries.send == nullptr) {
        ::FreeLibrary(module);
        return false;
    }
    // Pinned until the process ends: a manager's own threads may still run in its code after
    // the last request, when the drive layer lets go of it.
    HMODULE pinned = nullptr;
    (void)::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
        reinterpret_cast<LPCSTR>(entries.send), &pinned);
    module_ = module;
    entries_ = entries;
    return true;
}

void ManagerLibrary::Unload() {
    if (module_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(module_));
        module_ = nullptr;
        entries_ = {};
    }
}

}  // namespace drive
