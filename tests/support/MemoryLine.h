#pragma once
// An in-memory serial line with simulated time. A scripted peer answers each
// written frame with chunks that arrive after chosen delays; reads follow the
// same total-deadline and inter-byte-silence rules as the real port, but the
// clock only moves on paper, so a 500 ms time-out costs nothing.

#include "link/SerialLine.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace zrvtest {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

struct Chunk {
    milliseconds delay{0};  // after the previous chunk (the first: after the write)
    Bytes bytes;
};

class MemoryLine : public zrv::SerialLine {
public:
    // Called with every frame written; returns what the peer sends back.
    std::function<std::vector<Chunk>(const Bytes&)> peer;

    std::vector<Bytes> written;  // every frame written, in order
    milliseconds now{0};         // the simulated clock
    milliseconds lastReadTook{0};
    int purges = 0;
    bool open = true;
    bool refuseWrites = false;
    bool carrierChange = false;  // reported (once) by the next event look
    std::vector<milliseconds> pauses;

    bool isOpen() const override { return open; }
    void purge() override
    {
        ++purges;
        m_pending.clear();
    }
    bool writeAll(const uint8_t* data, std::size_t length) override
    {
        if (!open || refuseWrites) return false;
        written.emplace_back(data, data + length);
        if (peer) {
            milliseconds at = now;
            for (auto& c : peer(written.back())) {
                at += c.delay;
                for (uint8_t b : c.bytes) m_pending.push_back({at, b});
            }
        }
        return true;
    }
    std::size_t readFor(uint8_t* buf, std::size_t capacity, milliseconds total, milliseconds silence) override
    {
        return read(buf, capacity, total, silence, nullptr);
    }
    std::size_t readFrame(uint8_t* buf, std::size_t capacity, milliseconds total, milliseconds silence,
                          const zrv::FrameEnd& end) override
    {
        ++frameReads;
        return read(buf, capacity, total, silence, &end);
    }
    std::size_t bytesQueued() override
    {
        std::size_t n = 0;
        for (auto& p : m_pending) n += p.at <= now;
        return n;
    }
    std::size_t readQueued(uint8_t* buf, std::size_t capacity) override
    {
        std::size_t got = 0;
        while (got < capacity && !m_pending.empty() && m_pending.front().at <= now) {
            buf[got++] = m_pending.front().byte;
            m_pending.pop_front();
        }
        return got;
    }
    zrv::LineEvents waitEvents(milliseconds wait) override
    {
        now += wait;
        const bool carrier = carrierChange;
        carrierChange = false;
        return {bytesQueued() > 0, carrier};
    }
    void pause(milliseconds time) override
    {
        pauses.push_back(time);
        now += time;
    }
    // Bytes that arrive from the peer at the current simulated time.
    void arrive(const Bytes& bytes)
    {
        for (uint8_t b : bytes) m_pending.push_back({now, b});
    }
    void close() override { open = false; }

    int frameReads = 0;  // reads that were told the frame's length

private:
    // Simulated time moves in microseconds here so that the 3.5-character
    // gap of a length-framed read is kept as exactly as the 50 ms silence.
    std::size_t read(uint8_t* buf, std::size_t capacity, milliseconds total, milliseconds silence,
                     const zrv::FrameEnd* frame)
    {
        using us = std::chrono::microseconds;
        const us start = nowUs(), deadline = start + us(total);
        std::size_t got = 0;
        us last{0};
        const auto quiet = [&] {
            return (frame && zrv::frameComplete(*frame, buf, got)) ? frame->gap : us(silence);
        };
        while (got < capacity && !m_pending.empty()) {
            const auto& p = m_pending.front();
            us until = deadline;
            if (got > 0 && last + quiet() < until) until = last + quiet();
            if (us(p.at) > until) break;
            last = std::max(us(p.at), start);
            buf[got++] = p.byte;
            m_pending.pop_front();
        }
        us end = deadline;
        if (got == capacity) end = last;
        else if (got > 0) end = std::min(deadline, last + quiet());
        setNowUs(end);
        lastReadTook = std::chrono::duration_cast<milliseconds>(nowUs() - start);
        lastReadTookUs = nowUs() - start;
        return got;
    }

public:
    std::chrono::microseconds nowUs() const { return std::chrono::microseconds(now) + m_subMs; }

private:
    void setNowUs(std::chrono::microseconds t)
    {
        now = std::chrono::duration_cast<milliseconds>(t);
        m_subMs = t - std::chrono::microseconds(now);
    }
    std::chrono::microseconds m_subMs{0};

public:
    std::chrono::microseconds lastReadTookUs{0};

private:
    struct Pending {
        milliseconds at;
        uint8_t byte;
    };
    std::deque<Pending> m_pending;
};

// A frame with its CRC appended, low-order CRC byte first as on the wire.
Bytes withCrc(Bytes frame);

}  // namespace zrvtest
