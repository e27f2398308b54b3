// A manager library stays mapped after the drive layer lets go of it, while a thread of its own
// still runs in its code.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "drive/aspi32.h"

namespace {

TEST(ManagerLibraryLifetime, AThreadOfTheManagerRunsOnAfterItIsUnloaded) {
    drive::ManagerLibrary library;
    ASSERT_TRUE(library.Load(MARROWBY_LINGERING_MANAGER, aspi::aspiManager));
    aspi::SRB_ExecSCSICmd block{};
    block.SRB_Cmd = aspi::commandExecute;
    EXPECT_EQ(library.Entries().send(&block), aspi::statusPending);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::atomic_ref<std::uint8_t>(block.SRB_Status).load() == aspi::statusPending &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(std::atomic_ref<std::uint8_t>(block.SRB_Status).load(), aspi::statusCompleted);
    library.Unload();
    // The manager's thread wakes every millisecond in the library's code: had the code gone
    // with the unload, this process would have died of it by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(library.Loaded());
}

}  // namespace
