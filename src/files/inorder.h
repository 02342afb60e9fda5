// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QtGlobal>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace files {

// How many questions a scan keeps in flight at once on top of its own thread, once it found them
// slow. On a share every question to the file system is a round trip, which one thread waits for
// one after another: on a share that waited 1 ms on every call, the command line's preview of
// 2,000 folders took 41 s with none, 14 s with 4 at once, 9.6 s with 8, 8.8 s with 12, 8.9 s
// with 16 and 11.7 s with 30.
constexpr int ScanHelpers = 12;

// Questions answered sooner than this come from a local disk or its cache: there helpers only
// add hand-overs, and a scan of 100,000 folders took a third longer with them. Helpers start
// once most of the last 16 questions took longer: a single slow one is mostly a thread that lost
// its processor for a while, which on a busy machine happens every few milliseconds.
constexpr std::chrono::microseconds SlowQuestion{100};

// Calls ask(i, slot) for every i from 0 to count - 1, and take(i, slot) on the calling thread in
// the order of i, each right after ask(i, slot) has returned, with the same Slot. Asks run on the
// calling thread until they prove slow (SlowQuestion), then also on up to helpers threads of its
// own: ask may touch only what belongs to i and its slot. No more than four times helpers
// answers wait to be taken, so that memory stays bounded however large count is.
template<typename Slot, typename Ask, typename Take>
void InOrder(qsizetype count, int helpers, const Ask &ask, const Take &take)
{
    helpers = int(std::max<qsizetype>(0, std::min<qsizetype>(helpers, count - 1)));
    const qsizetype window = 4 * qsizetype(std::max(helpers, 1));
    std::vector<Slot> answers(window);
    std::vector<char> answered(window, false);
    std::mutex mutex;
    std::condition_variable claimable, ready;
    qsizetype next = 0;  // the first index no thread has claimed
    qsizetype taken = 0; // how many answers were taken
    bool stop = false;

    const auto help = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            claimable.wait(lock, [&] { return stop || next >= count || next < taken + window; });
            if (stop || next >= count)
                return;
            const qsizetype i = next++;
            lock.unlock();
            ask(i, answers[i % window]);
            lock.lock();
            answered[i % window] = true;
            ready.notify_one();
        }
    };
    std::vector<std::thread> threads;
    // Ends the helpers, even when take throws.
    struct Join
    {
        std::vector<std::thread> &threads;
        std::mutex &mutex;
        std::condition_variable &claimable;
        bool &stop;
        ~Join()
        {
            {
                std::lock_guard lock(mutex);
                stop = true;
            }
            claimable.notify_all();
            for (std::thread &thread : threads)
                thread.join();
        }
    } join{threads, mutex, claimable, stop};

    std::bitset<16> slow; // of the last asks made alone, the slow ones
    for (qsizetype i = 0; i < count; ++i) {
        Slot &slot = answers[i % window];
        std::unique_lock lock(mutex);
        if (next == i) { // no helper has it yet: waiting for one would only add a hand-over
            ++next;
            lock.unlock();
            const auto start = std::chrono::steady_clock::now();
            ask(i, slot);
            if (threads.size() < size_t(helpers)) {
                slow <<= 1;
                slow[0] = std::chrono::steady_clock::now() - start >= SlowQuestion;
                if (slow.count() > slow.size() / 2)
                    while (threads.size() < size_t(helpers))
                        threads.emplace_back(help);
            }
            lock.lock();
        } else {
            ready.wait(lock, [&] { return bool(answered[i % window]); });
        }
        answered[i % window] = false;
        lock.unlock();
        take(i, slot);
        lock.lock();
        ++taken;
        claimable.notify_one();
    }
}

} // namespace files
