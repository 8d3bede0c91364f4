#include "foundation/chunk_writer.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "foundation/sha256.h"

ChunkWriter::ChunkWriter(void* file, Sha256Hasher* hasher) : file_(file), hasher_(hasher) {
    for (std::vector<uint8_t>& buffer : buffers_) buffer.resize(kSlotBytes);
    thread_ = std::thread([this] { Run(); });
}

ChunkWriter::~ChunkWriter() { Finish(); }

bool ChunkWriter::Push(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return count_ < kSlots || failed_; });
        if (failed_ || closing_) return false;
        const size_t slot = (head_ + count_) % kSlots;
        const size_t part = std::min(length, kSlotBytes);
        lock.unlock();
        std::memcpy(buffers_[slot].data(), bytes, part);  // this slot is ours until it is counted
        lock.lock();
        lengths_[slot] = part;
        ++count_;
        changed_.notify_all();
        bytes += part;
        length -= part;
    }
    return true;
}

bool ChunkWriter::Finish() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return count_ == 0 || failed_; });
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    return !failed_;
}

void ChunkWriter::Run() {
    for (;;) {
        size_t slot = 0, length = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return count_ > 0 || closing_; });
            if (count_ == 0) return;
            slot = head_;
            length = lengths_[slot];
        }
        DWORD written = 0;
        const bool ok = WriteFile(static_cast<HANDLE>(file_), buffers_[slot].data(), static_cast<DWORD>(length), &written, nullptr) &&
                        written == length;
        if (ok && hasher_ != nullptr) hasher_->Add(buffers_[slot].data(), length);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ok) failed_ = true;
        head_ = (head_ + 1) % kSlots;
        --count_;
        changed_.notify_all();
        if (failed_) return;
    }
}
