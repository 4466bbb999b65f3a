#pragma once

// Composite pictures on their way from the render thread to an encoder's
// worker, over a fixed pool of capacity + 2 buffers: one being filled, one
// being read and the queue's own. The producer copies each picture once into
// a free buffer, outside the lock; the consumer holds the buffer of the
// picture it took until it gives it back, so no buffer is written while it is
// read. Buffers are made ahead by prepare() or on first use, at the
// picture's size, and reused; nothing is allocated per picture. Overflow policy: the oldest waiting
// picture is dropped.
// One producer and one consumer at a time; every operation takes the lock
// only for the bookkeeping.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace lagwell {

class PictureQueue {
public:
    // A picture the consumer took; its bytes stay valid until release().
    struct Picture {
        int32_t slot = -1;
        const uint8_t* rgba = nullptr;  // packed rows, as given (bottom-up)
        int32_t width = 0;
        int32_t height = 0;
        int32_t strideBytes = 0;  // width x 4, or the shorter stride given
        int64_t ptsUs = 0;
    };

    enum class PushOutcome {
        Queued,
        QueuedDroppingOldest,  // the queue was full: its oldest picture went
        Refused,               // no buffer free (more than one producer)
    };

    explicit PictureQueue(size_t capacity);
    PictureQueue(const PictureQueue&) = delete;
    PictureQueue& operator=(const PictureQueue&) = delete;

    // Producer: copies `height` rows of width x 4 bytes, `sourceStrideBytes`
    // apart, packed into a pooled buffer and queues it. A stride shorter than
    // a row is kept, rows and all, so that the consumer can refuse it.
    PushOutcome push(const uint8_t* rgba, int32_t width, int32_t height, int64_t sourceStrideBytes, int64_t ptsUs);

    // Consumer: waits until a picture is queued, `deadline` passes or
    // interrupt() was called; true with the oldest picture, which the
    // consumer must release().
    bool take(std::chrono::steady_clock::time_point deadline, Picture* picture);
    void release(const Picture& picture);

    // take() returns at once, without a picture, until the next clear().
    void interrupt();

    // Consumer's thread, ahead of the pictures: makes (and touches) buffers
    // for `count` pictures of width x height, so the producer's first copies
    // take no page faults. Free buffers only; the producer is not held up.
    void prepare(int32_t width, int32_t height, size_t count);

    // Drops the waiting pictures; ends an interrupt().
    void clear();

    // Drops the waiting pictures and frees their buffers and the free ones;
    // a buffer being filled or read at that moment keeps its memory. Returns
    // how many pictures were dropped.
    size_t freeBuffers();

    size_t capacity() const { return m_capacity; }
    size_t queuedCount() const;

private:
    struct Slot {
        std::unique_ptr<uint8_t[]> bytes;
        size_t sizeBytes = 0;
        Picture picture;
    };

    int32_t popOldestLocked();
    void pushNewestLocked(int32_t slot);

    const size_t m_capacity;

    mutable std::mutex m_mutex;
    // guards: every field below, and each slot's bookkeeping (a slot's bytes
    // belong to whoever took it out of m_free or m_queued)
    std::condition_variable m_queuedCv;
    std::vector<Slot> m_slots;
    std::vector<int32_t> m_free;    // slots nobody uses; the last one is reused first
    std::vector<int32_t> m_queued;  // ring of waiting slots, oldest at m_head
    size_t m_head = 0;
    size_t m_count = 0;
    bool m_interrupted = false;
};

}  // namespace lagwell
