// The module's end of its serial line: the master side of a pseudo-terminal,
// its slave side published as a symlink DIR/comN for a tool to open, and a
// wake-up that ends the service thread's waits. Not thread-safe but where
// noted; the simulator serialises its life.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace hv52sim {

class PtyLine
{
public:
    using Clock = std::chrono::steady_clock;

    PtyLine();
    ~PtyLine(); // closes the wake-up; close() first
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool hasWakeup() const { return m_wake[0] >= 0; }

    // A new pseudo-terminal, raw on both sides; its slave side stays open
    // here so the master side sees no hang-ups between a tool's opens.
    bool open(std::string *error);
    // Links link (in dir, which must exist) to the slave side, replacing a
    // stale symlink.
    bool createLink(const std::string &dir, const std::string &link, std::string *error);
    // Removes link if it still points at this pseudo-terminal.
    void removeLink(const std::string &link);
    void close();
    std::string device() const; // /dev/pts/N, "" when closed; thread-safe

    // The speed the master has set on the line, 0 when unknown or closed.
    int speed() const;
    static bool isStandardSpeed(int baud);

    // --- on the service thread ---
    enum class Ready {
        Nothing, // timed out or woken
        Data,    // bytes to read
        HangUp,  // no slave open
        Failed,
    };
    Ready wait(Clock::time_point deadline);
    // Bytes read (> 0), 0 when none were waiting, -1 when the line is broken.
    long read(uint8_t *data, size_t size);
    // All of bytes, but what a full buffer nobody reads cannot take.
    void write(const std::vector<uint8_t> &bytes);
    // To an absolute deadline: ends early (false) on stopWaits(), else close
    // to the deadline (tens of us).
    bool sleepUntil(Clock::time_point deadline);
    // Finer timer wake-ups for the calling thread.
    static void sharpenTimers();

    // Ends every wait at once, and every later one, until allowWaits().
    void stopWaits();
    bool waitsStopped() const { return m_stop; }
    void drainWakeup(); // once the waiting thread has ended
    void allowWaits() { m_stop = false; }

private:
    int m_master = -1;
    int m_heldSlave = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_deviceMu;
    std::string m_device;
};

} // namespace hv52sim
