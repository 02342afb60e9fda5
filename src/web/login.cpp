// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "login.h"

#include <QString>

#include <algorithm>
#include <exception>

#include <sodium.h>

namespace web {

namespace {

constexpr size_t kMaxSessions = 100;
// Addresses remembered before those with nothing to remember are forgotten.
constexpr size_t kRemembered = 4096;

} // namespace

std::string Sessions::Create()
{
    unsigned char bytes[32]; // 256 random bits
    randombytes_buf(bytes, sizeof bytes);
    const std::string token =
        QByteArray(reinterpret_cast<char *>(bytes), sizeof bytes).toHex().toStdString();
    const std::lock_guard<std::mutex> lock(mutex);
    if (sessions.size() >= kMaxSessions)
        sessions.erase(sessions.begin());
    sessions.push_back({token, Clock::now()});
    return token;
}

// Every session is compared in full and in constant time, so that timing tells nothing about
// how much of a guess was right.
bool Sessions::Valid(const std::string &token)
{
    const std::lock_guard<std::mutex> lock(mutex);
    const Clock::time_point now = Clock::now();
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [&](const Session &s) { return now - s.used > idle; }),
                   sessions.end());
    bool found = false;
    for (Session &session : sessions) {
        if (session.token.size() == token.size() &&
            sodium_memcmp(session.token.data(), token.data(), token.size()) == 0) {
            session.used = now;
            found = true;
        }
    }
    return found;
}

void Sessions::End(const std::string &token)
{
    const std::lock_guard<std::mutex> lock(mutex);
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [&token](const Session &s) { return s.token == token; }),
                   sessions.end());
}

std::string ClientAddress(const std::string &peer, const std::string &forwardedFor,
                          const QStringList &trustedProxies)
{
    if (forwardedFor.empty() || !trustedProxies.contains(QString::fromStdString(peer)))
        return peer;
    // Addresses a client wrote itself come first; the proxy appends the one it saw.
    const size_t comma = forwardedFor.rfind(',');
    std::string last = forwardedFor.substr(comma == std::string::npos ? 0 : comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    return last.empty() ? peer : last;
}

Attempt LoginGate::Begin(const std::string &address, const QByteArray &password,
                         std::function<void(bool right)> done)
{
    std::unique_lock<std::mutex> lock(mutex);
    const Clock::time_point now = Clock::now();
    if (addresses.size() > kRemembered)
        Forget(now);
    Address &mine = addresses[address];
    mine.failures.erase(std::remove_if(mine.failures.begin(), mine.failures.end(),
                                       [&](Clock::time_point t) { return now - t > window; }),
                        mine.failures.end());
    if (now < mine.blockedUntil || int(mine.failures.size()) + mine.underWay >= kMaxFailures)
        return Attempt::Blocked;
    ++mine.underWay;
    if (mine.waiting.empty())
        turns.push_back(address);
    mine.waiting.push_back({password, std::move(done)});
    // With a hash free, this thread hashes until no login waits; otherwise a thread hashing
    // already takes this login in its turn.
    if (hashing < kHashing)
        HashWaiting(lock);
    return Attempt::Taken;
}

void LoginGate::HashWaiting(std::unique_lock<std::mutex> &lock)
{
    ++hashing;
    while (!turns.empty()) {
        // The first address in turn gives one login, then goes to the back if it has more.
        const std::string address = std::move(turns.front());
        turns.pop_front();
        Waiting next = std::move(addresses[address].waiting.front());
        addresses[address].waiting.pop_front();
        if (!addresses[address].waiting.empty())
            turns.push_back(address);
        lock.unlock();
        const bool right = matches(next.password);
        lock.lock();
        Count(addresses[address], right);
        lock.unlock();
        // This thread may be another connection's: whatever goes wrong in answering this
        // login (memory, at worst) stays with it, which its deadline then closes, and never
        // leaves the gate one hasher short.
        try {
            next.done(right);
        } catch (const std::exception &) {
        }
        lock.lock();
    }
    --hashing;
}

void LoginGate::Count(Address &address, bool right)
{
    --address.underWay;
    if (right)
        return;
    const Clock::time_point now = Clock::now();
    address.failures.push_back(now);
    if (int(address.failures.size()) >= kMaxFailures) {
        address.blockedUntil = now + window;
        address.failures.clear();
    }
}

void LoginGate::Forget(Clock::time_point now)
{
    for (auto it = addresses.begin(); it != addresses.end();) {
        const Address &a = it->second;
        const bool recent = std::any_of(a.failures.begin(), a.failures.end(),
                                        [&](Clock::time_point t) { return now - t <= window; });
        it = a.underWay == 0 && !recent && now >= a.blockedUntil ? addresses.erase(it)
                                                                 : std::next(it);
    }
}

} // namespace web
