#pragma once
// A single-producer, single-consumer ring of audio frames. One thread writes
// and one thread reads, with no lock between them: each side owns one of two
// ever-growing frame counters and only reads the other's. This is how the
// audio thread and the disk thread exchange sound without either waiting on
// the other.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace sound {

class Ring {
public:
    // Allocates room for `frames` frames. Only while neither side runs.
    // With `touch`, every page is written now, so that the audio thread
    // never takes a page fault on first use (once per allocation: the pages
    // stay mapped); otherwise pages the ring never reaches stay unmapped.
    void Reset(std::size_t frames, std::size_t frameBytes, bool touch = false)
    {
        if (frames * frameBytes != bytes_) {
            buffer_.reset(new std::uint8_t[frames * frameBytes]);
            bytes_ = frames * frameBytes;
            touched_ = false;
        }
        if (touch && !std::exchange(touched_, true))
            std::memset(buffer_.get(), 0, bytes_);
        capacity_ = frames;
        frameBytes_ = frameBytes;
        Clear();
    }
    // Empties the ring. Only while neither side runs.
    void Clear()
    {
        read_.store(0, std::memory_order_relaxed);
        written_.store(0, std::memory_order_release);
    }

    std::size_t Readable() const
    {
        return static_cast<std::size_t>(written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed));
    }
    std::size_t Writable() const
    {
        return capacity_ - static_cast<std::size_t>(written_.load(std::memory_order_relaxed) -
                                                    read_.load(std::memory_order_acquire));
    }
    // Frames written and read since the last Clear.
    std::uint64_t Written() const { return written_.load(std::memory_order_acquire); }
    std::uint64_t Read() const { return read_.load(std::memory_order_acquire); }

    // Producer: copies in up to `frames` frames; returns how many.
    std::size_t Write(const std::uint8_t* data, std::size_t frames)
    {
        frames = std::min(frames, Writable());
        const std::uint64_t at = written_.load(std::memory_order_relaxed);
        Copy(at, frames, [&](std::uint8_t* ring, std::size_t offset, std::size_t bytes) {
            std::memcpy(ring, data + offset, bytes);
        });
        written_.store(at + frames, std::memory_order_release);
        return frames;
    }
    // Consumer: copies out up to `frames` frames; returns how many.
    std::size_t Read(std::uint8_t* data, std::size_t frames)
    {
        frames = std::min(frames, Readable());
        const std::uint64_t at = read_.load(std::memory_order_relaxed);
        Copy(at, frames, [&](std::uint8_t* ring, std::size_t offset, std::size_t bytes) {
            std::memcpy(data + offset, ring, bytes);
        });
        read_.store(at + frames, std::memory_order_release);
        return frames;
    }

private:
    // Calls `copy` for the one or two stretches of the buffer that frames
    // [at, at + frames) occupy, with their byte offset into the caller's data.
    template <class F>
    void Copy(std::uint64_t at, std::size_t frames, F copy)
    {
        if (frames == 0)
            return;
        const std::size_t start = static_cast<std::size_t>(at % capacity_);
        const std::size_t first = std::min(frames, capacity_ - start);
        copy(buffer_.get() + start * frameBytes_, 0, first * frameBytes_);
        if (frames > first)
            copy(buffer_.get(), first * frameBytes_, (frames - first) * frameBytes_);
    }

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t bytes_ = 0, capacity_ = 0, frameBytes_ = 0;
    bool touched_ = false; // every page of buffer_ has been written
    alignas(64) std::atomic<std::uint64_t> read_{0};
    alignas(64) std::atomic<std::uint64_t> written_{0};
};

} // namespace sound
