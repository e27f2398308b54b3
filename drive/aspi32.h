// The manager libraries: loaded by file name at start-up, their two entry points bound.
#pragma once

#include "drive/aspi_contract.h"

namespace drive {

struct ManagerEntries {
    aspi::SupportInfoProc supportInfo = nullptr;
    aspi::SendCommandProc send = nullptr;
};

// One loaded manager library. A library that loads but lacks an entry point is not kept.
class ManagerLibrary {
public:
    ManagerLibrary() = default;
    ~ManagerLibrary() { Unload(); }
    ManagerLibrary(const ManagerLibrary&) = delete;
    ManagerLibrary& operator=(const ManagerLibrary&) = delete;

    // `file` is searched the dynamic loader's normal way unless it holds a directory.
    bool Load(const char* file, const aspi::ManagerNames& names);
    void Unload();
    [[nodiscard]] bool Loaded() const { return module_ != nullptr; }
    [[nodiscard]] const ManagerEntries& Entries() const { return entries_; }

private:
    void* module_ = nullptr;
    ManagerEntries entries_;
};

// The platform's file name of a manager library.
[[nodiscard]] const char* ManagerFileName(const aspi::ManagerNames& names);

}  // namespace drive
