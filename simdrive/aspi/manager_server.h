// A simulated SCSI manager: answers request blocks for a set of simulated drives as the
// manager-library contract (drive/aspi_contract.h) says. The stand-in library wraps it; tests
// run it in-process.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "drive/aspi_contract.h"
#include "simdrive/description.h"

namespace standin {

// When an execute request completes: on the server's thread a little after the send returned,
// before the send returns, or the two in turn starting with the early one.
enum class Completion { late, early, alternate };

class ManagerServer {
public:
    // Without drives every query answers "failed initialisation". With a `commandLog` path,
    // each execute request appends one line to that file: its CDB in hex, and for data-out
    // requests " > " and the data.
    ManagerServer(std::optional<simdrive::DriveSet> drives, Completion completion,
                  std::string commandLog = {});
    ~ManagerServer();
    ManagerServer(const ManagerServer&) = delete;
    ManagerServer& operator=(const ManagerServer&) = delete;

    [[nodiscard]] std::uint32_t SupportInfo() const;
    std::uint32_t Send(void* requestBlock);

private:
    struct Request {
        aspi::SRB_ExecSCSICmd* block;
        simdrive::Drive* drive;
    };

    std::uint32_t HostAdapterInquiry(aspi::SRB_HAInquiry& block);
    std::uint32_t GetDeviceType(aspi::SRB_GDEVBlock& block);
    std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block);
    void Serve();
    void LogCommand(const aspi::SRB_ExecSCSICmd& block) const;

    std::optional<simdrive::DriveSet> drives_;
    std::uint8_t adapters_ = 0;
    Completion completion_;
    std::string commandLog_;
    std::uint32_t sends_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace standin
