#pragma once
// Writes and hashes downloaded chunks on a thread of its own, so the network read of the next
// chunk overlaps the disk write and the hash of this one. A fixed ring of buffers keeps memory
// flat however large the download.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class Sha256Hasher;

class ChunkWriter {
public:
    // file: an open Windows file handle; hasher: may be null.
    ChunkWriter(void* file, Sha256Hasher* hasher);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Copies the chunk into the ring, waiting for a free buffer; false once any write has failed.
    bool Push(const uint8_t* bytes, size_t length);
    // Waits until everything pushed is written and hashed; false when any write failed.
    bool Finish();

private:
    void Run();

    static constexpr size_t kSlots = 8;
    static constexpr size_t kSlotBytes = 65536;
    void* file_;
    Sha256Hasher* hasher_;
    std::array<std::vector<uint8_t>, kSlots> buffers_;
    std::array<size_t, kSlots> lengths_{};
    size_t head_ = 0, count_ = 0;  // the oldest filled slot and how many are filled
    bool closing_ = false, failed_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};
